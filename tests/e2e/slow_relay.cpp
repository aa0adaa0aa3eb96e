// slow_relay: an HTTP proxy on 127.0.0.1 for whole-program tests that need to
// see a download in progress. The programs use the proxy the environment
// names (http_proxy); this one passes each request on to one upstream port
// on 127.0.0.1 and hands the reply back at a limited rate for the first
// seconds of each connection, then at full speed.
//
//   slow_relay LISTEN_PORT UPSTREAM_PORT BYTES_PER_SECOND SLOW_SECONDS
//
// It serves until it is killed; each connection is one request.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

int upstream_port = 0;
long rate = 0;
int slow_seconds = 0;

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

int connect_upstream() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(upstream_port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void relay(int client) {
    std::string head;
    char buf[16384];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        ssize_t n = ::recv(client, buf, sizeof buf, 0);
        if (n <= 0) {
            ::close(client);
            return;
        }
        head.append(buf, static_cast<std::size_t>(n));
    }
    const std::string request = origin_form(head);
    int up = connect_upstream();
    if (up < 0 || !send_all(up, request.data(), request.size())) {
        if (up >= 0) ::close(up);
        ::close(client);
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    long long sent = 0;
    pollfd fds[2] = {{client, POLLIN, 0}, {up, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, 1000) < 0) break;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::recv(client, buf, sizeof buf, 0);
            if (n <= 0 || !send_all(up, buf, static_cast<std::size_t>(n))) break;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const bool slow = elapsed < slow_seconds;
            ssize_t n = ::recv(up, buf, slow ? std::min<std::size_t>(sizeof buf, 4096) : sizeof buf, 0);
            if (n <= 0 || !send_all(client, buf, static_cast<std::size_t>(n))) break;
            sent += n;
            // Hold the pace: never ahead of rate * elapsed while slow.
            if (slow) {
                const double due = double(sent) / double(rate);
                if (due > elapsed) std::this_thread::sleep_for(std::chrono::duration<double>(due - elapsed));
            }
        }
    }
    ::close(up);
    ::close(client);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: slow_relay LISTEN_PORT UPSTREAM_PORT BYTES_PER_SECOND SLOW_SECONDS\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    upstream_port = std::atoi(argv[2]);
    rate = std::atol(argv[3]);
    slow_seconds = std::atoi(argv[4]);
    if (rate <= 0) return 2;

    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 16) != 0) {
        std::perror("slow_relay");
        return 1;
    }
    std::printf("slow_relay: listening on 127.0.0.1:%d\n", port);
    std::fflush(stdout);
    for (;;) {
        int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::thread(relay, client).detach();
    }
}
