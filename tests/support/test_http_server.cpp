#include "tests/support/test_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace mirvo::testing {
namespace {

constexpr int poll_slice_ms = 20;
constexpr std::size_t max_head_bytes = 1 << 20;

bool iequals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string standard_reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 304:
            return "Not Modified";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

recorded_request parse_head(std::string head) {
    recorded_request r;
    r.raw_head = std::move(head);
    std::size_t eol = r.raw_head.find("\r\n");
    r.request_line = r.raw_head.substr(0, eol);
    // The target may hold any byte but space, so split at the first and last space.
    std::size_t sp1 = r.request_line.find(' ');
    std::size_t sp2 = r.request_line.rfind(' ');
    if (sp1 != std::string::npos && sp2 != std::string::npos && sp2 > sp1) {
        r.method = r.request_line.substr(0, sp1);
        r.target = r.request_line.substr(sp1 + 1, sp2 - sp1 - 1);
        r.version = r.request_line.substr(sp2 + 1);
    }
    std::size_t pos = eol == std::string::npos ? r.raw_head.size() : eol + 2;
    while (pos < r.raw_head.size()) {
        std::size_t end = r.raw_head.find("\r\n", pos);
        if (end == std::string::npos) end = r.raw_head.size();
        std::string line = r.raw_head.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) break;
        std::size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        r.headers.emplace_back(std::move(name), std::move(value));
    }
    return r;
}

}  // namespace

std::optional<std::string> recorded_request::header(const std::string& name) const {
    for (const auto& [n, v] : headers)
        if (iequals(n, name)) return v;
    return std::nullopt;
}

std::vector<std::string> recorded_request::header_lines() const {
    std::vector<std::string> lines;
    std::size_t pos = raw_head.find("\r\n");
    if (pos == std::string::npos) return lines;
    pos += 2;
    while (pos < raw_head.size()) {
        std::size_t end = raw_head.find("\r\n", pos);
        if (end == std::string::npos) end = raw_head.size();
        if (end == pos) break;
        lines.push_back(raw_head.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

scripted_response scripted_response::text(int status, std::string body) {
    scripted_response r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

scripted_response scripted_response::redirect(int status, std::string location, std::string body) {
    scripted_response r = text(status, std::move(body));
    r.headers.emplace_back("Location", std::move(location));
    return r;
}

scripted_response scripted_response::without_length(std::string body) {
    scripted_response r = text(200, std::move(body));
    r.send_content_length = false;
    return r;
}

scripted_response scripted_response::cut(std::string body, std::size_t declared) {
    scripted_response r = text(200, std::move(body));
    r.content_length = declared;
    return r;
}

scripted_response scripted_response::gzip(std::string plain) {
    scripted_response r = text(200, gzip_bytes(plain));
    r.headers.emplace_back("Content-Encoding", "gzip");
    return r;
}

scripted_response scripted_response::never_answer() {
    scripted_response r;
    r.silent = true;
    return r;
}

test_http_server::test_http_server() {
    // Loopback tests must not be sent to a proxy named in the environment.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);

    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) throw std::runtime_error("test server: socket failed");
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_fd_, 64) != 0) {
        ::close(listen_fd_);
        throw std::runtime_error("test server: bind/listen on 127.0.0.1 failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);

    otherwise(scripted_response::text(404, "not found"));
    acceptor_ = std::thread([this] { accept_loop(); });
}

test_http_server::~test_http_server() { stop(); }

std::string test_http_server::base_url() const { return "http://127.0.0.1:" + std::to_string(port_); }

void test_http_server::on(const std::string& target, scripted_response response) {
    auto shared = std::make_shared<const scripted_response>(std::move(response));
    std::lock_guard lock(mutex_);
    routes_[target] = {std::move(shared), nullptr};
}

void test_http_server::on(const std::string& target, request_handler handler) {
    auto shared = std::make_shared<const request_handler>(std::move(handler));
    std::lock_guard lock(mutex_);
    routes_[target] = {nullptr, std::move(shared)};
}

void test_http_server::otherwise(scripted_response response) {
    auto shared = std::make_shared<const scripted_response>(std::move(response));
    std::lock_guard lock(mutex_);
    fallback_ = {std::move(shared), nullptr};
}

std::vector<recorded_request> test_http_server::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t test_http_server::request_count() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

std::size_t test_http_server::connection_count() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

bool test_http_server::wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

void test_http_server::stop() {
    if (stopping_.exchange(true)) return;
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        for (int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
        workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
}

void test_http_server::accept_loop() {
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, poll_slice_ms) <= 0) continue;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        std::size_t number = ++connections_;
        open_fds_.push_back(fd);
        workers_.emplace_back([this, fd, number] { serve(fd, number); });
    }
}

std::shared_ptr<const scripted_response> test_http_server::reply_for(const recorded_request& request) const {
    route_entry entry;
    {
        std::lock_guard lock(mutex_);
        auto it = routes_.find(request.target);
        entry = it != routes_.end() ? it->second : fallback_;
    }
    if (entry.fixed) return entry.fixed;
    return std::make_shared<const scripted_response>((*entry.handler)(request));
}

bool test_http_server::write_all(int fd, const char* data, std::size_t size) const {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return !stopping_;
}

// Sleeps in slices so that stop() is never held up by a scripted pause.
bool test_http_server::pause(int ms) const {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (stopping_) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 5)));
    }
    return !stopping_;
}

void test_http_server::serve(int fd, std::size_t connection) {
    auto finish = [&](bool reset) {
        if (reset) {
            linger l{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        std::lock_guard lock(mutex_);
        open_fds_.erase(std::remove(open_fds_.begin(), open_fds_.end(), fd), open_fds_.end());
        ::close(fd);
    };

    // Read the head up to the blank line.
    std::string head;
    char buf[4096];
    std::size_t end = std::string::npos;
    while (end == std::string::npos) {
        if (stopping_ || head.size() > max_head_bytes) return finish(false);
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, poll_slice_ms);
        if (ready == 0) continue;
        if (ready < 0 && errno == EINTR) continue;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return finish(false);
        head.append(buf, std::size_t(n));
        end = head.find("\r\n\r\n");
    }
    recorded_request request = parse_head(head.substr(0, end + 4));
    request.connection = connection;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    arrived_.notify_all();

    std::shared_ptr<const scripted_response> reply = reply_for(request);
    const scripted_response& r = *reply;

    if (r.silent) {
        // Hold the connection open without a word until the client gives up.
        while (!stopping_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, poll_slice_ms) > 0) {
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
            }
        }
        return finish(false);
    }

    if (r.delay_before_ms > 0 && !pause(r.delay_before_ms)) return finish(false);

    // The body is either the pieces or the whole body in one write.
    std::vector<std::string_view> parts;
    std::vector<int> delays;
    if (r.pieces.empty()) {
        if (!r.body.empty()) parts.push_back(r.body), delays.push_back(0);
    } else {
        for (const auto& p : r.pieces) parts.push_back(p.bytes), delays.push_back(p.delay_ms);
    }
    std::size_t body_size = 0;
    for (auto p : parts) body_size += p.size();

    std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " +
                      (r.reason.empty() ? standard_reason(r.status) : r.reason) + "\r\n";
    if (r.chunked)
        out += "Transfer-Encoding: chunked\r\n";
    else if (r.send_content_length)
        out += "Content-Length: " + std::to_string(r.content_length.value_or(body_size)) + "\r\n";
    out += "Connection: close\r\n";
    for (const auto& [name, value] : r.headers) out += name + ": " + value + "\r\n";
    out += "\r\n";
    if (!write_all(fd, out.data(), out.size())) return finish(false);

    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (delays[i] > 0 && !pause(delays[i])) return finish(false);
        if (r.chunked) {
            if (parts[i].empty()) continue;  // an empty chunk would end the body
            char size_line[32];
            std::snprintf(size_line, sizeof size_line, "%zx\r\n", parts[i].size());
            std::string chunk = size_line + std::string(parts[i]) + "\r\n";
            if (!write_all(fd, chunk.data(), chunk.size())) return finish(false);
        } else if (!write_all(fd, parts[i].data(), parts[i].size())) {
            return finish(false);
        }
    }
    if (r.chunked && r.end_chunks) write_all(fd, "0\r\n\r\n", 5);
    // A FIN after the last byte lets the client read everything before the close.
    if (!r.reset_at_end) ::shutdown(fd, SHUT_WR);
    finish(r.reset_at_end);
}

namespace {
std::string compress_with(const std::string& plain, int window_bits) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("test server: deflateInit2 failed");
    std::string out(deflateBound(&z, uLong(plain.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    z.avail_in = uInt(plain.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    int rc = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("test server: deflate failed");
    out.resize(z.total_out);
    return out;
}
}  // namespace

std::string gzip_bytes(const std::string& plain) { return compress_with(plain, 15 + 16); }

std::string deflate_bytes(const std::string& plain, bool zlib_wrapper) {
    return compress_with(plain, zlib_wrapper ? 15 : -15);
}

}  // namespace mirvo::testing
