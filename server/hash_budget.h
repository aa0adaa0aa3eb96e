// Password hashing on a budget: a fixed number of threads hash, the checks
// most likely to be real users' first, and only a short queue of the others
// waits; what does not fit is answered as a failed login without being
// hashed. So a flood of logins costs at most those threads, and requests that
// need no hashing keep their pace. Checks may also be asked to wait before
// they are hashed (a slow-down), which costs no thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace mirvo::server {

class hash_budget {
public:
    using clock_type = std::chrono::steady_clock;

    struct options {
        unsigned threads = 0;        // 0: half the processors, at least one
        std::size_t queue = 8;       // checks of the last lane that may wait to be hashed
        std::size_t waiting = 4096;  // checks waiting in all (their delay included)
    };
    // In the order they are hashed.
    enum class lane {
        known,  // a user from an address they logged in from before
        clean,  // a user name that exists, from an address that has not failed it
        other,  // the rest: names that do not exist, addresses that keep failing
    };
    // Called once: hash true on a hashing thread, or false when the check was
    // shed (then about as late as a hash would have taken, on any thread).
    using job = std::function<void(bool hash)>;

    explicit hash_budget(options o);
    // Jobs not yet run are called with false.
    ~hash_budget();
    hash_budget(const hash_budget&) = delete;
    hash_budget& operator=(const hash_budget&) = delete;

    // Runs j no earlier than not_before. Never calls j before returning.
    void submit(lane l, clock_type::time_point not_before, job j);

    unsigned threads() const { return static_cast<unsigned>(workers_.size()); }

private:
    struct timed {
        clock_type::time_point due;
        lane where;
        bool shed;
        job run;
    };
    void work();
    // Moves the jobs that are due into their lanes; what does not fit is shed.
    void promote(clock_type::time_point now);
    void shed_later(job j, clock_type::time_point now);
    std::size_t held() const;

    options options_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<timed> delayed_;  // a heap by due time
    std::deque<job> lanes_[3];
    std::deque<job> shed_now_;
    std::chrono::duration<double> typical_hash_{0.05};
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace mirvo::server
