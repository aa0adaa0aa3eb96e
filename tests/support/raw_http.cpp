#include "tests/support/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace mirvo::testing {

namespace {

bool iequals(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A socket to 127.0.0.1:port; prepare sets its options before it connects.
template <class Prepare>
int connect_prepared(int port, double receive_seconds, const std::string& source, Prepare prepare) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    prepare(fd);
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(receive_seconds);
    tv.tv_usec = static_cast<suseconds_t>((receive_seconds - static_cast<double>(tv.tv_sec)) * 1e6);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (!source.empty()) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (inet_pton(AF_INET, source.c_str(), &local.sin_addr) != 1 ||
            bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(fd);
            return -1;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int connect_loopback(int port, double receive_seconds, const std::string& source) {
    return connect_prepared(port, receive_seconds, source, [](int) {});
}

int connect_slow_reader(int port, const std::string& source) {
    return connect_prepared(port, 5, source, [](int fd) {
        // The segment size the peer announces bounds the sender's buffer
        // as well: loopback's 64 KB segments would let it queue megabytes.
        const int window = 4096, segment = 536;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
        setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    });
}

bool send_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string raw_response::header(const std::string& name) const {
    std::size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        const std::size_t start = pos + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && iequals(line.substr(0, colon), name)) {
            std::size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ') ++v;
            return line.substr(v);
        }
        pos = end;
    }
    return {};
}

raw_response read_response(int fd, std::string& pending, bool to_head) {
    raw_response r;
    char buf[16384];
    std::size_t head_end;
    while ((head_end = pending.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return r;
        pending.append(buf, static_cast<std::size_t>(n));
    }
    r.head = pending.substr(0, head_end + 4);
    pending.erase(0, head_end + 4);
    if (r.head.rfind("HTTP/1.", 0) != 0 || r.head.size() < 12) return r;
    const std::string length = r.header("Content-Length");
    std::size_t want = to_head || length.empty() ? 0 : std::strtoull(length.c_str(), nullptr, 10);
    // Without a length the body runs to the end of the stream.
    const bool to_end = !to_head && length.empty();
    while (pending.size() < want || to_end) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (!to_end) return r;  // cut short: no whole response
            want = pending.size();
            break;
        }
        pending.append(buf, static_cast<std::size_t>(n));
    }
    r.body = pending.substr(0, want);
    pending.erase(0, want);
    r.status = std::atoi(r.head.c_str() + 9);
    return r;
}

raw_response raw_request(int port, const std::string& method, const std::string& target,
                         const std::vector<std::string>& headers, double receive_seconds, const std::string& source) {
    const int fd = connect_loopback(port, receive_seconds, source);
    if (fd < 0) return {};
    std::string req = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (const std::string& h : headers) req += h + "\r\n";
    req += "\r\n";
    raw_response r;
    std::string pending;
    if (send_all(fd, req)) r = read_response(fd, pending, method == "HEAD");
    close(fd);
    return r;
}

bool closed_by_peer(int fd, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    char buf[4096];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0) return true;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return true;
    }
}

}  // namespace mirvo::testing
