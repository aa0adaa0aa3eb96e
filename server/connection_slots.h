// Who holds the service's connection slots and who gets the next one. Slots
// go to those who use them: when the service is full the longest-idle
// connections make room (a kept-alive connection between requests, a head
// still being trickled, a reply the peer has stopped reading), and the share
// one network (an IPv4 /24, an IPv6 /64) may hold shrinks as the service
// fills. A connection that cannot have a slot yet waits for one, for a while;
// only then is it refused. Not thread-safe: the HTTP layer holds its lock.
// Each instance of the service keeps its own table: connections belong to
// the instance they reached.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace mirvo::server {

struct slot_limits {
    unsigned connections = 2000;                  // served at once
    unsigned per_network = 200;                   // the share of one network while the service is empty...
    unsigned min_share = 8;                       // ...and while it is full
    unsigned waiting = 250;                       // connections waiting for a slot, in all
    std::chrono::milliseconds wait_limit{10000};  // then they are refused
    // Idle for less than this a connection is not closed for others: it may
    // be between two requests of a busy client.
    std::chrono::milliseconds min_idle{250};
    // A request head must be complete this long after its connection became
    // ready for it; past it the connection is cut whether or not it is needed.
    std::chrono::milliseconds head_deadline{5000};
};

// The network a peer's address belongs to, as the text shares are kept under.
std::string network_of(const sockaddr* address);

class connection_slots {
public:
    using clock_type = std::chrono::steady_clock;
    using time_point = clock_type::time_point;

    explicit connection_slots(slot_limits limits) : limits_(limits) {}

    enum class verdict { admit, wait, refuse };
    // Where a new connection from network goes. Connections that make room
    // for it are put in evict (marked cut: their sockets are to be shut).
    verdict place(const std::string& network, time_point now, std::vector<int>& evict);

    // A connection given a slot, from its acceptance to its close.
    void opened(int fd, const std::string& network, time_point now);
    void closed(int fd);
    // The HTTP engine has taken the connection up.
    void started(int fd);
    // Its request head is complete: it is working, not idle.
    void request_started(int fd);
    // A reply is queued; it counts as idle again while the reply stalls.
    void reply_queued(int fd, time_point now);
    // The reply went out: idle again, waiting for the next head.
    void request_done(int fd, time_point now);
    // acked: bytes the peer has taken so far; enough of them since the last
    // mark count as the reply moving on. peer_holds_bytes: the socket has
    // bytes the peer has not taken yet. When it has none, the reply waits on
    // this side (its worker has not written it yet): that is no stall of the
    // peer's, and it counts as moving on.
    void reply_progress(int fd, std::uint64_t acked, bool peer_holds_bytes, time_point now);
    std::vector<int> replying() const;
    // Connections past the head deadline: marked cut, to be shut.
    std::vector<int> overdue(time_point now);

    struct waiting_peer {
        int fd = -1;
        std::string network;
        std::string remote;
        sockaddr_storage address{};
        socklen_t address_length = 0;
        time_point since;
    };
    // A connection that cannot have a slot yet; false when too many wait.
    bool wait(waiting_peer peer);
    // Waiting connections that have a slot now (with connections evicted for
    // them), and those whose wait ran out (removed, to be refused).
    void release(time_point now, std::vector<waiting_peer>& admitted, std::vector<waiting_peer>& expired,
                 std::vector<int>& evict);
    // Every waiting connection, removed (the service stops).
    std::vector<waiting_peer> take_waiting();
    bool anyone_waiting() const { return waiting_count_ > 0; }

    // Connections holding a slot (cut ones excluded) and the current share
    // of one network.
    unsigned live() const { return live_; }
    unsigned share() const;
    const slot_limits& limits() const { return limits_; }

private:
    struct entry {
        std::string network;
        time_point idle_since;  // accepted, or its last reply sent
        bool working = false;   // a head complete, no reply queued yet
        bool replying = false;
        time_point progress_at;  // replying: last time the reply moved on
        std::uint64_t acked = 0;
        bool cut = false;
        // Handed to the engine and taken up by it. Until then its socket is
        // left alone: shut before the engine took it up, a connection can
        // leave the engine locked up (this version of it).
        bool started = false;
    };
    bool evictable(const entry& e, time_point now) const;
    time_point idle_mark(const entry& e) const { return e.replying ? e.progress_at : e.idle_since; }
    // The longest-idle evictable connection, of network (when not empty) or
    // preferring networks over their share; -1 when none.
    int longest_idle(const std::string& network, time_point now) const;
    void cut(int fd);
    verdict decide(const std::string& network, time_point now, std::vector<int>& evict);

    slot_limits limits_;
    std::unordered_map<int, entry> entries_;
    std::unordered_map<std::string, unsigned> per_network_;  // live connections
    unsigned live_ = 0;
    std::map<std::string, std::deque<waiting_peer>> waiting_;
    unsigned waiting_count_ = 0;
    std::string next_waiting_;  // where the round over the waiting networks goes on
};

}  // namespace mirvo::server
