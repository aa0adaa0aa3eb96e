#include "server/http_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <optional>

namespace mirvo::server {

namespace {

// Every open connection holds a worker while it waits for its next request,
// so the pool is sized well above the clients expected at once, and a
// connection that says nothing is let go quickly: a handful of silent peers
// must not keep everybody else waiting.
constexpr int worker_threads = 64;
constexpr int keep_alive_seconds = 2;    // wait for the first or next request on a connection
constexpr int read_timeout_seconds = 3;  // a peer that stalls within a request is dropped
constexpr int write_timeout_seconds = 5;
constexpr int listen_backlog = 512;

thread_local std::optional<std::chrono::steady_clock::time_point> request_started;

}  // namespace

std::string loggable_target(std::string_view target) {
    std::string masked;
    masked.reserve(target.size());
    std::size_t i = 0;
    while (i < target.size()) {
        bool masked_here = false;
        for (std::string_view key : {"password=", "pw="}) {
            bool at_key_start = i == 0 || target[i - 1] == '?' || target[i - 1] == '&';
            if (at_key_start && target.substr(i, key.size()) == key) {
                masked += key;
                masked += "***";
                i += key.size();
                while (i < target.size() && target[i] != '&') ++i;
                masked_here = true;
                break;
            }
        }
        if (masked_here) continue;
        unsigned char c = static_cast<unsigned char>(target[i]);
        if (c < 0x21 || c > 0x7e) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            masked += buf;
        } else {
            masked += static_cast<char>(c);
        }
        ++i;
    }
    return masked;
}

std::string log_line(const std::string& remote, const std::string& method, const std::string& target, int status,
                     std::size_t bytes, std::optional<std::chrono::steady_clock::time_point> started) {
    char tail[64];
    if (started) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - *started).count();
        std::snprintf(tail, sizeof tail, " %d %zuB %.2fms", status, bytes, ms);
    } else {
        std::snprintf(tail, sizeof tail, " %d %zuB -", status, bytes);
    }
    std::string line = (remote.empty() ? "-" : remote) + " " + (method.empty() ? "-" : method) + " " +
                       (target.empty() ? "-" : loggable_target(target)) + tail;
    // The HTTP layer answers some requests itself before it has read their
    // request line (or while it cannot make sense of it); such a line says so,
    // so that it is not taken for a request the service answered.
    if (!started) {
        const char* why = status == 414   ? "request line too long"
                          : status == 413 ? "request body too large"
                          : status == 400 ? "malformed request"
                                          : "refused by the HTTP layer";
        line += " (not handled: ";
        line += why;
        line += ")";
    }
    return line;
}

http_server::http_server(service& svc, std::function<void(const std::string&)> log)
    : svc_(svc), log_(std::move(log)), server_(std::make_unique<httplib::Server>()) {
    auto& s = *server_;
    s.new_task_queue = [] { return new httplib::ThreadPool(worker_threads); };
    s.set_read_timeout(read_timeout_seconds, 0);
    s.set_write_timeout(write_timeout_seconds, 0);
    s.set_keep_alive_max_count(100);
    s.set_keep_alive_timeout(keep_alive_seconds);
    s.set_payload_max_length(64 * 1024);
    // The library listens with a backlog of 5, which drops connection
    // attempts (and costs clients seconds of retries) whenever more than a
    // handful of clients connect at once. The socket is remembered here and
    // its backlog raised after binding.
    s.set_socket_options([this](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        listen_socket_ = sock;
    });

    s.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        request_started = std::chrono::steady_clock::now();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        reply r = svc_.handle(req.method, req.target);
        res.status = r.status;
        res.set_content(std::move(r.body), r.content_type.c_str());
    };
    s.Get(".*", handler);
    s.Post(".*", handler);
    s.Put(".*", handler);
    s.Delete(".*", handler);
    s.Patch(".*", handler);
    s.Options(".*", handler);

    s.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        if (!log_) return;
        log_(log_line(req.remote_addr, req.method, req.target, res.status, res.body.size(), request_started));
        request_started.reset();
    });
}

http_server::~http_server() { stop(); }

int http_server::bind(const std::string& address, int port) {
    int bound = port == 0 ? server_->bind_to_any_port(address) : (server_->bind_to_port(address, port) ? port : -1);
    if (bound > 0 && listen_socket_ >= 0) ::listen(listen_socket_, listen_backlog);
    return bound;
}

bool http_server::run() { return server_->listen_after_bind(); }

void http_server::start() {
    listening_done_ = false;
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listening_done_ = true;
    });
    // Requests are accepted once bound (the listening socket queues them),
    // but stop() must not race the loop's start.
    while (!server_->is_running() && !listening_done_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void http_server::stop() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace mirvo::server
