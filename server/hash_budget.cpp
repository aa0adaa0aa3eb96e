#include "server/hash_budget.h"

#include <algorithm>

namespace mirvo::server {

namespace {

// Orders the delayed jobs as a heap with the earliest due on top.
constexpr auto later_first = [](const auto& a, const auto& b) { return a.due > b.due; };

}  // namespace

hash_budget::hash_budget(options o) : options_(o) {
    unsigned n = options_.threads;
    if (n == 0) n = std::max(1u, std::thread::hardware_concurrency() / 2);
    for (unsigned i = 0; i < n; ++i) workers_.emplace_back([this] { work(); });
}

hash_budget::~hash_budget() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
    std::vector<job> left;
    for (auto& t : delayed_) left.push_back(std::move(t.run));
    for (auto& l : lanes_)
        for (auto& j : l) left.push_back(std::move(j));
    for (auto& j : shed_now_) left.push_back(std::move(j));
    for (auto& j : left) j(false);
}

std::size_t hash_budget::held() const {
    return delayed_.size() + lanes_[0].size() + lanes_[1].size() + lanes_[2].size() + shed_now_.size();
}

void hash_budget::submit(lane l, clock_type::time_point not_before, job j) {
    {
        std::lock_guard lock(mutex_);
        if (held() >= options_.waiting) {
            shed_now_.push_back(std::move(j));
        } else {
            delayed_.push_back({not_before, l, false, std::move(j)});
            std::push_heap(delayed_.begin(), delayed_.end(), later_first);
        }
    }
    wake_.notify_one();
}

void hash_budget::shed_later(job j, clock_type::time_point now) {
    // Answered about when a hash would have been, so that a shed check does
    // not tell itself apart by its speed.
    delayed_.push_back(
        {now + std::chrono::duration_cast<clock_type::duration>(typical_hash_), lane::other, true, std::move(j)});
    std::push_heap(delayed_.begin(), delayed_.end(), later_first);
}

void hash_budget::promote(clock_type::time_point now) {
    while (!delayed_.empty() && delayed_.front().due <= now) {
        std::pop_heap(delayed_.begin(), delayed_.end(), later_first);
        timed t = std::move(delayed_.back());
        delayed_.pop_back();
        if (t.shed) {
            shed_now_.push_back(std::move(t.run));
        } else if (t.where == lane::other && lanes_[2].size() >= options_.queue) {
            shed_later(std::move(t.run), now);
        } else {
            lanes_[static_cast<int>(t.where)].push_back(std::move(t.run));
        }
    }
}

void hash_budget::work() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const auto now = clock_type::now();
        promote(now);
        job j;
        bool hash = false;
        if (!shed_now_.empty()) {
            j = std::move(shed_now_.front());
            shed_now_.pop_front();
        } else {
            for (auto& l : lanes_) {
                if (l.empty()) continue;
                j = std::move(l.front());
                l.pop_front();
                hash = true;
                break;
            }
        }
        if (j) {
            lock.unlock();
            const auto started = clock_type::now();
            j(hash);
            const auto took = clock_type::now() - started;
            lock.lock();
            if (hash) typical_hash_ = typical_hash_ * 0.9 + std::chrono::duration<double>(took) * 0.1;
            continue;
        }
        if (delayed_.empty()) {
            wake_.wait(lock);
        } else {
            // A copy: the heap may grow (and move) while this thread sleeps.
            const clock_type::time_point due = delayed_.front().due;
            wake_.wait_until(lock, due);
        }
    }
}

}  // namespace mirvo::server
