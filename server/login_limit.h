// Failed password checks, counted so that guessing is slow and nobody can
// aim the counting at someone else: only a user's failures from one address
// refuse that pair's checks; the failures of an address (any user) and of a
// user (any address) only slow their checks down. Each key has a bucket of
// tokens that refills at a fixed rate, and a failure takes one. The buckets
// live in each instance of the service: they slow guessing down where it
// happens, and what must hold across instances (who logged in from where) is
// in the store.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace mirvo::server {

class token_buckets {
public:
    using time_point = std::chrono::steady_clock::time_point;

    // capacity tokens at most per key, one more every refill; at most
    // max_keys keys are tracked (full buckets are forgotten first).
    token_buckets(double capacity, std::chrono::duration<double> refill, std::size_t max_keys = 10000);

    // The tokens key has at now (a key never seen has a full bucket).
    double tokens(const std::string& key, time_point now);
    // True when key has a token left at now.
    bool has_token(const std::string& key, time_point now) { return tokens(key, now) >= 1.0; }
    // Takes a token from key (none below empty).
    void take(const std::string& key, time_point now);
    double capacity() const { return capacity_; }

private:
    struct bucket {
        double tokens;
        time_point updated;
    };
    bucket& refilled(const std::string& key, time_point now);
    void forget_full(time_point now);

    double capacity_;
    double per_second_;
    std::size_t max_keys_;
    std::unordered_map<std::string, bucket> buckets_;
};

struct login_limit_options {
    // Failures in a row of one user from one address; past them that pair's
    // checks are refused without hashing and answered as a wrong password.
    double per_pair = 10;
    std::chrono::duration<double> pair_refill{10.0};
    // Failures in a row from one address, and of one user name; past either,
    // a check waits slow_down (each) before it is hashed. Never a refusal:
    // that would let anyone lock a user out, or a school's one address.
    double per_address = 20;
    std::chrono::duration<double> address_refill{2.0};
    double per_user = 10;
    std::chrono::duration<double> user_refill{10.0};
    std::chrono::milliseconds slow_down{1000};
    // A pair that has failed at most this often lately still counts as clean.
    double clean_failures = 2;
};

class login_limiter {
public:
    explicit login_limiter(const login_limit_options& o);

    struct verdict {
        bool refused = false;  // the pair has failed too often: no check
        bool clean = false;    // the pair has (almost) never failed
        std::chrono::milliseconds delay{0};
    };
    // What a password check for user from address may do now. An empty
    // address (not known) has no bucket of its own.
    verdict judge(const std::string& address, const std::string& user);
    // A check failed: the pair, the address and the user pay.
    void failed(const std::string& address, const std::string& user);

private:
    static std::string pair_key(const std::string& address, const std::string& user);

    login_limit_options options_;
    std::mutex mutex_;
    token_buckets by_pair_;
    token_buckets by_address_;
    token_buckets by_user_;
};

}  // namespace mirvo::server
