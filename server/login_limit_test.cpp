#include "server/login_limit.h"

#include <gtest/gtest.h>

namespace mirvo::server {
namespace {

using namespace std::chrono_literals;

TEST(TokenBuckets, FailuresEmptyABucketThatRefillsWithTime) {
    token_buckets b(3, 2s);
    const auto t0 = std::chrono::steady_clock::time_point{} + 1000s;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(b.has_token("a", t0));
        b.take("a", t0);
    }
    EXPECT_FALSE(b.has_token("a", t0));
    EXPECT_TRUE(b.has_token("b", t0));  // keys are apart
    EXPECT_FALSE(b.has_token("a", t0 + 1900ms));
    EXPECT_TRUE(b.has_token("a", t0 + 2s));
    b.take("a", t0 + 2s);
    EXPECT_FALSE(b.has_token("a", t0 + 2s));
    // Refills stop at the capacity, however long the pause.
    for (int i = 0; i < 3; ++i) b.take("a", t0 + 1000s);
    EXPECT_FALSE(b.has_token("a", t0 + 1000s));
}

TEST(TokenBuckets, TrackedKeysAreBounded) {
    token_buckets b(2, 10s, 100);
    const auto t0 = std::chrono::steady_clock::time_point{} + 1000s;
    b.take("victim", t0);
    b.take("victim", t0);
    for (int i = 0; i < 99; ++i) b.take("old" + std::to_string(i), t0 - 100s);
    // The table is full: keys that have refilled since make room, a key
    // that is still empty stays.
    b.take("new", t0);
    EXPECT_FALSE(b.has_token("victim", t0));
    // A table full of failing keys starts over rather than growing.
    for (int i = 0; i < 100; ++i) {
        b.take("flood" + std::to_string(i), t0);
        b.take("flood" + std::to_string(i), t0);
    }
    EXPECT_TRUE(b.has_token("victim", t0));
}

TEST(LoginLimiter, AnEmptyAddressOrUserBucketRefusesChecks) {
    login_limit_options o;
    o.per_address = 3;
    o.per_user = 2;
    login_limiter l(o);
    l.failed("10.0.0.1", "alice");
    l.failed("10.0.0.1", "alice");
    EXPECT_FALSE(l.may_check("10.0.0.2", "alice"));  // the user, from anywhere
    EXPECT_TRUE(l.may_check("10.0.0.1", "bob"));
    l.failed("10.0.0.1", "bob");
    EXPECT_FALSE(l.may_check("10.0.0.1", "carol"));  // the address, for anyone
    EXPECT_TRUE(l.may_check("10.0.0.2", "carol"));
    EXPECT_TRUE(l.may_check("", "carol"));  // no address known: only the user counts
}

}  // namespace
}  // namespace mirvo::server
