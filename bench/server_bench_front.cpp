// The service past one machine, measured on this one: the same mixed load
// (polls, lessons, catalogues; a fresh connection per request, clients from
// many addresses) on
//   one instance on SQLite without a front,
//   one instance on PostgreSQL without a front,
//   nginx in front of one instance on PostgreSQL,
//   nginx in front of two instances on PostgreSQL,
// each instance a process of its own, nginx with the repository's
// configuration. Besides requests per second, p50, p99 and errors it prints
// the processor time each part spends per request (instances, front,
// database), which is what the arithmetic for several machines needs, and
// the bytes per second of a movie and of a download file served by nginx
// against served by the service.
#include "bench/server_bench_front.h"

#include "bench/figures.h"
#include "common/protocol/digit_code.h"
#include "common/xmltext/xmltext.h"
#include "server/demo_site.h"
#include "server/password.h"
#include "server/store.h"
#include "tests/support/child_process.h"
#include "tests/support/raw_http.h"
#include "tests/support/test_store.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace mirvo::bench {

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;
using testing::raw_request;
using testing::raw_response;

constexpr int front_port = 18380;
constexpr int first_instance_port = 18381;

double ms_since(clock_type::time_point t0) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
}

// Processor time of a process so far, in seconds.
double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const std::size_t end = text.rfind(')');
    if (end == std::string::npos) return 0;
    std::istringstream fields(text.substr(end + 2));
    std::string f;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::strtoull(f.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtoull(f.c_str(), nullptr, 10);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The process and its children (nginx's workers, PostgreSQL's backends).
std::vector<pid_t> with_children(pid_t parent) {
    std::vector<pid_t> out{parent};
    DIR* d = opendir("/proc");
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0) continue;
        std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), {});
        const std::size_t end = text.rfind(')');
        if (end == std::string::npos) continue;
        std::istringstream fields(text.substr(end + 2));
        std::string state;
        long ppid = 0;
        fields >> state >> ppid;
        if (ppid == parent) out.push_back(pid);
    }
    closedir(d);
    return out;
}

double cpu_of(const std::vector<pid_t>& pids) {
    double total = 0;
    for (pid_t p : pids) total += cpu_seconds(p);
    return total;
}

// The PostgreSQL server that listens on port: its postmaster's id, from the
// command line the test script gave it.
pid_t postmaster_on(int port) {
    DIR* d = opendir("/proc");
    if (!d) return 0;
    pid_t found = 0;
    while (dirent* e = readdir(d)) {
        if (std::atoi(e->d_name) <= 0) continue;
        std::ifstream in(std::string("/proc/") + e->d_name + "/cmdline");
        std::string cmd((std::istreambuf_iterator<char>(in)), {});
        std::replace(cmd.begin(), cmd.end(), '\0', ' ');
        if (cmd.find("/postgres ") != std::string::npos &&
            cmd.find("-p " + std::to_string(port) + " ") != std::string::npos)
            found = static_cast<pid_t>(std::atoi(e->d_name));
    }
    closedir(d);
    return found;
}

int port_of(const std::string& uri) {
    const std::size_t at = uri.rfind(':');
    return at == std::string::npos ? 0 : std::atoi(uri.c_str() + at + 1);
}

// An instance of the service as a process of its own.
class instance {
public:
    instance(int port, const std::string& site, const std::string& db, bool behind_front) {
        std::vector<std::string> args = {"serve", "--port", std::to_string(port), "--site", site, "--db", db};
        if (behind_front) args.insert(args.end(), {"--trusted-front", "127.0.0.1"});
        process_ = std::make_unique<testing::child_process>(MIRVO_SERVER_BINARY, args);
        for (int i = 0; i < 50 && !up_; ++i) {
            const std::optional<std::string> line = process_->read_line(0.2);
            up_ = line && line->find("listening") != std::string::npos;
        }
    }
    bool up() const { return up_; }
    pid_t pid() const { return process_->pid(); }

private:
    std::unique_ptr<testing::child_process> process_;
    bool up_ = false;
};

// nginx with the repository's configuration (scripts/test-nginx.sh).
class front {
public:
    front(const std::string& dir, const std::string& site, const std::vector<int>& instances) : dir_(dir) {
        std::string cmd = std::string(MIRVO_SOURCE_DIR) + "/scripts/test-nginx.sh start '" + dir + "' '" + site + "' " +
                          std::to_string(front_port);
        for (int p : instances) cmd += " " + std::to_string(p);
        up_ = std::system(cmd.c_str()) == 0;
    }
    ~front() {
        const std::string cmd = std::string(MIRVO_SOURCE_DIR) + "/scripts/test-nginx.sh stop '" + dir_ + "'";
        [[maybe_unused]] int rc = std::system(cmd.c_str());
    }
    bool up() const { return up_; }
    std::vector<pid_t> pids() const {
        std::ifstream in(dir_ + "/nginx.pid");
        pid_t master = 0;
        in >> master;
        return master > 0 ? with_children(master) : std::vector<pid_t>{};
    }

private:
    std::string dir_;
    bool up_ = false;
};

struct run_figures {
    std::vector<double> ms;
    long errors = 0;
    double seconds = 0;
    double cpu_instances = 0, cpu_front = 0, cpu_database = 0;  // seconds
    double per_second() const { return seconds > 0 ? static_cast<double>(ms.size()) / seconds : 0; }
    double pct(double p) const {
        return ms.empty() ? 0.0
                          : ms[std::min(ms.size() - 1, static_cast<std::size_t>(p * static_cast<double>(ms.size())))];
    }
    // Milliseconds of processor time per request.
    double per_request(double cpu) const { return ms.empty() ? 0.0 : cpu * 1000.0 / static_cast<double>(ms.size()); }
};

// What a client asks, in turn: mostly polls, now and then its lesson or the
// catalogue, as the client's playback does.
std::string target_of(int client, int round) {
    const std::string who = "/service.aspx?user=bench" + std::to_string(client) +
                            "&password=" + digit_encode("pw" + std::to_string(client));
    if (round % 10 == 3) return who + "&lesson_id=0010&lesson_dir=&action=baselist";
    if (round % 10 == 7) return who + "&lesson_id=0010&lesson_dir=eng01&action=lesson";
    return who + "&lesson_id=0010&lesson_dir=&action=";
}

bool good_reply(const raw_response& r, int round) {
    if (r.status != 200) return false;
    if (round % 10 == 3) return !xml_get_value(r.body, "online_num").empty();
    if (round % 10 == 7) return !xml_get_value(r.body, "my_ro").empty();
    return !xml_get_value(r.body, "new_msg").empty();
}

// Each client from an address of its own (so that the front spreads them).
std::string client_address(int c) {
    return "127.0." + std::to_string(10 + c / 200) + "." + std::to_string(1 + c % 200);
}

struct measured_parts {
    std::vector<pid_t> instances, front, database;
};

run_figures mixed_load(int port, int clients, double seconds, const measured_parts& parts) {
    // Every client's first check (a full password hash) is paid before the
    // clock starts: what is measured is the steady state.
    for (int c = 0; c < clients; ++c) raw_request(port, "GET", target_of(c, 0), {}, 10, client_address(c));
    std::vector<run_figures> per(static_cast<std::size_t>(clients));
    const double cpu_i = cpu_of(parts.instances), cpu_f = cpu_of(parts.front), cpu_d = cpu_of(parts.database);
    const auto started = clock_type::now();
    const auto end = started + std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            run_figures& mine = per[static_cast<std::size_t>(c)];
            for (int round = 1; clock_type::now() < end; ++round) {
                const auto t0 = clock_type::now();
                const raw_response r = raw_request(port, "GET", target_of(c, round), {}, 10, client_address(c));
                mine.ms.push_back(ms_since(t0));
                if (!good_reply(r, round)) ++mine.errors;
            }
        });
    }
    for (auto& t : threads) t.join();
    run_figures all;
    all.seconds = std::chrono::duration<double>(clock_type::now() - started).count();
    all.cpu_instances = cpu_of(parts.instances) - cpu_i;
    all.cpu_front = cpu_of(parts.front) - cpu_f;
    all.cpu_database = cpu_of(parts.database) - cpu_d;
    for (const auto& f : per) {
        all.ms.insert(all.ms.end(), f.ms.begin(), f.ms.end());
        all.errors += f.errors;
    }
    std::sort(all.ms.begin(), all.ms.end());
    return all;
}

// Bytes per second of one file, fetched whole by a few clients at once.
double file_rate(int port, const std::string& path, std::uint64_t size, double seconds, long& errors) {
    constexpr int fetchers = 4;
    std::vector<std::uint64_t> bytes(fetchers, 0);
    std::vector<long> bad(fetchers, 0);
    const auto started = clock_type::now();
    const auto end = started + std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int f = 0; f < fetchers; ++f) {
        threads.emplace_back([&, f] {
            while (clock_type::now() < end) {
                const raw_response r = raw_request(port, "GET", path, {}, 10, "127.0.9." + std::to_string(f + 1));
                if (r.status == 200 && r.body.size() == size)
                    bytes[static_cast<std::size_t>(f)] += r.body.size();
                else
                    ++bad[static_cast<std::size_t>(f)];
            }
        });
    }
    for (auto& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(clock_type::now() - started).count();
    std::uint64_t total = 0;
    for (int f = 0; f < fetchers; ++f) {
        total += bytes[static_cast<std::size_t>(f)];
        errors += bad[static_cast<std::size_t>(f)];
    }
    return static_cast<double>(total) / elapsed;
}

void print_row(const char* name, const run_figures& f) {
    std::printf("  %-34s %7.0f %8.2f %8.2f %7ld %10.3f %7.3f %9.3f\n", name, f.per_second(), f.pct(0.5), f.pct(0.99),
                f.errors, f.per_request(f.cpu_instances), f.per_request(f.cpu_front), f.per_request(f.cpu_database));
}

// Users bench0.. with passwords pw0.. in a store.
bool add_users(const std::string& where, int clients, unsigned iterations, std::string& error) {
    auto db = server::store::open(where, error);
    if (!db) return false;
    for (int c = 0; c < clients; ++c) {
        const std::string canonical = server::canonical_password("pw" + std::to_string(c));
        if (!db->add_user("bench" + std::to_string(c),
                          iterations ? server::hash_password(canonical, iterations) : server::hash_password(canonical),
                          error))
            return false;
    }
    return true;
}

}  // namespace

int run_front_bench(const front_options& o) {
    const double seconds = o.quick ? 1.0 : o.seconds;
    const int clients = o.quick ? 4 : o.clients;
    std::printf(
        "server_bench --front: load average %.2f at the start, %u processors%s\n"
        "  On one machine of 2 cores the load, nginx, the instances and PostgreSQL share the same processors:\n"
        "  these figures show the front's overhead and that everything works together, not how it scales.\n"
        "  The processor time per request of each part is what the arithmetic for N machines takes.\n",
        load_one_minute(), std::thread::hardware_concurrency(), o.quick ? " (quick: tiny sizes)" : "");
    const fs::path dir = fs::temp_directory_path() / ("mirvo-front-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "program.bin") << "program";
    const std::string site = (dir / "site").string();
    const std::string sqlite = (dir / "bench.db").string();
    const std::string pg = testing::fresh_postgresql_database("front_bench");
    if (pg.empty()) return 1;
    std::string error;
    for (const std::string& db : {sqlite, pg}) {
        server::demo_options d{site, db, (dir / "program.bin").string(), "http://127.0.0.1", o.quick ? 1000u : 0u, {}};
        if (!server::init_demo(d, error, [](const std::string&) {}) ||
            !add_users(db, clients, o.quick ? 1000 : 0, error)) {
            std::fprintf(stderr, "server_bench --front: %s\n", error.c_str());
            return 1;
        }
    }
    // A download file of a realistic size beside the demo's small movies.
    const std::uint64_t download_size = o.quick ? 256 * 1024 : 8 * 1024 * 1024;
    {
        std::ofstream big(site + "/dl/bench.bin", std::ios::binary);
        std::string block(64 * 1024, '\0');
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 % 251);
        for (std::uint64_t n = 0; n < download_size; n += block.size()) big << block;
    }
    const std::uint64_t movie_size = fs::file_size(site + "/movies/eng01/0010/01.swf");
    const pid_t postmaster = postmaster_on(port_of(pg));

    std::printf(
        "\nmixed load: %d clients from as many addresses, a fresh connection per request, %.0f s each;\n"
        "  8 polls, 1 lesson, 1 catalogue in 10 requests\n",
        clients, seconds);
    std::printf("  %-34s %7s %8s %8s %7s %10s %7s %9s\n", "", "req/s", "p50 ms", "p99 ms", "errors",
                "cpu ms/req:", "front", "database");
    std::printf("  %-34s %7s %8s %8s %7s %10s %7s %9s\n", "", "", "", "", "", "instances", "", "");
    run_figures sqlite_direct, pg_direct, front_one, front_two;
    long static_errors = 0;
    double movie_service = 0, movie_front = 0, download_service = 0, download_front = 0;
    {
        instance s(first_instance_port, site, sqlite, false);
        if (!s.up()) return std::fprintf(stderr, "server_bench --front: the SQLite instance did not start\n"), 1;
        sqlite_direct = mixed_load(first_instance_port, clients, seconds, {{s.pid()}, {}, {}});
        print_row("1 instance, SQLite, no front", sqlite_direct);
        movie_service = file_rate(first_instance_port, "/movies/eng01/0010/01.swf", movie_size, seconds, static_errors);
        download_service = file_rate(first_instance_port, "/dl/bench.bin", download_size, seconds, static_errors);
    }
    {
        instance a(first_instance_port, site, pg, true);
        instance b(first_instance_port + 1, site, pg, true);
        if (!a.up() || !b.up()) return std::fprintf(stderr, "server_bench --front: an instance did not start\n"), 1;
        const std::vector<pid_t> database = postmaster ? with_children(postmaster) : std::vector<pid_t>{};
        pg_direct = mixed_load(first_instance_port, clients, seconds, {{a.pid()}, {}, database});
        print_row("1 instance, PostgreSQL, no front", pg_direct);
        {
            front f((dir / "front1").string(), site, {first_instance_port});
            if (!f.up()) return std::fprintf(stderr, "server_bench --front: nginx did not start\n"), 1;
            front_one = mixed_load(front_port, clients, seconds, {{a.pid()}, f.pids(), database});
            print_row("nginx, 1 instance, PostgreSQL", front_one);
            movie_front = file_rate(front_port, "/movies/eng01/0010/01.swf", movie_size, seconds, static_errors);
            download_front = file_rate(front_port, "/dl/bench.bin", download_size, seconds, static_errors);
        }
        {
            front f((dir / "front2").string(), site, {first_instance_port, first_instance_port + 1});
            if (!f.up()) return std::fprintf(stderr, "server_bench --front: nginx did not start\n"), 1;
            front_two = mixed_load(front_port, clients, seconds, {{a.pid(), b.pid()}, f.pids(), database});
            print_row("nginx, 2 instances, PostgreSQL", front_two);
        }
    }

    const double instance_ms = front_one.per_request(front_one.cpu_instances);
    const double front_ms = front_one.per_request(front_one.cpu_front);
    const double database_ms = front_one.per_request(front_one.cpu_database);
    std::printf(
        "\nthe front's cost per request: %.3f ms of processor time against %.3f ms of the instance's "
        "(ratio %.2f);\n  p50 through the front / p50 without it: %.2f\n",
        front_ms, instance_ms, instance_ms > 0 ? front_ms / instance_ms : 0.0,
        pg_direct.pct(0.5) > 0 ? front_one.pct(0.5) / pg_direct.pct(0.5) : 0.0);
    std::printf(
        "per processor second: an instance answers %.0f requests, nginx passes on %.0f, PostgreSQL serves %.0f\n",
        instance_ms > 0 ? 1000 / instance_ms : 0.0, front_ms > 0 ? 1000 / front_ms : 0.0,
        database_ms > 0 ? 1000 / database_ms : 0.0);
    std::printf("\nstatic files, 4 clients fetching whole files, %.0f s each:\n", seconds);
    std::printf(
        "  movie (%llu bytes)     via the service %8.1f MB/s, via nginx %8.1f MB/s (ratio nginx/service %.2f)\n",
        static_cast<unsigned long long>(movie_size), movie_service / 1e6, movie_front / 1e6,
        movie_service > 0 ? movie_front / movie_service : 0.0);
    std::printf("  download (%llu bytes) via the service %8.1f MB/s, via nginx %8.1f MB/s (ratio nginx/service %.2f)\n",
                static_cast<unsigned long long>(download_size), download_service / 1e6, download_front / 1e6,
                download_service > 0 ? download_front / download_service : 0.0);
    std::printf("  errors %ld\n", static_errors);
    std::printf("server_bench --front: load average %.2f at the end\n", load_one_minute());
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}

}  // namespace mirvo::bench
