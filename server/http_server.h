// The service on the wire: libmicrohttpd (epoll, a small pool of threads) on
// one address, every request handed to the service, one log line per request.
// Idle and slow peers cost a descriptor, not a worker; the limits below keep
// what one peer or all of them together can hold.
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

namespace mirvo::server {

struct http_limits {
    unsigned max_connections = 2000;  // open connections in all
    unsigned max_per_address = 200;   // open connections from one address
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
    // Both return false when serving could not begin.
    bool run();
    bool start();
    void stop();

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
// (keys compared after percent-decoding, as the service reads them), bytes
// outside printable ASCII as %XX.
std::string loggable_target(std::string_view target);

// One log line: "remote method target status sizeB time". started is when the
// service took the request; without it the request never reached the service
// (the HTTP layer refused it), unknown fields are "-" and the line says why.
std::string log_line(const std::string& remote, const std::string& method, const std::string& target, int status,
                     std::size_t bytes, std::optional<std::chrono::steady_clock::time_point> started);

}  // namespace mirvo::server
