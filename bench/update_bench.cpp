// The updater installing lists from the reference service over loopback, the
// lists signed with the build's key (its demo key) as a client would hand
// them over. Runs the real mupdate (offscreen unless a display is named) and
// the real mirvo-server behind a counting relay on the deployment port, so it
// must run where that port is free (unshare -n). Prints:
//  - a whole list of files against the same downloads and copies done
//    directly with libcurl (the aim: direct / mupdate at least 0.8), and
//    mupdate's peak memory;
//  - the same list again with one file changed: bytes moved and time against
//    the whole list (the aim: one file's bytes);
//  - one file whose download is killed half-way and run again: bytes moved
//    over both runs against the file's size (the aim: at most 1.05 times),
//    and the second run's time against a whole download of the file.
//
//   update_bench [--files 20] [--mb 5] [--runs 3] [--resume-mb 40]
//   update_bench --quick     tiny sizes, one run: ends in seconds, aims not judged
#include "bench/figures.h"
#include "common/sign/sign.h"
#include "common/sign/update_identity.h"
#include "tests/support/relay.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using mirvo::bench::median;

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

// The updater asks the deployment port; the service answers behind the relay.
constexpr int relay_port = MIRVO_BENCH_PORT;
constexpr int service_port = MIRVO_BENCH_PORT + 1;
const std::string base_url = "http://127.0.0.1:" + std::to_string(relay_port);
constexpr const char* target = "bench.exe";

struct settings {
    int files = 20;
    int mb = 5;
    int runs = 3;
    int resume_mb = 40;
    bool quick = false;
    std::size_t file_bytes() const { return quick ? 256u << 10 : std::size_t(mb) << 20; }
    std::size_t resume_bytes() const { return quick ? 2u << 20 : std::size_t(resume_mb) << 20; }
    // How long mupdate may take before it counts as hung (a box waits).
    std::chrono::seconds patience() const { return std::chrono::seconds(quick ? 60 : 900); }
};

std::string file_name(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%02d.bin", i + 1);
    return name;
}

std::string random_bytes(std::size_t n, std::mt19937_64& rng) {
    std::string bytes(n, '\0');
    for (std::size_t k = 0; k + 8 <= n; k += 8) {
        const std::uint64_t v = rng();
        std::memcpy(&bytes[k], &v, 8);
    }
    return bytes;
}

std::optional<std::string> read_whole(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_whole(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

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

// The lists the client would hand over: signed with the build's key when it
// has one, naming the bench's target and a version.
class list_writer {
public:
    explicit list_writer(std::optional<mirvo::private_key> key) : key_(std::move(key)) {}

    void write(const fs::path& prog, const fs::path& site, const std::vector<std::string>& names, int version) const {
        std::string list = "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<download>\r\n" +
                           mirvo::list_identity_elements({target, std::to_string(version)});
        int order = 0;
        for (const std::string& name : names) {
            const std::string bytes = read_whole(site / "bench" / name).value_or("");
            list += "<file order=\"" + std::to_string(++order) + "\" get_name=\"bench/" + name + "\" save_as=\"" +
                    name + "\" sha256=\"" + mirvo::sha256_hex(bytes) + "\" size=\"" + std::to_string(bytes.size()) +
                    "\" />\r\n";
        }
        list += "</download>\r\n";
        fs::create_directories(prog / "dl");
        write_whole(prog / "dl" / "download.xml", list);
        if (key_) write_whole(prog / "dl" / "download.xml.sig", mirvo::signature_text(*key_, list));
    }
    bool signs() const { return key_.has_value(); }

private:
    std::optional<mirvo::private_key> key_;
};

std::optional<mirvo::private_key> build_key() {
    const std::string path = MIRVO_BENCH_KEY_FILE;
    if (path.empty()) return std::nullopt;
    const std::optional<std::string> text = read_whole(path);
    return text ? mirvo::parse_private_key(*text) : std::nullopt;
}

struct updater_run {
    double seconds = 0;
    long peak_kb = 0;
    int status = -1;
    bool hung = false;
    long long bytes_moved = 0;
};

// Runs mupdate in prog; when kill_when says so (checked every few
// milliseconds), kills it as a power cut would.
template <class KillWhen>
updater_run run_updater(const fs::path& prog, const fs::path& work, const mirvo::testing::relay& relay,
                        const settings& s, KillWhen kill_when) {
    const long long bytes_before = relay.bytes_to_clients();
    const auto t0 = clock_type::now();
    pid_t pid = spawn({MIRVO_BENCH_MUPDATE}, prog.string(), (work / "mupdate.log").string());
    updater_run r;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (kill_when() || clock_type::now() - t0 > s.patience()) {
            r.hung = !kill_when();
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.seconds = std::chrono::duration<double>(clock_type::now() - t0).count();
    r.peak_kb = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // The relay hands on what is in flight a moment after the program ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    r.bytes_moved = relay.bytes_to_clients() - bytes_before;
    return r;
}

updater_run run_updater(const fs::path& prog, const fs::path& work, const mirvo::testing::relay& relay,
                        const settings& s) {
    return run_updater(prog, work, relay, s, [] { return false; });
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
double direct(const fs::path& prog, const std::vector<std::string>& names, bool durable) {
    fs::remove_all(prog);
    fs::create_directories(prog / "dl" / "bench");
    auto t0 = clock_type::now();
    CURL* c = curl_easy_init();
    for (const std::string& name : names) {
        const fs::path got = prog / "dl" / "bench" / name;
        if (!fetch(c, base_url + "/bench/" + name, got.string(), durable))
            std::fprintf(stderr, "update_bench: direct download of %s failed\n", name.c_str());
        fs::copy_file(got, prog / name, fs::copy_options::overwrite_existing);
        if (durable) sync_file(prog / name);
        fs::remove(got);
    }
    curl_easy_cleanup(c);
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

bool installed_whole(const fs::path& prog, const fs::path& site, const std::vector<std::string>& names) {
    for (const std::string& name : names)
        if (read_whole(prog / name) != read_whole(site / "bench" / name)) return false;
    return true;
}

bool service_answers() {
    CURL* c = curl_easy_init();
    std::string got;
    curl_easy_setopt(c, CURLOPT_URL, (base_url + "/testinternet.txt").c_str());
    curl_easy_setopt(
        c, CURLOPT_WRITEFUNCTION, +[](char* d, std::size_t s, std::size_t n, void* out) {
            static_cast<std::string*>(out)->append(d, s * n);
            return s * n;
        });
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &got);
    const bool up = curl_easy_perform(c) == CURLE_OK && got == "your internet is ok!";
    curl_easy_cleanup(c);
    return up;
}

settings parse(int argc, char** argv) {
    settings s;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--quick")) s.quick = true;
        if (!has_value) continue;
        if (!std::strcmp(argv[i], "--files")) s.files = std::clamp(std::atoi(argv[i + 1]), 1, 200);
        if (!std::strcmp(argv[i], "--mb")) s.mb = std::clamp(std::atoi(argv[i + 1]), 1, 60);
        if (!std::strcmp(argv[i], "--runs")) s.runs = std::clamp(std::atoi(argv[i + 1]), 1, 20);
        if (!std::strcmp(argv[i], "--resume-mb")) s.resume_mb = std::clamp(std::atoi(argv[i + 1]), 2, 500);
    }
    if (s.quick) {
        s.files = 3;
        s.runs = 1;
    }
    return s;
}

// Everything a case needs: the folders, the running service behind the relay.
struct bench {
    settings s;
    fs::path work, site;
    list_writer lists{build_key()};
    std::vector<std::string> names;
    std::unique_ptr<mirvo::testing::relay> relay;
    bool whole = true;
    bool hung = false;

    updater_run install(const fs::path& prog, const std::vector<std::string>& files, int version) {
        lists.write(prog, site, files, version);
        const updater_run r = run_updater(prog, work, *relay, s);
        note(r, prog, files);
        return r;
    }
    void note(const updater_run& r, const fs::path& prog, const std::vector<std::string>& files) {
        if (r.hung)
            std::fprintf(stderr, "update_bench: mupdate did not end (see %s)\n", (work / "mupdate.log").c_str());
        hung = hung || r.hung;
        whole = whole && installed_whole(prog, site, files) && !fs::exists(prog / "dl/download.xml");
    }
};

void whole_list(bench& b) {
    std::vector<double> plain, durable, updater_times;
    long peak_kb = 0;
    double mb_moved = 0;
    for (int r = 0; r < b.s.runs; ++r) {
        plain.push_back(direct(b.work / "direct", b.names, false));
        b.whole = b.whole && installed_whole(b.work / "direct", b.site, b.names);
        durable.push_back(direct(b.work / "direct", b.names, true));
        fs::remove_all(b.work / "updater");
        const updater_run u = b.install(b.work / "updater", b.names, 1);
        updater_times.push_back(u.seconds);
        peak_kb = std::max(peak_kb, u.peak_kb);
        mb_moved = double(u.bytes_moved) / 1048576.0;
    }
    const double mb_total = double(b.names.size()) * double(b.s.file_bytes()) / 1048576.0;
    std::printf("update_bench: %zu files of %.2f MB (%.1f MB), median of %d runs, lists %s, platform %s\n",
                b.names.size(), double(b.s.file_bytes()) / 1048576.0, mb_total, b.s.runs,
                b.lists.signs() ? "signed" : "unsigned",
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "display");
    std::printf("  direct libcurl + copy:            %.3f s  (%.0f MB/s)\n", median(plain), mb_total / median(plain));
    std::printf("  direct, synced like the updater:  %.3f s  (%.0f MB/s)\n", median(durable),
                mb_total / median(durable));
    std::printf("  mupdate (whole program):          %.3f s  (%.0f MB/s), %.1f MB moved\n", median(updater_times),
                mb_total / median(updater_times), mb_moved);
    std::printf("  ratio direct / mupdate:           %.2f plain, %.2f synced (aim: at least 0.8)\n",
                median(plain) / median(updater_times), median(durable) / median(updater_times));
    std::printf("  mupdate peak memory:              %.1f MB\n", double(peak_kb) / 1024.0);
}

// Relays at full speed from now on (slow: at that pace for a long while).
void use_relay(bench& b, long slow_bytes_per_second = 0) {
    b.relay->stop();
    mirvo::testing::relay::options o;
    o.upstream_port = service_port;
    o.slow_bytes_per_second = slow_bytes_per_second;
    o.slow_seconds = slow_bytes_per_second > 0 ? 3600 : 0;
    b.relay = std::make_unique<mirvo::testing::relay>(relay_port, o);
}

// The whole list installed, then one file changed on the site and the list
// published again: only that file should travel.
void one_changed_file(bench& b, std::mt19937_64& rng) {
    std::vector<double> whole_s, changed_s;
    double whole_mb = 0, changed_mb = 0;
    for (int r = 0; r < b.s.runs && !b.hung; ++r) {
        const fs::path prog = b.work / "changed";
        fs::remove_all(prog);
        const updater_run first = b.install(prog, b.names, 1);
        write_whole(b.site / "bench" / b.names.front(), random_bytes(b.s.file_bytes(), rng));
        const updater_run again = b.install(prog, b.names, 2);
        whole_s.push_back(first.seconds);
        changed_s.push_back(again.seconds);
        whole_mb = double(first.bytes_moved) / 1048576.0;
        changed_mb = double(again.bytes_moved) / 1048576.0;
    }
    std::printf("update_bench: one of %zu files changed, median of %d runs\n", b.names.size(), b.s.runs);
    std::printf("  whole list:                       %.3f s, %.2f MB moved\n", median(whole_s), whole_mb);
    std::printf(
        "  one file changed:                 %.3f s (%.2f of the whole list's), %.2f MB moved (one file: %.2f MB)\n",
        median(changed_s), median(changed_s) / median(whole_s), changed_mb, double(b.s.file_bytes()) / 1048576.0);
}

// One large file: its download killed half-way (the relay slowed so that
// half-way can be seen), then run again at full speed.
void resumed_download(bench& b, std::mt19937_64& rng) {
    const std::string name = "big.bin";
    const std::size_t size = b.s.resume_bytes();
    write_whole(b.site / "bench" / name, random_bytes(size, rng));
    const fs::path prog = b.work / "resumed";
    const fs::path partial = prog / "bench" / (".download." + name + ".resume");
    std::vector<double> whole_s, rest_s, moved;
    double kept_mb = 0;
    for (int r = 0; r < b.s.runs && !b.hung; ++r) {
        fs::remove_all(prog);
        whole_s.push_back(b.install(prog, {name}, 1).seconds);

        fs::remove_all(prog);
        b.lists.write(prog, b.site, {name}, 1);
        use_relay(b, long(size / 3));  // half-way after a second and a half
        const updater_run cut = run_updater(prog, b.work, *b.relay, b.s, [&] {
            std::error_code ec;
            return fs::file_size(partial, ec) >= size / 2 && !ec;
        });
        std::error_code ec;
        kept_mb = double(fs::file_size(partial, ec)) / 1048576.0;
        use_relay(b);
        const updater_run rest = run_updater(prog, b.work, *b.relay, b.s);
        b.note(rest, prog, {name});
        rest_s.push_back(rest.seconds);
        moved.push_back(double(cut.bytes_moved + rest.bytes_moved) / double(size));
    }
    std::printf("update_bench: a download of %.1f MB killed half-way and run again, median of %d runs\n",
                double(size) / 1048576.0, b.s.runs);
    std::printf("  whole download:                   %.3f s\n", median(whole_s));
    std::printf("  run again (%.1f MB were kept):    %.3f s (%.2f of the whole download's)\n", kept_mb, median(rest_s),
                median(rest_s) / median(whole_s));
    std::printf("  moved over both runs:             %.3f of the file (aim: at most 1.05)\n", median(moved));
}

}  // namespace

int main(int argc, char** argv) {
    bench b;
    b.s = parse(argc, argv);
    if (!std::getenv("DISPLAY")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    b.work = fs::temp_directory_path() / ("mirvo-update-bench-" + std::to_string(::getpid()));
    b.site = b.work / "site";
    fs::create_directories(b.site / "bench");
    std::mt19937_64 rng(42);
    for (int i = 0; i < b.s.files; ++i) {
        b.names.push_back(file_name(i));
        write_whole(b.site / "bench" / b.names.back(), random_bytes(b.s.file_bytes(), rng));
    }

    pid_t service = spawn({MIRVO_BENCH_SERVER, "serve", "--port", std::to_string(service_port), "--site",
                           b.site.string(), "--db", (b.work / "bench.db").string()},
                          b.work.string(), (b.work / "server.log").string());
    b.relay = std::make_unique<mirvo::testing::relay>(relay_port, mirvo::testing::relay::options{service_port});
    curl_global_init(CURL_GLOBAL_DEFAULT);
    bool up = false;
    for (int i = 0; i < 100 && !up && b.relay->listening(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        up = service_answers();
        int status = 0;
        if (::waitpid(service, &status, WNOHANG) == service) break;
    }
    if (!up) {
        std::fprintf(stderr,
                     "update_bench: the service did not come up behind port %d (is the port taken? run it inside "
                     "unshare -n); see %s\n",
                     relay_port, (b.work / "server.log").c_str());
        ::kill(service, SIGTERM);
        return 1;
    }

    whole_list(b);
    if (!b.hung) one_changed_file(b, rng);
    if (!b.hung) resumed_download(b, rng);
    b.relay->stop();
    ::kill(service, SIGTERM);
    ::waitpid(service, nullptr, 0);
    std::printf("  every file installed whole:       %s\n", b.whole && !b.hung ? "yes" : "NO");
    fs::remove_all(b.work);
    return b.whole && !b.hung ? 0 : 1;
}
