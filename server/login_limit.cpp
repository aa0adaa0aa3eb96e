#include "server/login_limit.h"

#include <algorithm>

namespace mirvo::server {

token_buckets::token_buckets(double capacity, std::chrono::duration<double> refill, std::size_t max_keys)
    : capacity_(capacity), per_second_(refill.count() > 0 ? 1.0 / refill.count() : capacity), max_keys_(max_keys) {}

token_buckets::bucket& token_buckets::refilled(const std::string& key, time_point now) {
    auto it = buckets_.find(key);
    if (it == buckets_.end()) {
        if (buckets_.size() >= max_keys_) forget_full(now);
        return buckets_.emplace(key, bucket{capacity_, now}).first->second;
    }
    bucket& b = it->second;
    if (now > b.updated) {
        const double seconds = std::chrono::duration<double>(now - b.updated).count();
        b.tokens = std::min(capacity_, b.tokens + seconds * per_second_);
        b.updated = now;
    }
    return b;
}

void token_buckets::forget_full(time_point now) {
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        const double seconds = std::chrono::duration<double>(now - it->second.updated).count();
        if (it->second.tokens + seconds * per_second_ >= capacity_)
            it = buckets_.erase(it);
        else
            ++it;
    }
    // Still full: so many keys are failing at once that the table itself
    // would become the cost. Starting over forgives them all, which the other
    // sets of buckets still bound.
    if (buckets_.size() >= max_keys_) buckets_.clear();
}

double token_buckets::tokens(const std::string& key, time_point now) {
    // A key that never failed is not tracked: its bucket would be full.
    if (buckets_.find(key) == buckets_.end()) return capacity_;
    return refilled(key, now).tokens;
}

void token_buckets::take(const std::string& key, time_point now) {
    bucket& b = refilled(key, now);
    b.tokens = std::max(0.0, b.tokens - 1.0);
}

login_limiter::login_limiter(const login_limit_options& o)
    : options_(o),
      by_pair_(o.per_pair, o.pair_refill),
      by_address_(o.per_address, o.address_refill),
      by_user_(o.per_user, o.user_refill) {}

std::string login_limiter::pair_key(const std::string& address, const std::string& user) {
    std::string key = user;
    key += '\0';
    key += address;
    return key;
}

login_limiter::verdict login_limiter::judge(const std::string& address, const std::string& user) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    verdict v;
    const double pair_tokens = by_pair_.tokens(pair_key(address, user), now);
    v.refused = pair_tokens < 1.0;
    v.clean = pair_tokens >= by_pair_.capacity() - options_.clean_failures;
    if (!address.empty() && !by_address_.has_token(address, now)) v.delay += options_.slow_down;
    if (!by_user_.has_token(user, now)) v.delay += options_.slow_down;
    return v;
}

void login_limiter::failed(const std::string& address, const std::string& user) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    by_pair_.take(pair_key(address, user), now);
    if (!address.empty()) by_address_.take(address, now);
    by_user_.take(user, now);
}

}  // namespace mirvo::server
