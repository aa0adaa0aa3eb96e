#include "server/log_writer.h"

#include "server/clock.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>

namespace mirvo::server {

namespace {

// A pipe takes a write of this size whole once it says it has room, so the
// writer never sits in a write that a stopped reader could hold forever.
constexpr std::size_t write_piece = 4096;
constexpr int poll_ms = 100;
constexpr auto flush_at_exit = std::chrono::seconds(1);

}  // namespace

struct log_writer::state {
    int fd;
    std::size_t max_queued;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::string> queue;
    std::uint64_t unreported = 0;  // dropped since the last note
    std::atomic<std::uint64_t> dropped{0};
    bool stopping = false;
    bool finished = false;
    std::chrono::steady_clock::time_point give_up_at{};

    // False when the stream is gone or the writer is to give up.
    bool write_all(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, poll_ms);
            if (ready < 0 && errno != EINTR) return false;
            if (ready <= 0) {
                std::lock_guard lock(mutex);
                if (stopping && std::chrono::steady_clock::now() >= give_up_at) return false;
                continue;
            }
            if (p.revents & (POLLERR | POLLNVAL)) return false;
            const std::size_t n = std::min(write_piece, bytes.size() - done);
            const ssize_t w = ::write(fd, bytes.data() + done, n);
            if (w < 0 && errno != EINTR && errno != EAGAIN) return false;
            if (w > 0) done += static_cast<std::size_t>(w);
        }
        return true;
    }

    void run() {
        // A reader that went away must not end the process.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        bool gone = false;
        std::unique_lock lock(mutex);
        while (true) {
            wake.wait(lock, [this] { return !queue.empty() || stopping; });
            if (queue.empty()) break;
            std::string batch;
            std::size_t lines = 0;
            while (!queue.empty() && batch.size() < 64 * 1024) {
                batch += queue.front();
                batch += '\n';
                queue.pop_front();
                ++lines;
            }
            lock.unlock();
            if (!gone && !write_all(batch)) gone = true;
            lock.lock();
            if (gone) {
                dropped += lines;
                if (stopping) break;
            }
        }
        finished = true;
        wake.notify_all();
    }
};

log_writer::log_writer(int fd, std::size_t max_queued) : state_(std::make_shared<state>()) {
    state_->fd = fd;
    state_->max_queued = std::max<std::size_t>(max_queued, 2);
    // The thread keeps the state alive if it has to be left behind.
    std::thread([s = state_] { s->run(); }).detach();
}

log_writer::~log_writer() {
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->give_up_at = std::chrono::steady_clock::now() + flush_at_exit;
    state_->wake.notify_all();
    state_->wake.wait_for(lock, flush_at_exit + std::chrono::milliseconds(4 * poll_ms),
                          [this] { return state_->finished; });
}

void log_writer::write(std::string line) {
    std::lock_guard lock(state_->mutex);
    // After a gap the line needs room for the note that tells of the gap.
    const std::size_t needed = state_->unreported ? 2 : 1;
    if (state_->queue.size() + needed > state_->max_queued) {
        ++state_->unreported;
        ++state_->dropped;
        return;
    }
    if (state_->unreported) {
        state_->queue.push_back(local_time_text(now_seconds(), true) +
                                " mirvo-server: " + std::to_string(state_->unreported) +
                                " log lines dropped: the log was not read fast enough");
        state_->unreported = 0;
    }
    state_->queue.push_back(std::move(line));
    state_->wake.notify_one();
}

std::uint64_t log_writer::dropped() const { return state_->dropped; }

}  // namespace mirvo::server
