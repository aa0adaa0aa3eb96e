#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace mirvo::testing {

namespace {

using clock_type = std::chrono::steady_clock;

clock_type::time_point after(double seconds) {
    return clock_type::now() + std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(seconds));
}

int milliseconds_left(clock_type::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock_type::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

child_process::child_process(const std::string& program, const std::vector<std::string>& args, const child_options& o) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    if (o.pipe_bytes > 0) fcntl(fds[0], F_SETPIPE_SZ, o.pipe_bytes);
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Only async-signal-safe calls between fork and exec: the test has threads.
    const pid_t pid = fork();
    if (pid == 0) {
        if (o.nofile_soft > 0) {
            rlimit r{o.nofile_soft, o.nofile_hard > 0 ? o.nofile_hard : o.nofile_soft};
            if (setrlimit(RLIMIT_NOFILE, &r) != 0) _exit(126);
        }
        if (dup2(fds[1], STDOUT_FILENO) < 0) _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return;
    }
    pid_ = pid;
    out_ = fds[0];
}

child_process::~child_process() {
    stop(5);
    if (out_ >= 0) close(out_);
}

bool child_process::fill(double seconds) {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) return false;
    char buf[65536];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    pending_.append(buf, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> child_process::read_line(double seconds) {
    const auto end = after(seconds);
    std::size_t nl;
    while ((nl = pending_.find('\n')) == std::string::npos) {
        const int left = milliseconds_left(end);
        if (left == 0 || !fill(left / 1000.0)) return std::nullopt;
    }
    std::string line = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    return line;
}

std::vector<std::string> child_process::read_lines(double quiet_seconds, double seconds) {
    const auto end = after(seconds);
    while (milliseconds_left(end) > 0 && fill(std::min(quiet_seconds, milliseconds_left(end) / 1000.0))) {
    }
    std::vector<std::string> lines;
    std::size_t nl;
    while ((nl = pending_.find('\n')) != std::string::npos) {
        lines.push_back(pending_.substr(0, nl));
        pending_.erase(0, nl + 1);
    }
    return lines;
}

int child_process::stop(double seconds) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    const auto end = after(seconds);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (milliseconds_left(end) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        // The child may be blocked writing to the pipe: keep reading it.
        if (!fill(0.02)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace mirvo::testing
