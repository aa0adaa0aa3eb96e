#include "server/connection_slots.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace mirvo::server {
namespace {

using std::chrono::milliseconds;

// A queued reply is closed for a newcomer only once the peer is seen to
// leave it unread. Until the reply was looked at, or while the socket holds
// nothing for the peer (a busy worker has not written it yet), it is on its
// way: closing it then would drop an answer the service gave.
TEST(ConnectionSlots, OnlyRepliesThePeerLeavesUnreadMakeRoom) {
    slot_limits limits;
    limits.connections = 1;
    limits.per_network = 1;
    limits.min_share = 1;
    connection_slots slots(limits);
    const auto t0 = connection_slots::clock_type::now();
    std::vector<int> evict;
    ASSERT_EQ(slots.place("a", t0, evict), connection_slots::verdict::admit);
    slots.opened(10, "a", t0);
    slots.started(10);
    slots.request_started(10);
    slots.reply_queued(10, t0);
    auto evicts_10 = [&](connection_slots::clock_type::time_point at) {
        evict.clear();
        slots.place("b", at, evict);
        return std::find(evict.begin(), evict.end(), 10) != evict.end();
    };

    EXPECT_FALSE(evicts_10(t0 + milliseconds(400)));  // not looked at yet
    slots.reply_progress(10, 0, false, t0 + milliseconds(500));
    EXPECT_FALSE(evicts_10(t0 + milliseconds(600)));  // nothing waits on the peer
    slots.reply_progress(10, 0, true, t0 + milliseconds(1000));
    EXPECT_TRUE(evicts_10(t0 + milliseconds(1000)));  // the peer has stopped reading since 500 ms
}

}  // namespace
}  // namespace mirvo::server
