// The service on the wire: cpp-httplib on one address, every request handed
// to the service, one log line per request.
#pragma once

#include "server/service.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace mirvo::server {

class http_server {
public:
    // log receives one line per request (without line end); may be empty.
    http_server(service& svc, std::function<void(const std::string&)> log);
    ~http_server();
    http_server(const http_server&) = delete;
    http_server& operator=(const http_server&) = delete;

    // Binds address:port (port 0 picks a free one). Returns the bound port or -1.
    int bind(const std::string& address, int port);
    // Serves until stop(); run() blocks, start() serves on a thread of its own.
    bool run();
    void start();
    void stop();

private:
    service& svc_;
    std::function<void(const std::string&)> log_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<bool> listening_done_{false};
    int listen_socket_ = -1;
};

// A request target as it may be written to a log: password values masked,
// bytes outside printable ASCII as %XX.
std::string loggable_target(std::string_view target);

// One log line: "remote method target status sizeB time". started is when the
// service took the request; without it the request never reached the service
// (the HTTP layer refused it), unknown fields are "-" and the line says why.
std::string log_line(const std::string& remote, const std::string& method, const std::string& target, int status,
                     std::size_t bytes, std::optional<std::chrono::steady_clock::time_point> started);

}  // namespace mirvo::server
