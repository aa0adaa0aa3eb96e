// Failed password checks limited per address and per user, so that password
// hashing cannot be used to starve the service: each key has a bucket of
// tokens that refills at a fixed rate, and a failure takes one.
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

    // True when key has a token left at now.
    bool has_token(const std::string& key, time_point now);
    // Takes a token from key (none below empty).
    void take(const std::string& key, time_point now);

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
    double per_address = 20;  // failures in a row from one address
    std::chrono::duration<double> address_refill{2.0};
    double per_user = 10;  // failures in a row for one user name
    std::chrono::duration<double> user_refill{10.0};
};

// The service's two sets of buckets behind one lock. An empty address (not
// known) is not limited by address.
class login_limiter {
public:
    explicit login_limiter(const login_limit_options& o);

    // True when a password check for user from address may be made now.
    bool may_check(const std::string& address, const std::string& user);
    // A check failed: both buckets pay.
    void failed(const std::string& address, const std::string& user);

private:
    std::mutex mutex_;
    token_buckets by_address_;
    token_buckets by_user_;
};

}  // namespace mirvo::server
