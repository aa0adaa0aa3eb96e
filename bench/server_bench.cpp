// Load check of mirvo-server: N clients poll the request page for a fixed time
// over loopback, each with its own user and a fresh digit-coded password per
// request, as the client's playback timer does. Prints requests per second,
// latency percentiles and errors.
//
//   server_bench [--clients 50] [--seconds 10]
#include "common/http/http.h"
#include "common/protocol/digit_code.h"
#include "common/ui/status.h"
#include "common/xmltext/xmltext.h"
#include "server/demo_site.h"
#include "server/http_server.h"
#include "server/password.h"
#include "server/service.h"
#include "server/store.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
    int clients = 50;
    int seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--clients"))
            clients = std::clamp(std::atoi(argv[i + 1]), 1, 500);
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::clamp(std::atoi(argv[i + 1]), 1, 120);
    }
    // The bench measures the service, not the client's pauses between characters.
    mirvo::no_wait_pump pump;
    mirvo::scoped_message_pump use_pump(pump);

    const fs::path dir = fs::temp_directory_path() / ("mirvo-server-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "program.bin") << "program";
    mirvo::server::demo_options o{(dir / "site").string(), (dir / "bench.db").string(), (dir / "program.bin").string(),
                                  "http://127.0.0.1", 0};
    std::string error;
    if (!mirvo::server::init_demo(o, error, [](const std::string&) {})) {
        std::fprintf(stderr, "server_bench: %s\n", error.c_str());
        return 1;
    }
    auto db = mirvo::server::store::open(o.db, error);
    if (!db) {
        std::fprintf(stderr, "server_bench: %s\n", error.c_str());
        return 1;
    }
    for (int c = 0; c < clients; ++c) {
        // Full-strength hashes: the first request of each client pays for one check.
        db->add_user("bench" + std::to_string(c),
                     mirvo::server::hash_password(mirvo::server::canonical_password("pw" + std::to_string(c))), error);
    }
    mirvo::server::service_options so;
    so.site_folder = o.site;
    so.request_page = "service.aspx";
    mirvo::server::service svc(*db, so);
    mirvo::server::http_server server(svc, {});
    const int port = server.bind("127.0.0.1", 0);
    if (port <= 0) {
        std::fprintf(stderr, "server_bench: cannot bind\n");
        return 1;
    }
    server.start();
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/service.aspx?user=bench";

    std::atomic<long> errors{0};
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    const auto end = clock_type::now() + std::chrono::seconds(seconds);
    const auto started = clock_type::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            auto& mine = latencies[static_cast<std::size_t>(c)];
            while (clock_type::now() < end) {
                const std::string url = base + std::to_string(c) +
                                        "&password=" + mirvo::digit_encode("pw" + std::to_string(c)) +
                                        "&lesson_id=0010&lesson_dir=&action=";
                const auto t0 = clock_type::now();
                const std::string reply = mirvo::http_get_text(url);
                mine.push_back(std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
                if (mirvo::xml_get_value(reply, "new_msg").empty()) ++errors;
            }
        });
    }
    for (auto& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(clock_type::now() - started).count();
    server.stop();

    std::vector<double> all;
    for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    auto pct = [&](double p) {
        return all.empty() ? 0.0 : all[std::min(all.size() - 1, static_cast<std::size_t>(p * all.size()))];
    };
    std::printf("server_bench: %d clients polling for %.1f s on loopback\n", clients, elapsed);
    std::printf(
        "  requests   %zu\n  per second %.0f\n  p50        %.2f ms\n  p99        %.2f ms\n"
        "  max        %.2f ms\n  errors     %ld\n",
        all.size(), all.size() / elapsed, pct(0.50), pct(0.99), all.empty() ? 0.0 : all.back(), errors.load());
    db.reset();
    fs::remove_all(dir);
    return errors.load() == 0 ? 0 : 1;
}
