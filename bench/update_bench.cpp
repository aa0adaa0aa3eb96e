// The updater installing a list of 20 files of 5 MB from the reference service
// over loopback, against the same downloads and copies done directly with
// libcurl and a file copy. Runs the real mupdate (offscreen unless a display
// is named) and the real mirvo-server on the deployment port, so it must run
// where that port is free (unshare -n). Prints the times of both, their ratio
// (direct / mupdate; the aim is at least 0.8) and mupdate's peak memory.
//
//   update_bench [--files 20] [--mb 5] [--runs 3]
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

const std::string base_url = "http://127.0.0.1:" + std::to_string(MIRVO_BENCH_PORT);

std::string file_name(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%02d.bin", i + 1);
    return name;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& folder, const std::string& log) {
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

std::size_t to_file(char* data, std::size_t size, std::size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

bool fetch(CURL* c, const std::string& url, const std::string& path, bool durable) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, to_file);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, f);
    long status = 0;
    bool ok = curl_easy_perform(c) == CURLE_OK;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    std::fflush(f);
    if (durable) ::fsync(::fileno(f));
    std::fclose(f);
    return ok && status == 200;
}

void sync_file(const fs::path& p) {
    int fd = ::open(p.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The direct way: download each file into dl/, copy it to its place, remove
// the download. durable adds the syncs the updater makes.
double direct(const fs::path& prog, int files, bool durable) {
    fs::remove_all(prog);
    fs::create_directories(prog / "dl" / "bench");
    auto t0 = clock_type::now();
    CURL* c = curl_easy_init();
    for (int i = 0; i < files; ++i) {
        const fs::path got = prog / "dl" / "bench" / file_name(i);
        if (!fetch(c, base_url + "/bench/" + file_name(i), got.string(), durable))
            std::fprintf(stderr, "update_bench: direct download of %s failed\n", file_name(i).c_str());
        fs::copy_file(got, prog / file_name(i), fs::copy_options::overwrite_existing);
        if (durable) sync_file(prog / file_name(i));
        fs::remove(got);
    }
    curl_easy_cleanup(c);
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

struct updater_run {
    double seconds = 0;
    long peak_kb = 0;
    int status = -1;
};

updater_run updater(const fs::path& prog, int files, const fs::path& work) {
    fs::remove_all(prog);
    fs::create_directories(prog / "dl");
    std::string list = "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<download>\r\n";
    for (int i = 0; i < files; ++i)
        list += "<file order=\"" + std::to_string(i + 1) + "\" get_name=\"bench/" + file_name(i) + "\" save_as=\"" +
                file_name(i) + "\" />\r\n";
    list += "</download>\r\n";
    std::ofstream(prog / "dl" / "download.xml", std::ios::binary) << list;

    auto t0 = clock_type::now();
    pid_t pid = spawn({MIRVO_BENCH_MUPDATE}, prog.string(), (work / "mupdate.log").string());
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    updater_run r;
    r.seconds = std::chrono::duration<double>(clock_type::now() - t0).count();
    r.peak_kb = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

bool installed_whole(const fs::path& prog, const fs::path& site, int files) {
    for (int i = 0; i < files; ++i) {
        std::error_code ec;
        if (fs::file_size(prog / file_name(i), ec) != fs::file_size(site / "bench" / file_name(i))) return false;
    }
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int files = 20, mb = 5, runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--files")) files = std::clamp(std::atoi(argv[i + 1]), 1, 200);
        if (!std::strcmp(argv[i], "--mb")) mb = std::clamp(std::atoi(argv[i + 1]), 1, 60);
        if (!std::strcmp(argv[i], "--runs")) runs = std::clamp(std::atoi(argv[i + 1]), 1, 20);
    }
    if (!std::getenv("DISPLAY")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const fs::path work = fs::temp_directory_path() / ("mirvo-update-bench-" + std::to_string(::getpid()));
    const fs::path site = work / "site";
    fs::create_directories(site / "bench");
    std::mt19937_64 rng(42);
    std::string bytes(std::size_t(mb) << 20, '\0');
    for (int i = 0; i < files; ++i) {
        for (std::size_t k = 0; k + 8 <= bytes.size(); k += 8) {
            const std::uint64_t v = rng();
            std::memcpy(&bytes[k], &v, 8);
        }
        std::ofstream(site / "bench" / file_name(i), std::ios::binary) << bytes;
    }

    pid_t service = spawn({MIRVO_BENCH_SERVER, "serve", "--port", std::to_string(MIRVO_BENCH_PORT), "--site",
                           site.string(), "--db", (work / "bench.db").string()},
                          work.string(), (work / "server.log").string());
    curl_global_init(CURL_GLOBAL_DEFAULT);
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        CURL* c = curl_easy_init();
        std::string got;
        curl_easy_setopt(c, CURLOPT_URL, (base_url + "/testinternet.txt").c_str());
        curl_easy_setopt(
            c, CURLOPT_WRITEFUNCTION, +[](char* d, std::size_t s, std::size_t n, void* out) {
                static_cast<std::string*>(out)->append(d, s * n);
                return s * n;
            });
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &got);
        up = curl_easy_perform(c) == CURLE_OK && got == "your internet is ok!";
        curl_easy_cleanup(c);
        int status = 0;
        if (::waitpid(service, &status, WNOHANG) == service) break;
    }
    if (!up) {
        std::fprintf(stderr,
                     "update_bench: the service did not come up on port %d (is the port taken? run it inside "
                     "unshare -n); see %s\n",
                     MIRVO_BENCH_PORT, (work / "server.log").c_str());
        ::kill(service, SIGTERM);
        return 1;
    }

    std::vector<double> plain, durable, updater_times;
    long peak_kb = 0;
    bool whole = true;
    for (int r = 0; r < runs; ++r) {
        plain.push_back(direct(work / "direct", files, false));
        whole = whole && installed_whole(work / "direct", site, files);
        durable.push_back(direct(work / "direct", files, true));
        const updater_run u = updater(work / "updater", files, work);
        if (u.status != 0) std::fprintf(stderr, "update_bench: mupdate ended with %d\n", u.status);
        whole =
            whole && installed_whole(work / "updater", site, files) && !fs::exists(work / "updater/dl/download.xml");
        updater_times.push_back(u.seconds);
        peak_kb = std::max(peak_kb, u.peak_kb);
    }
    ::kill(service, SIGTERM);
    ::waitpid(service, nullptr, 0);

    const double mb_total = double(files) * mb;
    std::printf("update_bench: %d files of %d MB (%.0f MB), median of %d runs, platform %s\n", files, mb, mb_total,
                runs, std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "display");
    std::printf("  direct libcurl + copy:            %.3f s  (%.0f MB/s)\n", median(plain), mb_total / median(plain));
    std::printf("  direct, synced like the updater:  %.3f s  (%.0f MB/s)\n", median(durable),
                mb_total / median(durable));
    std::printf("  mupdate (whole program):          %.3f s  (%.0f MB/s)\n", median(updater_times),
                mb_total / median(updater_times));
    std::printf("  ratio direct / mupdate:           %.2f plain, %.2f synced (aim: at least 0.8)\n",
                median(plain) / median(updater_times), median(durable) / median(updater_times));
    std::printf("  mupdate peak memory:              %.1f MB\n", double(peak_kb) / 1024.0);
    std::printf("  every file installed whole:       %s\n", whole ? "yes" : "NO");
    fs::remove_all(work);
    return whole ? 0 : 1;
}
