// The service on the wire: libmicrohttpd (epoll, a small pool of threads) on
// one address, every request handed to the service, one log line per request.
// Idle and slow peers cost a descriptor, not a worker; the service accepts
// connections itself, so that slots go to those who use them (see
// connection_slots.h) and nobody waits unanswered in the listen queue.
#pragma once

#include "server/service.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirvo::server {

struct http_limits {
    // Open connections in all; fewer when the descriptors do not suffice for
    // each to send a file.
    unsigned max_connections = 2000;
    // Open connections from one network (an IPv4 /24, an IPv6 /64) while the
    // service is empty; the share shrinks as it fills, to min_share.
    unsigned max_per_address = 200;
    unsigned min_share = 8;
    // A connection that finds no slot waits this long for one (with others,
    // up to an eighth of max_connections), then gets 503 with Retry-After.
    std::chrono::milliseconds slot_wait{10000};
    // An idle connection may be closed for a new one once idle this long.
    std::chrono::milliseconds min_idle{250};
    // A request head must be complete this long after its connection became
    // ready for it (accepted, or its previous reply sent). A peer that
    // trickles its head, or keeps a connection open without asking, is cut.
    std::chrono::milliseconds head_deadline{5000};
    // A connection without any traffic for this long is closed (a peer that
    // stops reading its reply).
    unsigned stall_seconds = 10;
    std::size_t max_header_fields = 100;
    // Buffer of one connection; the whole request head has to fit in it, so
    // it also caps the head's size.
    std::size_t connection_memory = 16 * 1024;
    unsigned threads = 4;  // each waits on its own connections with epoll
    // Addresses of fronts (nginx) that pass each client's address on in
    // X-Real-IP. A request from one of them counts as coming from that
    // address (for the login limits, the good logins and the log); the
    // header of anyone else is ignored. A front's connections carry many
    // clients, so no share of one network holds them back.
    std::vector<std::string> trusted_fronts;
};

class http_server {
public:
    // log receives one line per request (without line end); may be empty.
    http_server(service& svc, std::function<void(const std::string&)> log, http_limits limits = {});
    ~http_server();
    http_server(const http_server&) = delete;
    http_server& operator=(const http_server&) = delete;

    // Binds address:port (port 0 picks a free one). Returns the bound port or -1.
    int bind(const std::string& address, int port);
    // Serves until stop(); run() blocks, start() serves on threads of its own.
    // Both return false when serving could not begin. Starting raises the
    // process's descriptor limit to its hard limit.
    bool run();
    bool start();
    void stop();

    // Once started: connections served at once, and the descriptor limit
    // they were sized by.
    unsigned connection_limit() const;
    unsigned long descriptor_limit() const;

    struct engine;

private:
    std::unique_ptr<engine> engine_;
};

// What a Range header asks of a file of size bytes. One range is served as
// asked; several ranges, or a header that cannot be read, get the whole file
// (so no request can make a reply larger than the file); a single range that
// starts past the end cannot be satisfied (416).
struct byte_range {
    enum kind_type { whole, part, unsatisfiable };
    kind_type kind = whole;
    std::uint64_t first = 0;
    std::uint64_t length = 0;  // for part
};
byte_range requested_range(std::string_view header, std::uint64_t size);

// A request target as it may be written to a log: password values masked
// (keys compared after percent-decoding, as the service reads them), values
// cut to their first 200 bytes (a suggestion's text, say), bytes outside
// printable ASCII as %XX.
std::string loggable_target(std::string_view target);

// One log line: "remote method target status sizeB time". started is when the
// service took the request; without it the request never reached the service
// (the HTTP layer refused it), unknown fields are "-" and the line says why
// (why, or a reason read from the status). note, when given, ends the line.
std::string log_line(const std::string& remote, const std::string& method, const std::string& target, int status,
                     std::size_t bytes, std::optional<std::chrono::steady_clock::time_point> started,
                     const std::string& why = {}, const std::string& note = {});

}  // namespace mirvo::server
