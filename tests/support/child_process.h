// A program run as a child process for tests of a whole program: its standard
// output comes back through a pipe, its descriptor limit can be set for it
// alone, and it is ended when the object goes.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace mirvo::testing {

struct child_options {
    // RLIMIT_NOFILE of the child (soft, hard); 0 keeps what the test has.
    unsigned long nofile_soft = 0;
    unsigned long nofile_hard = 0;
    // Capacity of the output pipe in bytes; 0 keeps the system's default.
    int pipe_bytes = 0;
};

class child_process {
public:
    // Starts program with args (not through a shell); running() tells whether
    // that worked. Standard error stays the test's.
    child_process(const std::string& program, const std::vector<std::string>& args, const child_options& o = {});
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The next line the child writes (without its line end), waiting up to
    // seconds; nullopt when none came in time or the output ended.
    std::optional<std::string> read_line(double seconds);
    // Everything the child writes until it has been quiet for quiet_seconds
    // (or until seconds have passed), split into lines.
    std::vector<std::string> read_lines(double quiet_seconds, double seconds);
    // SIGTERM, then the exit status (-1 when it had to be killed after seconds).
    int stop(double seconds = 10);

private:
    bool fill(double seconds);

    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

}  // namespace mirvo::testing
