// Load check of mirvo-server, run in process over loopback. Four figures:
//
//  poll       N clients poll the request page for a fixed time, each with its
//             own user and a fresh digit-coded password per request, over a
//             fresh connection each time, as the client's playback timer does;
//  keepalive  1,000 clients each hold one connection and poll once a second
//             (target: p99 under 200 ms, no errors);
//  slowheads  a fresh client's requests while 500 connections trickle their
//             request heads one line a second (target: under 50 ms);
//  reuse      requests per second on one kept-alive connection against one
//             fresh connection per request (target: a ratio of at least 1).
//
//   server_bench [--clients 50] [--seconds 10] [--keepalive-clients 1000] [--slow 500] [--only NAME]
#include "common/http/http.h"
#include "common/protocol/digit_code.h"
#include "common/ui/status.h"
#include "common/xmltext/xmltext.h"
#include "server/demo_site.h"
#include "server/http_server.h"
#include "server/password.h"
#include "server/service.h"
#include "server/store.h"
#include "tests/support/raw_http.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;
using mirvo::testing::connect_loopback;
using mirvo::testing::raw_request;
using mirvo::testing::raw_response;
using mirvo::testing::read_response;
using mirvo::testing::send_all;

struct options {
    int clients = 50;
    int seconds = 10;
    int keepalive_clients = 1000;
    int slow = 500;
    std::string only;
};

double ms_since(clock_type::time_point t0) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
}

struct figures {
    std::vector<double> ms;
    long errors = 0;

    void add(const figures& o) {
        ms.insert(ms.end(), o.ms.begin(), o.ms.end());
        errors += o.errors;
    }
    double pct(double p) const {
        return ms.empty() ? 0.0 : ms[std::min(ms.size() - 1, static_cast<std::size_t>(p * ms.size()))];
    }
    void print(const char* title, double seconds) {
        std::sort(ms.begin(), ms.end());
        std::printf("%s\n", title);
        std::printf(
            "  requests   %zu\n  per second %.0f\n  p50        %.2f ms\n  p99        %.2f ms\n"
            "  max        %.2f ms\n  errors     %ld\n",
            ms.size(), ms.size() / seconds, pct(0.50), pct(0.99), ms.empty() ? 0.0 : ms.back(), errors);
    }
};

// Peers are spread over loopback addresses so that the per-address limit
// (which a crowd behind one address would meet) is not what is measured.
std::string peer_address(int first, int index, int per_address) {
    return "127.0.0." + std::to_string(first + index / per_address);
}

// Every client descriptor and the service's own ones live in this process.
void raise_descriptor_limit() {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0) return;
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
    getrlimit(RLIMIT_NOFILE, &r);
    std::printf("server_bench: %llu descriptors\n", static_cast<unsigned long long>(r.rlim_cur));
}

class bench_service {
public:
    explicit bench_service(const fs::path& dir) : dir_(dir) {}

    bool start(std::string& error) {
        fs::create_directories(dir_);
        std::ofstream(dir_ / "program.bin") << "program";
        mirvo::server::demo_options o{(dir_ / "site").string(), (dir_ / "bench.db").string(),
                                      (dir_ / "program.bin").string(), "http://127.0.0.1", 0};
        if (!mirvo::server::init_demo(o, error, [](const std::string&) {})) return false;
        db_ = mirvo::server::store::open(o.db, error);
        if (!db_) return false;
        mirvo::server::service_options so;
        so.site_folder = o.site;
        so.request_page = "service.aspx";
        svc_ = std::make_unique<mirvo::server::service>(*db_, so);
        server_ = std::make_unique<mirvo::server::http_server>(*svc_, nullptr);
        port_ = server_->bind("127.0.0.1", 0);
        if (port_ <= 0 || !server_->start()) {
            error = "cannot serve";
            return false;
        }
        return true;
    }
    // Users name0.. with password pw0..; iterations 0: full strength.
    void add_users(const std::string& name, int count, unsigned iterations) {
        std::string error;
        for (int c = 0; c < count; ++c) {
            const std::string canonical = mirvo::server::canonical_password("pw" + std::to_string(c));
            db_->add_user(name + std::to_string(c),
                          iterations ? mirvo::server::hash_password(canonical, iterations)
                                     : mirvo::server::hash_password(canonical),
                          error);
        }
    }
    // A poll request of user name<c>: its unread messages.
    static std::string poll_target(const std::string& name, int c) {
        return "/service.aspx?user=" + name + std::to_string(c) +
               "&password=" + mirvo::digit_encode("pw" + std::to_string(c)) + "&lesson_id=0010&lesson_dir=&action=";
    }
    int port() const { return port_; }
    void stop() {
        server_.reset();
        svc_.reset();
        db_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

private:
    fs::path dir_;
    std::unique_ptr<mirvo::server::store> db_;
    std::unique_ptr<mirvo::server::service> svc_;
    std::unique_ptr<mirvo::server::http_server> server_;
    int port_ = 0;
};

bool is_poll_reply(const raw_response& r) {
    return r.status == 200 && !mirvo::xml_get_value(r.body, "new_msg").empty();
}

// The original load check: fresh connections through the client's own page fetch.
void bench_poll(bench_service& s, const options& o) {
    s.add_users("bench", o.clients, 0);  // full-strength hashes: each client's first request pays for one check
    const std::string base = "http://127.0.0.1:" + std::to_string(s.port());
    std::vector<figures> per(static_cast<std::size_t>(o.clients));
    const auto end = clock_type::now() + std::chrono::seconds(o.seconds);
    const auto started = clock_type::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < o.clients; ++c) {
        threads.emplace_back([&, c] {
            figures& mine = per[static_cast<std::size_t>(c)];
            while (clock_type::now() < end) {
                const std::string url = base + bench_service::poll_target("bench", c);
                const auto t0 = clock_type::now();
                const std::string reply = mirvo::http_get_text(url);
                mine.ms.push_back(ms_since(t0));
                if (mirvo::xml_get_value(reply, "new_msg").empty()) ++mine.errors;
            }
        });
    }
    for (auto& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(clock_type::now() - started).count();
    figures all;
    for (auto& f : per) all.add(f);
    char title[128];
    std::snprintf(title, sizeof title, "poll: %d clients, a fresh connection per request, %.1f s", o.clients, elapsed);
    all.print(title, elapsed);
}

// One kept-alive connection per client; each asks once a second, at its own
// phase of the second. A few threads drive all of them.
void bench_keepalive(bench_service& s, const options& o) {
    const int n = o.keepalive_clients;
    s.add_users("ka", n, 1000);  // cheap hashes: this measures connections, not hashing
    struct client {
        int fd = -1;
        std::string target;
        std::string pending;
        clock_type::time_point next, sent;
        bool waiting = false;
        bool warm = false;  // its first request (which checks the password in full) is done
    };
    std::vector<client> clients(static_cast<std::size_t>(n));
    std::mt19937 rng(7);
    const auto start = clock_type::now() + std::chrono::milliseconds(500);
    for (int c = 0; c < n; ++c) {
        client& k = clients[static_cast<std::size_t>(c)];
        k.fd = connect_loopback(s.port(), 5, peer_address(10, c, 100));
        k.target = bench_service::poll_target("ka", c);
        k.next = start + std::chrono::milliseconds(rng() % 1000);
    }
    const int open = static_cast<int>(std::count_if(clients.begin(), clients.end(), [](auto& k) { return k.fd >= 0; }));
    const auto measure_from = start + std::chrono::seconds(2);  // every client is warm by then
    const auto end = measure_from + std::chrono::seconds(o.seconds);

    const int drivers = 4;
    std::vector<figures> per(drivers);
    std::vector<std::thread> threads;
    for (int d = 0; d < drivers; ++d) {
        threads.emplace_back([&, d] {
            figures& mine = per[static_cast<std::size_t>(d)];
            std::vector<client*> own;
            for (int c = d; c < n; c += drivers)
                if (clients[static_cast<std::size_t>(c)].fd >= 0) own.push_back(&clients[static_cast<std::size_t>(c)]);
            std::vector<pollfd> fds;
            std::vector<client*> polled;
            while (clock_type::now() < end) {
                auto now = clock_type::now();
                auto wake = now + std::chrono::milliseconds(50);
                fds.clear();
                polled.clear();
                for (client* k : own) {
                    if (k->fd < 0) continue;
                    if (!k->waiting && k->next <= now) {
                        k->sent = clock_type::now();
                        k->waiting = send_all(k->fd, "GET " + k->target + " HTTP/1.1\r\nHost: x\r\n\r\n");
                        if (!k->waiting) {
                            ++mine.errors;
                            close(k->fd);
                            k->fd = -1;
                            continue;
                        }
                        k->next += std::chrono::seconds(1);
                    }
                    if (k->waiting) {
                        fds.push_back({k->fd, POLLIN, 0});
                        polled.push_back(k);
                    } else {
                        wake = std::min(wake, k->next);
                    }
                }
                const int timeout = static_cast<int>(std::max<long long>(
                    0, std::chrono::duration_cast<std::chrono::milliseconds>(wake - clock_type::now()).count()));
                if (poll(fds.data(), fds.size(), timeout) <= 0) continue;
                for (std::size_t i = 0; i < fds.size(); ++i) {
                    if (!fds[i].revents) continue;
                    client* k = polled[i];
                    raw_response r = read_response(k->fd, k->pending);
                    const double ms = ms_since(k->sent);
                    k->waiting = false;
                    const bool counted = k->warm && k->sent >= measure_from;
                    k->warm = true;
                    if (!is_poll_reply(r)) {
                        if (counted) ++mine.errors;
                        close(k->fd);
                        k->fd = -1;
                    } else if (counted) {
                        mine.ms.push_back(ms);
                    }
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    int still_open = 0;
    for (client& k : clients) {
        if (k.fd >= 0) {
            ++still_open;
            close(k.fd);
        }
    }
    figures all;
    for (auto& f : per) all.add(f);
    all.errors += n - open;
    char title[160];
    std::snprintf(title, sizeof title,
                  "keepalive: %d clients on kept-alive connections, one poll a second each, %d s "
                  "(%d connected, %d still open at the end)",
                  n, o.seconds, open, still_open);
    all.print(title, o.seconds);
    std::printf("  target     p99 < 200 ms, 0 errors\n");
}

// Connections that send their heads a line a second; the service cuts each
// after its head deadline and the holder opens it again, so that the number
// held stays near the target while a fresh client is timed.
void bench_slow_heads(bench_service& s, const options& o) {
    const int n = o.slow;
    std::vector<int> fds(static_cast<std::size_t>(n), -1);
    std::atomic<bool> stop{false};
    std::atomic<long> reopened{0};
    std::mutex held_mutex;
    std::vector<int> held_samples;
    auto open_one = [&](int i) {
        const int fd = connect_loopback(s.port(), 1, peer_address(50, i, 100));
        if (fd >= 0 && !send_all(fd, "GET /testinternet.txt HTTP/1.1\r\n")) {
            close(fd);
            return -1;
        }
        return fd;
    };
    for (int i = 0; i < n; ++i) fds[static_cast<std::size_t>(i)] = open_one(i);
    std::thread holder([&] {
        int line = 0;
        while (!stop) {
            int held = 0;
            for (int i = 0; i < n; ++i) {
                int& fd = fds[static_cast<std::size_t>(i)];
                char c;
                const bool gone = fd < 0 || recv(fd, &c, 1, MSG_DONTWAIT) == 0 ||
                                  !send_all(fd, "X-Slow: " + std::to_string(line) + "\r\n");
                if (gone) {
                    if (fd >= 0) close(fd);
                    fd = open_one(i);
                    ++reopened;
                }
                held += fd >= 0;
            }
            {
                std::lock_guard lock(held_mutex);
                held_samples.push_back(held);
            }
            ++line;
            for (int t = 0; t < 10 && !stop; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(1));

    figures f;
    const auto end = clock_type::now() + std::chrono::seconds(o.seconds);
    while (clock_type::now() < end) {
        const auto t0 = clock_type::now();
        raw_response r = raw_request(s.port(), "GET", "/testinternet.txt", {}, 5);
        f.ms.push_back(ms_since(t0));
        if (r.body != "your internet is ok!") ++f.errors;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    holder.join();
    for (int fd : fds)
        if (fd >= 0) close(fd);
    int lowest = n;
    long sum = 0;
    for (int h : held_samples) {
        lowest = std::min(lowest, h);
        sum += h;
    }
    char title[160];
    std::snprintf(title, sizeof title,
                  "slowheads: a fresh client while %d connections trickle their heads (held: %.0f on average, "
                  "%d at least; %ld reopened after the service cut them), %d s",
                  n, held_samples.empty() ? 0.0 : static_cast<double>(sum) / held_samples.size(), lowest,
                  reopened.load(), o.seconds);
    f.print(title, o.seconds);
    std::printf("  target     fresh client under 50 ms\n");
}

// Requests one after another: on one kept-alive connection, then each on a
// connection of its own.
void bench_reuse(bench_service& s, const options& o) {
    s.add_users("reuse", 1, 1000);
    const std::string target = bench_service::poll_target("reuse", 0);
    const double seconds = std::max(1, o.seconds / 2);
    raw_request(s.port(), "GET", target);  // the password check is done once, before timing

    figures kept;
    const int fd = connect_loopback(s.port(), 5);
    std::string pending;
    auto end = clock_type::now() + std::chrono::duration<double>(seconds);
    while (fd >= 0 && clock_type::now() < end) {
        const auto t0 = clock_type::now();
        send_all(fd, "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n");
        raw_response r = read_response(fd, pending);
        kept.ms.push_back(ms_since(t0));
        if (!is_poll_reply(r)) ++kept.errors;
    }
    if (fd >= 0) close(fd);

    figures fresh;
    end = clock_type::now() + std::chrono::duration<double>(seconds);
    while (clock_type::now() < end) {
        const auto t0 = clock_type::now();
        raw_response r = raw_request(s.port(), "GET", target);
        fresh.ms.push_back(ms_since(t0));
        if (!is_poll_reply(r)) ++fresh.errors;
    }
    const double kept_rate = kept.ms.size() / seconds, fresh_rate = fresh.ms.size() / seconds;
    kept.print("reuse: one kept-alive connection, requests one after another", seconds);
    fresh.print("reuse: a fresh connection per request, one after another", seconds);
    std::printf("  ratio      %.2f (kept-alive / fresh; target >= 1)\n", fresh_rate > 0 ? kept_rate / fresh_rate : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--clients"))
            o.clients = std::clamp(std::atoi(argv[i + 1]), 1, 500);
        else if (!std::strcmp(argv[i], "--seconds"))
            o.seconds = std::clamp(std::atoi(argv[i + 1]), 1, 120);
        else if (!std::strcmp(argv[i], "--keepalive-clients"))
            o.keepalive_clients = std::clamp(std::atoi(argv[i + 1]), 1, 1500);
        else if (!std::strcmp(argv[i], "--slow"))
            o.slow = std::clamp(std::atoi(argv[i + 1]), 1, 1000);
        else if (!std::strcmp(argv[i], "--only"))
            o.only = argv[i + 1];
    }
    // The bench measures the service, not the client's pauses between characters.
    mirvo::no_wait_pump pump;
    mirvo::scoped_message_pump use_pump(pump);
    raise_descriptor_limit();

    bench_service s(fs::temp_directory_path() / ("mirvo-server-bench-" + std::to_string(getpid())));
    std::string error;
    if (!s.start(error)) {
        std::fprintf(stderr, "server_bench: %s\n", error.c_str());
        return 1;
    }
    auto want = [&](const char* name) { return o.only.empty() || o.only == name; };
    if (want("poll")) bench_poll(s, o);
    if (want("keepalive")) bench_keepalive(s, o);
    if (want("slowheads")) bench_slow_heads(s, o);
    if (want("reuse")) bench_reuse(s, o);
    s.stop();
    return 0;
}
