// Download throughput over loopback: http_download_file, with its 99-byte
// reads, a pump, a status text and a progress step per read, against libcurl
// writing the same file straight from its receive buffer. Prints both speeds
// and their ratio (the aim is at least 0.5).
#include "bench/figures.h"
#include "bench/quick_mode.h"
#include "common/http/http.h"
#include "common/ui/status.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_http_server.h"

#include <curl/curl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using mirvo::bench::median;

using clock_type = std::chrono::steady_clock;

// CPU seconds of the calling thread: less disturbed than wall time when other
// work shares the machine.
double thread_cpu() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

struct timing {
    double wall = 0, cpu = 0;
};

// Stand-ins that keep what a widget would keep and paint nothing.
class quiet_status : public mirvo::status_line {
public:
    void set_text(const std::string& gbk) override { text_ = gbk; }
    void repaint() override { ++repaints_; }
    std::string text_;
    long repaints_ = 0;
};

class quiet_bar : public mirvo::progress_bar {
public:
    void set_range(int, int hi) override { high_ = hi; }
    void set_pos(int p) override { pos_ = p; }
    int pos() const override { return pos_; }
    void set_visible(bool) override {}
    void repaint() override {}
    int high_ = 0, pos_ = 0;
};

std::size_t to_file(char* data, std::size_t size, std::size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

timing plain_curl(const std::string& url, const std::string& path) {
    double c0 = thread_cpu();
    auto t0 = clock_type::now();
    FILE* f = std::fopen(path.c_str(), "wb");
    CURL* c = curl_easy_init();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, to_file);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, f);
    CURLcode rc = curl_easy_perform(c);
    curl_easy_cleanup(c);
    std::fclose(f);
    timing t{std::chrono::duration<double>(clock_type::now() - t0).count(), thread_cpu() - c0};
    if (rc != CURLE_OK) std::fprintf(stderr, "plain libcurl failed: %s\n", curl_easy_strerror(rc));
    return t;
}

timing mirvo_download(const std::string& base, const std::string& root) {
    quiet_status status;
    quiet_bar bar;
    double c0 = thread_cpu();
    auto t0 = clock_type::now();
    int rc = mirvo::http_download_file(&bar, base, "big.bin", root, &status);
    timing t{std::chrono::duration<double>(clock_type::now() - t0).count(), thread_cpu() - c0};
    if (rc != 0) std::fprintf(stderr, "http_download_file failed: %d\n", rc);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = mirvo::bench::take_quick(argc, argv);
    const std::size_t size = quick ? 2u << 20 : 50u << 20;
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : quick ? 1 : 7;
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = char((i * 131) >> 3);

    mirvo::testing::test_http_server server;
    server.on("/big.bin", mirvo::testing::scripted_response::text(200, std::move(body)));
    mirvo::testing::temp_folder root;
    std::string path = root.path() + "/big.bin";

    std::vector<double> ours, theirs, ours_cpu, theirs_cpu;
    mirvo_download(server.base_url(), root.path());  // warm-up: page cache, allocator
    plain_curl(server.base_url() + "/big.bin", path);
    for (int i = 0; i < rounds; ++i) {
        timing a = mirvo_download(server.base_url(), root.path());
        if (std::filesystem::file_size(path) != size) std::fprintf(stderr, "size mismatch\n");
        timing b = plain_curl(server.base_url() + "/big.bin", path);
        ours.push_back(a.wall), ours_cpu.push_back(a.cpu);
        theirs.push_back(b.wall), theirs_cpu.push_back(b.cpu);
    }
    double mb = double(size) / (1 << 20);
    auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    std::printf("download of %.0f MB over loopback, %d rounds each, alternating\n", mb, rounds);
    std::printf("                                          median MB/s   best MB/s   median CPU ms\n");
    std::printf(
        "  http_download_file (99-byte reads,\n"
        "    pump, status and progress per read):   %8.1f    %8.1f    %8.1f\n",
        mb / median(ours), mb / best(ours), 1e3 * median(ours_cpu));
    std::printf("  libcurl writing the file directly:       %8.1f    %8.1f    %8.1f\n", mb / median(theirs),
                mb / best(theirs), 1e3 * median(theirs_cpu));
    std::printf("  ratio (target >= 0.50): median %.2f, best %.2f\n", median(theirs) / median(ours),
                best(theirs) / best(ours));
    return 0;
}
