// Load check of mirvo-server, run in process over loopback. Each figure is
// printed with its target:
//
//  poll        N clients poll the request page for a fixed time, each with its
//              own user and a fresh digit-coded password per request, over a
//              fresh connection each time, as the client's playback timer does;
//  keepalive   1,000 clients each hold one connection and poll once a second
//              (target: p99 under 200 ms, no errors);
//  held        a fresh client's requests while 10 networks hold 2,000
//              kept-alive connections, each polling every 4 s (target: p99
//              under 100 ms);
//  slowheads   a fresh client's requests while 2,500 connections from 50
//              networks trickle their request heads one line a second
//              (target: p99 under 100 ms);
//  badlogins   legitimate polls while 100 logins a second with unknown names
//              come from thousands of addresses, each costing a full password
//              hash (target: p99 under 50 ms);
//  suggestions one account sends suggestions as fast as it can; the database
//              grows by (target) less than 1 MB a minute;
//  reuse       requests per second on one kept-alive connection against one
//              fresh connection per request (target: a ratio of at least 1).
//
//   server_bench [--quick] [--clients 50] [--seconds 10] [--keepalive-clients 1000] [--held 2000]
//                [--slow 2500] [--bad-logins 100] [--only NAME]
//   server_bench --front [--quick] [--clients 50] [--seconds 10]
//
// --front measures the service past one machine instead: PostgreSQL, nginx
// in front of one and of two instances, against one instance on SQLite
// (server_bench_front.cpp). It binds fixed ports: run it in a network
// namespace of its own.
//
// --quick runs every scenario with tiny sizes for a few seconds: it shows
// that they run, not that the targets are met.
#include "bench/figures.h"
#include "bench/server_bench_front.h"
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
#include <sqlite3.h>
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

using mirvo::bench::load_one_minute;

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;
using mirvo::testing::connect_loopback;
using mirvo::testing::raw_request;
using mirvo::testing::raw_response;
using mirvo::testing::read_response;
using mirvo::testing::send_all;

struct options {
    bool quick = false;
    int clients = 50;
    int seconds = 10;
    int keepalive_clients = 1000;
    int held = 2000;
    int slow = 2500;
    int bad_logins = 100;  // a second
    std::string only;

    // Tiny sizes that end within seconds.
    void make_quick() {
        quick = true;
        clients = 4;
        seconds = 1;
        keepalive_clients = 50;
        held = 100;
        slow = 100;
        bad_logins = 20;
    }
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

// Peers spread over networks (one /24 each), so that a network's share of
// the connections, which a crowd behind one network would meet, is not what
// is measured unless a scenario means it to be.
std::string peer_address(int first_network, int index, int per_network) {
    return "127.0." + std::to_string(first_network + index / per_network) + "." + std::to_string(1 + index % 200);
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
        demo_.site = (dir_ / "site").string();
        demo_.db = (dir_ / "bench.db").string();
        demo_.program_path = (dir_ / "program.bin").string();
        demo_.base_url = "http://127.0.0.1";
        if (!mirvo::server::init_demo(demo_, error, [](const std::string&) {})) return false;
        db_ = mirvo::server::store::open(demo_.db, error);
        if (!db_) return false;
        mirvo::server::service_options so;
        so.site_folder = demo_.site;
        so.request_page = "service.aspx";
        svc_ = std::make_unique<mirvo::server::service>(*db_, so);
        server_ = std::make_unique<mirvo::server::http_server>(*svc_, nullptr);
        port_ = server_->bind("127.0.0.1", 0);
        if (port_ <= 0 || !server_->start()) {
            error = "cannot serve";
            return false;
        }
        std::printf("server_bench: the service takes %u connections at once\n", server_->connection_limit());
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
    // The database's bytes on disk once its write-ahead log is written back
    // (the log's own size says how much was written lately, not how much is
    // kept).
    std::uintmax_t database_bytes() const {
        sqlite3* db = nullptr;
        if (sqlite3_open(demo_.db.c_str(), &db) == SQLITE_OK)
            sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        std::uintmax_t total = 0;
        for (const char* suffix : {"", "-wal"}) {
            std::error_code ec;
            const auto size = fs::file_size(demo_.db + suffix, ec);
            if (!ec) total += size;
        }
        return total;
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
    mirvo::server::demo_options demo_;
    std::unique_ptr<mirvo::server::store> db_;
    std::unique_ptr<mirvo::server::service> svc_;
    std::unique_ptr<mirvo::server::http_server> server_;
    int port_ = 0;
};

bool is_poll_reply(const raw_response& r) {
    return r.status == 200 && !mirvo::xml_get_value(r.body, "new_msg").empty();
}

// A fresh client's requests, one after another with a pause, until end.
figures fresh_requests(int port, const std::string& target, clock_type::time_point end, const std::string& source,
                       bool poll_reply) {
    figures f;
    while (clock_type::now() < end) {
        const auto t0 = clock_type::now();
        raw_response r = raw_request(port, "GET", target, {}, 5, source);
        f.ms.push_back(ms_since(t0));
        if (poll_reply ? !is_poll_reply(r) : r.body != "your internet is ok!") ++f.errors;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return f;
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

// Clients that each hold one kept-alive connection and poll on it every
// period, at their own phase; a few threads drive all of them. A connection
// the service closes is opened again.
class kept_alive_crowd {
public:
    kept_alive_crowd(bench_service& s, const std::string& user_prefix, int n, std::chrono::milliseconds period,
                     int first_network, int per_network)
        : s_(s), period_(period), clients_(static_cast<std::size_t>(n)) {
        std::mt19937 rng(7);
        const auto start = clock_type::now() + std::chrono::milliseconds(500);
        for (int c = 0; c < n; ++c) {
            client& k = clients_[static_cast<std::size_t>(c)];
            k.source = peer_address(first_network, c, per_network);
            k.fd = connect_loopback(s_.port(), 5, k.source);
            k.target = bench_service::poll_target(user_prefix, c);
            k.next = start + std::chrono::milliseconds(rng() % period.count());
        }
        connected_ =
            static_cast<int>(std::count_if(clients_.begin(), clients_.end(), [](auto& k) { return k.fd >= 0; }));
    }
    ~kept_alive_crowd() {
        for (client& k : clients_)
            if (k.fd >= 0) close(k.fd);
    }

    // Drives the crowd until end; replies sent after measure_from count.
    void run(clock_type::time_point measure_from, clock_type::time_point end) {
        std::vector<std::thread> threads;
        for (int d = 0; d < drivers; ++d)
            threads.emplace_back([this, d, measure_from, end] { drive(d, measure_from, end); });
        for (auto& t : threads) t.join();
    }
    figures results() const {
        figures all;
        for (const auto& f : per_) all.add(f);
        return all;
    }
    int connected() const { return connected_; }
    long reopened() const { return reopened_; }
    int open() const {
        return static_cast<int>(std::count_if(clients_.begin(), clients_.end(), [](auto& k) { return k.fd >= 0; }));
    }

private:
    static constexpr int drivers = 4;
    struct client {
        int fd = -1;
        std::string source, target, pending;
        clock_type::time_point next, sent;
        bool waiting = false;
        bool warm = false;  // its first request (which checks the password in full) is done
    };

    void reopen(client& k) {
        if (k.fd >= 0) close(k.fd);
        k.fd = connect_loopback(s_.port(), 5, k.source);
        k.pending.clear();
        k.waiting = false;
        ++reopened_;
    }

    void drive(int d, clock_type::time_point measure_from, clock_type::time_point end) {
        figures& mine = per_[static_cast<std::size_t>(d)];
        std::vector<client*> own;
        for (std::size_t c = static_cast<std::size_t>(d); c < clients_.size(); c += drivers)
            own.push_back(&clients_[c]);
        std::vector<pollfd> fds;
        std::vector<client*> polled;
        while (clock_type::now() < end) {
            auto now = clock_type::now();
            auto wake = now + std::chrono::milliseconds(50);
            fds.clear();
            polled.clear();
            for (client* k : own) {
                if (!k->waiting && k->next <= now) {
                    if (k->fd < 0) reopen(*k);
                    k->sent = clock_type::now();
                    k->waiting = k->fd >= 0 && send_all(k->fd, "GET " + k->target + " HTTP/1.1\r\nHost: x\r\n\r\n");
                    if (!k->waiting) {
                        // Closed by the service while idle: open it again.
                        reopen(*k);
                        k->waiting = k->fd >= 0 && send_all(k->fd, "GET " + k->target + " HTTP/1.1\r\nHost: x\r\n\r\n");
                    }
                    k->next += period_;
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
                if (!is_poll_reply(r)) {
                    // Closed under the request: a kept-alive connection the
                    // service took back just then. The client asks again.
                    reopen(*k);
                    if (counted && r.status != 0) ++mine.errors;
                    k->next = clock_type::now();
                    continue;
                }
                k->warm = true;
                if (counted) mine.ms.push_back(ms);
            }
        }
    }

    bench_service& s_;
    std::chrono::milliseconds period_;
    std::vector<client> clients_;
    std::vector<figures> per_ = std::vector<figures>(drivers);
    int connected_ = 0;
    std::atomic<long> reopened_{0};
};

void bench_keepalive(bench_service& s, const options& o) {
    const int n = o.keepalive_clients;
    s.add_users("ka", n, 1000);  // cheap hashes: this measures connections, not hashing
    kept_alive_crowd crowd(s, "ka", n, std::chrono::milliseconds(1000), 10, 100);
    // Every client is warm by then.
    const auto measure_from = clock_type::now() + std::chrono::milliseconds(o.quick ? 1500 : 2500);
    crowd.run(measure_from, measure_from + std::chrono::seconds(o.seconds));
    figures all = crowd.results();
    all.errors += n - crowd.connected();
    char title[200];
    std::snprintf(title, sizeof title,
                  "keepalive: %d clients on kept-alive connections, one poll a second each, %d s "
                  "(%d connected, %d open at the end, %ld opened again; load %.2f)",
                  n, o.seconds, crowd.connected(), crowd.open(), crowd.reopened(), load_one_minute());
    all.print(title, o.seconds);
    std::printf("  target     p99 < 200 ms, 0 errors\n");
}

// 10 networks take every slot with kept-alive connections that ask once
// every 4 s; a fresh client comes meanwhile.
void bench_held(bench_service& s, const options& o) {
    const int n = o.held;
    s.add_users("held", n, 1000);
    kept_alive_crowd crowd(s, "held", n, std::chrono::milliseconds(4000), 100, std::max(1, n / 10));
    const auto measure_from = clock_type::now() + std::chrono::milliseconds(o.quick ? 1000 : 5000);
    const auto end = measure_from + std::chrono::seconds(o.seconds);
    std::thread holders([&] { crowd.run(measure_from, end); });
    std::this_thread::sleep_until(measure_from);
    figures fresh = fresh_requests(s.port(), "/testinternet.txt", end, "127.0.200.1", false);
    holders.join();
    char title[220];
    std::snprintf(title, sizeof title,
                  "held: a fresh client while 10 networks hold %d kept-alive connections, each asking every 4 s, "
                  "%d s (%d connected, %d open at the end, %ld opened again after the service took them; load %.2f)",
                  n, o.seconds, crowd.connected(), crowd.open(), crowd.reopened(), load_one_minute());
    fresh.print(title, o.seconds);
    std::printf("  target     fresh client p99 < 100 ms\n");
    const figures holders_figures = crowd.results();
    std::printf("  holders    p99 %.2f ms over %zu requests\n", holders_figures.pct(0.99), holders_figures.ms.size());
}

// Connections that send their heads a line a second; the service cuts each
// after its head deadline, or sooner for others, and the holder opens it
// again, so that the number held stays near the target while a fresh client
// is timed.
void bench_slow_heads(bench_service& s, const options& o) {
    const int n = o.slow;
    const int per_network = std::max(1, n / 50);
    std::vector<int> fds(static_cast<std::size_t>(n), -1);
    std::atomic<bool> stop{false};
    std::atomic<long> reopened{0};
    std::mutex held_mutex;
    std::vector<int> held_samples;
    auto open_one = [&](int i) {
        const int fd = connect_loopback(s.port(), 1, peer_address(20, i, per_network));
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
    std::this_thread::sleep_for(std::chrono::milliseconds(o.quick ? 300 : 1000));

    figures f = fresh_requests(s.port(), "/testinternet.txt", clock_type::now() + std::chrono::seconds(o.seconds),
                               "127.0.201.1", false);
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
    char title[220];
    std::snprintf(title, sizeof title,
                  "slowheads: a fresh client while %d connections from 50 networks trickle their heads (held: %.0f "
                  "on average, %d at least; %ld reopened after the service cut them), %d s (load %.2f)",
                  n, held_samples.empty() ? 0.0 : static_cast<double>(sum) / held_samples.size(), lowest,
                  reopened.load(), o.seconds, load_one_minute());
    f.print(title, o.seconds);
    std::printf("  target     fresh client p99 < 100 ms\n");
}

// Logins with names that do not exist, at a steady rate from ever new
// addresses, each reply read as it comes.
class bad_login_flood {
public:
    bad_login_flood(int port, int per_second) : port_(port), per_second_(per_second) {}

    void run(clock_type::time_point end) {
        const auto interval = std::chrono::microseconds(1000000 / std::max(1, per_second_));
        auto next = clock_type::now();
        std::vector<pollfd> open;
        while (clock_type::now() < end || !open.empty()) {
            const auto now = clock_type::now();
            if (now >= next && now < end) {
                const int i = sent_++;
                // Thousands of addresses: 127.1.x.y, a /24 for each 250.
                const std::string source =
                    "127.1." + std::to_string((i / 250) % 250) + "." + std::to_string(1 + i % 250);
                const int fd = connect_loopback(port_, 30, source);
                if (fd >= 0 && send_all(fd, "GET /service.aspx?user=nobody" + std::to_string(i) +
                                                "&password=" + mirvo::digit_encode("guess" + std::to_string(i)) +
                                                "&action=login HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")) {
                    open.push_back({fd, POLLIN, 0});
                } else if (fd >= 0) {
                    close(fd);
                }
                next += interval;
                continue;
            }
            const int timeout = now < end
                                    ? static_cast<int>(std::max<long long>(
                                          0, std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()))
                                    : 100;
            if (poll(open.data(), open.size(), timeout) <= 0) {
                if (now >= end + std::chrono::seconds(30)) break;
                continue;
            }
            for (auto it = open.begin(); it != open.end();) {
                if (!it->revents) {
                    ++it;
                    continue;
                }
                std::string pending;
                wrong_ += mirvo::xml_get_value(read_response(it->fd, pending).body, "user_login") == "wrong";
                close(it->fd);
                it = open.erase(it);
            }
        }
        for (auto& p : open) close(p.fd);
    }
    int sent() const { return sent_; }
    int wrong() const { return wrong_; }

private:
    int port_;
    int per_second_;
    int sent_ = 0;
    int wrong_ = 0;
};

// Legitimate polls (known users, passwords checked once before) while bad
// logins arrive at a steady rate.
void bench_bad_logins(bench_service& s, const options& o) {
    const int users = o.quick ? 4 : 20;
    s.add_users("legit", users, 0);
    for (int c = 0; c < users; ++c) raw_request(s.port(), "GET", bench_service::poll_target("legit", c));
    const auto started = clock_type::now();
    const auto end = started + std::chrono::seconds(o.seconds);
    bad_login_flood flood(s.port(), o.bad_logins);
    std::thread attacker([&] { flood.run(end); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<figures> per(static_cast<std::size_t>(users));
    std::vector<std::thread> threads;
    for (int c = 0; c < users; ++c) {
        threads.emplace_back([&, c] {
            figures& mine = per[static_cast<std::size_t>(c)];
            while (clock_type::now() < end) {
                const auto t0 = clock_type::now();
                raw_response r = raw_request(s.port(), "GET", bench_service::poll_target("legit", c), {}, 5,
                                             peer_address(210, c, 1));
                mine.ms.push_back(ms_since(t0));
                if (!is_poll_reply(r)) ++mine.errors;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    for (auto& t : threads) t.join();
    attacker.join();
    figures all;
    for (auto& f : per) all.add(f);
    char title[220];
    std::snprintf(title, sizeof title,
                  "badlogins: %d clients polling every 100 ms while %d logins a second with unknown names come from "
                  "thousands of addresses, %d s (%d sent, %d answered as failed; load %.2f)",
                  users, o.bad_logins, o.seconds, flood.sent(), flood.wrong(), load_one_minute());
    all.print(title, o.seconds);
    std::printf("  target     legitimate p99 < 50 ms\n");
}

// One account sends suggestions of the largest size as fast as four threads
// can; the database's growth is what counts.
void bench_suggestions(bench_service& s, const options& o) {
    s.add_users("writer", 1, 1000);
    const std::string target = "/service.aspx?user=writer0&password=" + mirvo::digit_encode("pw0") +
                               "&action=save_suggest&type=1&content=" + std::string(2000, 'x');
    // A whole minute: the first ones are a burst the quota allows at once.
    const int seconds = o.quick ? o.seconds : std::max(60, o.seconds);
    const std::uintmax_t before = s.database_bytes();
    const auto started = clock_type::now();
    const auto end = started + std::chrono::seconds(seconds);
    std::atomic<long> stored{0}, refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            while (clock_type::now() < end) {
                raw_response r = raw_request(s.port(), "GET", target);
                (mirvo::xml_get_value(r.body, "process_result") == "ok" ? stored : refused)++;
            }
        });
    }
    for (auto& t : threads) t.join();
    const double minutes = std::chrono::duration<double>(clock_type::now() - started).count() / 60;
    const double grown = static_cast<double>(s.database_bytes()) - static_cast<double>(before);
    std::printf(
        "suggestions: one account sends suggestions of 2,000 bytes from 4 threads, %d s (load %.2f)\n"
        "  sent       %ld (%.0f per second)\n  stored     %ld\n  refused    %ld\n"
        "  growth     %.3f MB a minute (%.0f bytes in all)\n",
        seconds, load_one_minute(), stored + refused, (stored + refused) / (minutes * 60), stored.load(),
        refused.load(), grown / minutes / 1e6, grown);
    std::printf("  target     growth < 1 MB a minute\n");
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
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--quick")) o.make_quick();
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--clients"))
            o.clients = std::clamp(std::atoi(argv[++i]), 1, 500);
        else if (!std::strcmp(argv[i], "--seconds"))
            o.seconds = std::clamp(std::atoi(argv[++i]), 1, 120);
        else if (!std::strcmp(argv[i], "--keepalive-clients"))
            o.keepalive_clients = std::clamp(std::atoi(argv[++i]), 1, 1500);
        else if (!std::strcmp(argv[i], "--held"))
            o.held = std::clamp(std::atoi(argv[++i]), 10, 2000);
        else if (!std::strcmp(argv[i], "--slow"))
            o.slow = std::clamp(std::atoi(argv[++i]), 1, 3000);
        else if (!std::strcmp(argv[i], "--bad-logins"))
            o.bad_logins = std::clamp(std::atoi(argv[++i]), 1, 1000);
        else if (!std::strcmp(argv[i], "--only"))
            o.only = argv[++i];
    }
    // The bench measures the service, not the client's pauses between characters.
    mirvo::no_wait_pump pump;
    mirvo::scoped_message_pump use_pump(pump);
    raise_descriptor_limit();
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--front")) return mirvo::bench::run_front_bench({o.quick, o.clients, o.seconds});
    std::printf("server_bench: load average %.2f at the start%s\n", load_one_minute(),
                o.quick ? " (quick: tiny sizes, the targets do not apply)" : "");

    bench_service s(fs::temp_directory_path() / ("mirvo-server-bench-" + std::to_string(getpid())));
    std::string error;
    if (!s.start(error)) {
        std::fprintf(stderr, "server_bench: %s\n", error.c_str());
        return 1;
    }
    for (auto [name, scenario] : {std::pair{"poll", &bench_poll},
                                  {"keepalive", &bench_keepalive},
                                  {"held", &bench_held},
                                  {"slowheads", &bench_slow_heads},
                                  {"badlogins", &bench_bad_logins},
                                  {"suggestions", &bench_suggestions},
                                  {"reuse", &bench_reuse}}) {
        if (!o.only.empty() && o.only != name) continue;
        scenario(s, o);
        std::fflush(stdout);
        // What one scenario left behind (connections the service is closing)
        // settles before the next, which finds the service answering.
        std::this_thread::sleep_for(std::chrono::milliseconds(o.quick ? 100 : 1000));
        const raw_response after = raw_request(s.port(), "GET", "/testinternet.txt", {}, 5, "127.0.250.1");
        std::printf("  afterwards the service answers %d\n", after.status);
    }
    s.stop();
    return 0;
}
