#include "server/connection_slots.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace mirvo::server {

namespace {

// A reply that moved on by less than this since the last look has stalled:
// a peer reading a byte now and then holds its slot as an idle one does.
constexpr std::uint64_t progress_bytes = 16 * 1024;
constexpr std::uint64_t unknown_acked = std::numeric_limits<std::uint64_t>::max();

std::string ipv4_network(const unsigned char* a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u", a[0], a[1], a[2]);
    return text;
}

}  // namespace

std::string network_of(const sockaddr* address) {
    if (!address) return {};
    if (address->sa_family == AF_INET)
        return ipv4_network(
            reinterpret_cast<const unsigned char*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr));
    if (address->sa_family != AF_INET6) return {};
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) return ipv4_network(a.s6_addr + 12);
    char text[40];
    std::snprintf(text, sizeof text, "%02x%02x:%02x%02x:%02x%02x:%02x%02x::/64", a.s6_addr[0], a.s6_addr[1],
                  a.s6_addr[2], a.s6_addr[3], a.s6_addr[4], a.s6_addr[5], a.s6_addr[6], a.s6_addr[7]);
    return text;
}

unsigned connection_slots::share() const {
    const unsigned total = std::max(1u, limits_.connections);
    const unsigned most = std::max(1u, std::min(limits_.per_network, total));
    const unsigned least = std::max(1u, std::min(limits_.min_share, most));
    const unsigned free = total - std::min(live_, total);
    return least + static_cast<unsigned>(static_cast<unsigned long long>(most - least) * free / total);
}

bool connection_slots::evictable(const entry& e, time_point now) const {
    // A reply not looked at yet may still be on its way out of this side.
    if (e.replying && e.acked == unknown_acked) return false;
    return e.started && !e.cut && !e.working && now - idle_mark(e) >= limits_.min_idle;
}

int connection_slots::longest_idle(const std::string& network, time_point now) const {
    const unsigned cap = share();
    int best = -1;
    bool best_over = false;
    time_point best_mark{};
    for (const auto& [fd, e] : entries_) {
        if (!evictable(e, now) || (!network.empty() && e.network != network)) continue;
        // Networks holding more than their share give way first.
        const auto held = per_network_.find(e.network);
        const bool over = network.empty() && held != per_network_.end() && held->second > cap;
        const time_point mark = idle_mark(e);
        if (best < 0 || (over && !best_over) || (over == best_over && mark < best_mark)) {
            best = fd;
            best_over = over;
            best_mark = mark;
        }
    }
    return best;
}

void connection_slots::cut(int fd) {
    auto it = entries_.find(fd);
    if (it == entries_.end() || it->second.cut) return;
    it->second.cut = true;
    --live_;
    auto held = per_network_.find(it->second.network);
    if (held != per_network_.end() && --held->second == 0) per_network_.erase(held);
}

connection_slots::verdict connection_slots::decide(const std::string& network, time_point now,
                                                   std::vector<int>& evict) {
    const auto held = per_network_.find(network);
    const unsigned count = held == per_network_.end() ? 0 : held->second;
    int room = -1;
    if (count >= share()) {
        // A network at its share makes room only from its own idle connections.
        room = longest_idle(network, now);
    } else if (live_ >= limits_.connections) {
        room = longest_idle({}, now);
    } else {
        return verdict::admit;
    }
    if (room < 0) return verdict::wait;
    cut(room);
    evict.push_back(room);
    return verdict::admit;
}

connection_slots::verdict connection_slots::place(const std::string& network, time_point now, std::vector<int>& evict) {
    // Those already waiting from the same network go first.
    const auto line = waiting_.find(network);
    verdict v = line != waiting_.end() && !line->second.empty() ? verdict::wait : decide(network, now, evict);
    if (v == verdict::wait && waiting_count_ >= limits_.waiting) v = verdict::refuse;
    return v;
}

void connection_slots::opened(int fd, const std::string& network, time_point now) {
    if (entries_.count(fd)) closed(fd);  // a stale entry of a number used again
    entries_[fd] = entry{network, now, false, false, now, unknown_acked, false};
    ++live_;
    ++per_network_[network];
}

void connection_slots::closed(int fd) {
    auto it = entries_.find(fd);
    if (it == entries_.end()) return;
    cut(fd);
    entries_.erase(it);
}

void connection_slots::started(int fd) {
    auto it = entries_.find(fd);
    if (it != entries_.end()) it->second.started = true;
}

void connection_slots::request_started(int fd) {
    auto it = entries_.find(fd);
    if (it != entries_.end()) it->second.working = true;
}

void connection_slots::reply_queued(int fd, time_point now) {
    auto it = entries_.find(fd);
    if (it == entries_.end()) return;
    it->second.working = false;
    it->second.replying = true;
    it->second.progress_at = now;
    it->second.acked = unknown_acked;
}

void connection_slots::request_done(int fd, time_point now) {
    auto it = entries_.find(fd);
    if (it == entries_.end()) return;
    it->second.working = it->second.replying = false;
    it->second.idle_since = now;
}

void connection_slots::reply_progress(int fd, std::uint64_t acked, bool peer_holds_bytes, time_point now) {
    auto it = entries_.find(fd);
    if (it == entries_.end() || !it->second.replying) return;
    entry& e = it->second;
    if (!peer_holds_bytes) {
        e.acked = acked;
        e.progress_at = now;
    } else if (e.acked == unknown_acked) {
        e.acked = acked;
    } else if (acked >= e.acked + progress_bytes) {
        e.acked = acked;
        e.progress_at = now;
    }
}

std::vector<int> connection_slots::replying() const {
    std::vector<int> out;
    for (const auto& [fd, e] : entries_)
        if (e.replying && !e.cut) out.push_back(fd);
    return out;
}

std::vector<int> connection_slots::overdue(time_point now) {
    std::vector<int> out;
    for (auto& [fd, e] : entries_)
        if (e.started && !e.cut && !e.working && !e.replying && now - e.idle_since >= limits_.head_deadline)
            out.push_back(fd);
    for (int fd : out) cut(fd);
    return out;
}

bool connection_slots::wait(waiting_peer peer) {
    if (waiting_count_ >= limits_.waiting) return false;
    const std::string network = peer.network;
    waiting_[network].push_back(std::move(peer));
    ++waiting_count_;
    return true;
}

void connection_slots::release(time_point now, std::vector<waiting_peer>& admitted, std::vector<waiting_peer>& expired,
                               std::vector<int>& evict) {
    for (auto& [network, line] : waiting_) {
        while (!line.empty() && now - line.front().since >= limits_.wait_limit) {
            expired.push_back(std::move(line.front()));
            line.pop_front();
            --waiting_count_;
        }
    }
    // One connection per network and round, so that a crowd behind one
    // network does not take every slot that frees.
    bool moved = true;
    while (moved && waiting_count_ > 0) {
        moved = false;
        auto it = waiting_.upper_bound(next_waiting_);
        for (std::size_t n = waiting_.size(); n > 0; --n) {
            if (it == waiting_.end()) it = waiting_.begin();
            auto& [network, line] = *it;
            if (!line.empty() && decide(network, now, evict) == verdict::admit) {
                waiting_peer peer = std::move(line.front());
                line.pop_front();
                --waiting_count_;
                opened(peer.fd, network, now);
                admitted.push_back(std::move(peer));
                next_waiting_ = network;
                moved = true;
            }
            ++it;
        }
    }
    for (auto it = waiting_.begin(); it != waiting_.end();)
        it = it->second.empty() ? waiting_.erase(it) : std::next(it);
}

std::vector<connection_slots::waiting_peer> connection_slots::take_waiting() {
    std::vector<waiting_peer> out;
    for (auto& [network, line] : waiting_)
        for (auto& peer : line) out.push_back(std::move(peer));
    waiting_.clear();
    waiting_count_ = 0;
    return out;
}

}  // namespace mirvo::server
