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

// Only a user's own failures from one address refuse that pair; those of an
// address (any user) or of a user (any address) slow checks down, never
// refuse them.
TEST(LoginLimiter, OnlyAPairsOwnFailuresRefuseIt) {
    login_limit_options o;
    o.per_pair = 3;
    o.clean_failures = 1;
    o.per_address = 4;
    o.per_user = 5;
    o.slow_down = 700ms;
    login_limiter l(o);
    l.failed("10.0.0.1", "alice");
    EXPECT_TRUE(l.judge("10.0.0.1", "alice").clean);  // a mistyped password
    l.failed("10.0.0.1", "alice");
    EXPECT_FALSE(l.judge("10.0.0.1", "alice").clean);
    EXPECT_FALSE(l.judge("10.0.0.1", "alice").refused);
    l.failed("10.0.0.1", "alice");
    EXPECT_TRUE(l.judge("10.0.0.1", "alice").refused);
    EXPECT_FALSE(l.judge("10.0.0.2", "alice").refused);  // the same user elsewhere
    EXPECT_EQ(l.judge("10.0.0.2", "alice").delay, 0ms);

    l.failed("10.0.0.1", "bob");  // the address's fourth failure
    const login_limiter::verdict carol = l.judge("10.0.0.1", "carol");
    EXPECT_FALSE(carol.refused);
    EXPECT_TRUE(carol.clean);
    EXPECT_EQ(carol.delay, 700ms);  // the address, for anyone

    for (const char* from : {"10.0.0.3", "10.0.0.4"}) l.failed(from, "alice");  // the user's fifth failure
    const login_limiter::verdict alice = l.judge("10.0.0.5", "alice");
    EXPECT_FALSE(alice.refused);
    EXPECT_EQ(alice.delay, 700ms);  // the user, from anywhere
    EXPECT_EQ(l.judge("10.0.0.1", "alice").delay, 1400ms);
    EXPECT_EQ(l.judge("", "dave").delay, 0ms);  // no address known: only the user counts
}

}  // namespace
}  // namespace mirvo::server
