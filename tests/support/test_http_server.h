// A scriptable HTTP/1.1 server for tests: raw sockets on 127.0.0.1, an
// ephemeral port, its own threads. Each request target gets a scripted reply
// (or a handler that builds one); every request is recorded as it came off the
// wire, so tests can check the exact request line and header block.
//
// Replies can misbehave on purpose: no Content-Length, a Content-Length larger
// than the body followed by a cut, chunked pieces with pauses, a peer that
// accepts and never answers, an abortive close.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace mirvo::testing {

// One request as received.
struct recorded_request {
    std::string raw_head;      // request line and headers, CRLFs included, up to the blank line
    std::string request_line;  // without its CRLF
    std::string method;
    std::string target;  // bytes exactly as sent (no decoding)
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in wire order
    std::size_t connection = 0;                                // 1-based number of the connection it came on

    // Value of the first header with this name (case-insensitive), if any.
    std::optional<std::string> header(const std::string& name) const;
    // Header lines exactly as sent, without the request line and the blank line.
    std::vector<std::string> header_lines() const;
};

struct scripted_response {
    // A part of the body written on its own, after a pause. With chunked, each
    // piece becomes one chunk.
    struct piece {
        std::string bytes;
        int delay_ms = 0;
    };

    int status = 200;
    std::string reason;  // empty: a standard phrase for the status
    // Extra headers, sent in this order after the ones the server adds.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // used when pieces is empty
    std::vector<piece> pieces;

    bool send_content_length = true;            // when not chunked
    std::optional<std::size_t> content_length;  // declared length; default the body's size
    bool chunked = false;
    bool end_chunks = true;     // chunked: send the final zero chunk
    bool silent = false;        // read the request, then never answer (until the peer or server closes)
    bool reset_at_end = false;  // close with RST instead of FIN after writing
    int delay_before_ms = 0;    // pause before the status line

    // Common shapes.
    static scripted_response text(int status, std::string body);
    static scripted_response redirect(int status, std::string location, std::string body);
    static scripted_response without_length(std::string body);             // ends by closing
    static scripted_response cut(std::string body, std::size_t declared);  // declared > body
    static scripted_response gzip(std::string plain);                      // Content-Encoding: gzip
    static scripted_response never_answer();
};

using request_handler = std::function<scripted_response(const recorded_request&)>;

class test_http_server {
public:
    test_http_server();
    ~test_http_server();
    test_http_server(const test_http_server&) = delete;
    test_http_server& operator=(const test_http_server&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>", no trailing slash.
    std::string base_url() const;

    // Reply for an exact request target (path and query, raw bytes).
    void on(const std::string& target, scripted_response response);
    void on(const std::string& target, request_handler handler);
    // Reply for targets without a route; initially a 404 with a short body.
    void otherwise(scripted_response response);

    std::vector<recorded_request> requests() const;
    std::size_t request_count() const;
    std::size_t connection_count() const;
    // Waits until at least n requests arrived; false on time-out.
    bool wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const;

    // Stops accepting, closes every connection, joins the threads. Also done
    // by the destructor.
    void stop();

private:
    void accept_loop();
    void serve(int fd, std::size_t connection);
    // A fixed reply is served from the one shared copy (large bodies are not
    // copied per request); a handler builds a reply per request.
    struct route_entry {
        std::shared_ptr<const scripted_response> fixed;
        std::shared_ptr<const request_handler> handler;
    };
    std::shared_ptr<const scripted_response> reply_for(const recorded_request& request) const;
    bool write_all(int fd, const char* data, std::size_t size) const;
    bool pause(int ms) const;

    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::map<std::string, route_entry> routes_;
    route_entry fallback_;
    std::vector<recorded_request> requests_;
    std::size_t connections_ = 0;
    std::vector<std::thread> workers_;
    std::vector<int> open_fds_;
};

// gzip (RFC 1952) encoding of bytes, for scripting compressed replies.
std::string gzip_bytes(const std::string& plain);
// "deflate" content coding: zlib-wrapped (RFC 1950) or, as some servers send
// it, a bare deflate stream (RFC 1951).
std::string deflate_bytes(const std::string& plain, bool zlib_wrapper = true);

}  // namespace mirvo::testing
