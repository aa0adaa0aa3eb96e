#include "tests/support/relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mirvo::testing {

namespace {

bool send_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// "GET http://host:port/path HTTP/1.1" -> "GET /path HTTP/1.1".
std::string origin_form(std::string head) {
    const std::size_t sp = head.find(' ');
    if (sp == std::string::npos || head.compare(sp + 1, 7, "http://") != 0) return head;
    const std::size_t path = head.find('/', sp + 8);
    if (path == std::string::npos) return head;
    return head.substr(0, sp + 1) + head.substr(path);
}

int connect_to(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void close_abortively(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

}  // namespace

struct relay::impl {
    options opts;
    int listener = -1;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<long long> sent_total{0};
    std::atomic<bool> cut_done{false};
    std::thread acceptor;
    std::mutex mutex;
    std::vector<std::thread> connections;
    std::vector<int> open_fds;

    void track(int fd) {
        std::lock_guard lock(mutex);
        open_fds.push_back(fd);
    }
    void forget(int fd) {
        std::lock_guard lock(mutex);
        open_fds.erase(std::remove(open_fds.begin(), open_fds.end(), fd), open_fds.end());
    }

    void accept_loop() {
        while (!stopping) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            track(client);
            std::lock_guard lock(mutex);
            connections.emplace_back([this, client] { carry(client); });
        }
    }

    // How much of n reply bytes may go on before the cut, if it falls here.
    std::size_t allowed(long long sent, std::size_t n, bool& cut) {
        cut = false;
        if (opts.cut_after < 0 || cut_done || sent + static_cast<long long>(n) <= opts.cut_after) return n;
        if (cut_done.exchange(true)) return n;
        cut = true;
        return static_cast<std::size_t>(std::max(0LL, opts.cut_after - sent));
    }

    void carry(int client) {
        std::string head;
        char buf[16384];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            ssize_t n = ::recv(client, buf, sizeof buf, 0);
            if (n <= 0) return finish(client, -1, false);
            head.append(buf, static_cast<std::size_t>(n));
        }
        const std::string request = origin_form(head);
        int up = connect_to(opts.upstream_port);
        if (up < 0 || !send_all(up, request.data(), request.size())) return finish(client, up, false);
        track(up);
        const auto start = std::chrono::steady_clock::now();
        long long sent = 0;
        pollfd fds[2] = {{client, POLLIN, 0}, {up, POLLIN, 0}};
        while (!stopping) {
            if (::poll(fds, 2, 200) < 0) break;
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = ::recv(client, buf, sizeof buf, 0);
                if (n <= 0 || !send_all(up, buf, static_cast<std::size_t>(n))) break;
            }
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                const bool slow = opts.slow_bytes_per_second > 0 && elapsed < opts.slow_seconds;
                ssize_t n = ::recv(up, buf, slow ? std::min<std::size_t>(sizeof buf, 4096) : sizeof buf, 0);
                if (n <= 0) break;
                bool cut = false;
                const std::size_t pass = allowed(sent, static_cast<std::size_t>(n), cut);
                if (!send_all(client, buf, pass)) break;
                sent += static_cast<long long>(pass);
                sent_total += static_cast<long long>(pass);
                if (cut) return finish(client, up, true);
                // Hold the pace: never ahead of rate * elapsed while slow.
                if (slow) {
                    const double due = double(sent) / double(opts.slow_bytes_per_second);
                    if (due > elapsed) std::this_thread::sleep_for(std::chrono::duration<double>(due - elapsed));
                }
            }
        }
        finish(client, up, false);
    }

    void finish(int client, int up, bool abortive) {
        forget(client);
        if (abortive)
            close_abortively(client);
        else
            ::close(client);
        if (up >= 0) {
            forget(up);
            ::close(up);
        }
    }
};

relay::relay(int listen_port, const options& opts) : d_(std::make_unique<impl>()) {
    d_->opts = opts;
    d_->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(d_->listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(listen_port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(d_->listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(d_->listener, 64) != 0 ||
        ::getsockname(d_->listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(d_->listener);
        d_->listener = -1;
        return;
    }
    d_->port = ntohs(a.sin_port);
    d_->acceptor = std::thread([this] { d_->accept_loop(); });
}

relay::~relay() { stop(); }

bool relay::listening() const { return d_->listener >= 0; }
int relay::port() const { return d_->port; }
long long relay::bytes_to_clients() const { return d_->sent_total; }

void relay::stop() {
    if (d_->stopping.exchange(true)) return;
    if (d_->acceptor.joinable()) d_->acceptor.join();
    {
        std::lock_guard lock(d_->mutex);
        for (int fd : d_->open_fds) ::shutdown(fd, SHUT_RDWR);
    }
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(d_->mutex);
        connections.swap(d_->connections);
    }
    for (std::thread& t : connections) t.join();
    if (d_->listener >= 0) ::close(d_->listener);
    d_->listener = -1;
}

}  // namespace mirvo::testing
