// player_bench: what the movie player costs, the player as it was against the
// player with its savings (MIRVO_PLAYER_SAVINGS off and on), in one run. Each
// measurement runs in a child process of its own, so that memory and CPU are
// those of one player from a fresh start (and switches that Chromium only
// reads at start-up could differ too); "old" and "new" take turns over several
// rounds, and the medians are printed with the machine's load average:
//  - the page start-up time (player created -> Ruffle ready),
//  - the time from LoadMovie to the first movie frame seen (marker 0),
//  - CPU of the client and its QtWebEngineProcess children while a movie
//    plays at 830x470, while it stands on its last frame with a sprite still
//    blinking, and while it stands with nothing moving; the X server's own
//    share is printed beside it (it shows what the client sends it),
//  - memory (PSS of the client and its children) while playing and standing.
// When Debian's Chromium is installed (or MIRVO_BENCH_CHROMIUM names one), it
// plays the same movie with the same Ruffle on a plain page in each round, and
// its CPU and memory while playing are printed beside ours (for comparison
// only: it is what a user could run instead).
// Needs a display:  scripts/with-display.sh build/bench/player_bench [--rounds N] [--quick]
// --quick: one round with short phases (a smoke run: it must end and print).
//   player_bench --hold loop|blink|still SECONDS [old|new]
// keeps one movie on screen and prints CPU every 5 s, for profilers, then how
// many different pictures the view showed.
#include "bench/figures.h"
#include "bench/quick_mode.h"
#include "client/lessons/player/event_wait.h"
#include "client/lessons/player/player_setup.h"
#include "client/lessons/player/shockwave_flash.h"
#include "common/swf/writer.h"
#include "tests/support/test_http_server.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QWebEngineView>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using mirvo::bench::load_average;
using mirvo::bench::median;

using mirvo::CShockwaveflash1;

// ---- what the processes use ------------------------------------------------

// The fields of /proc/<pid>/stat after the command name.
std::vector<std::string> stat_fields(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) return fields;
    std::istringstream rest(line.substr(close + 2));
    for (std::string f; rest >> f;) fields.push_back(f);
    return fields;  // [0] state, [1] ppid, ... [11] utime, [12] stime
}

std::vector<int> all_pids() {
    std::vector<int> pids;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d))
            if (const int pid = std::atoi(e->d_name); pid > 0) pids.push_back(pid);
        closedir(d);
    }
    return pids;
}

// A process and every process below it (QtWebEngineProcess and its helpers).
std::vector<int> process_tree(int root = static_cast<int>(getpid())) {
    std::map<int, std::vector<int>> children;
    for (int pid : all_pids())
        if (const auto f = stat_fields(pid); f.size() > 1) children[std::atoi(f[1].c_str())].push_back(pid);
    std::vector<int> out{root};
    for (std::size_t i = 0; i < out.size(); ++i)
        for (int c : children[out[i]]) out.push_back(c);
    return out;
}

std::vector<std::string> command_line(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    for (std::string arg; std::getline(in, arg, '\0');) args.push_back(arg);
    return args;
}

// The X server of our display, when it is an Xvfb we can see; 0 otherwise.
int x_server_pid() {
    const char* display = std::getenv("DISPLAY");
    if (!display) return 0;
    for (int pid : all_pids()) {
        const auto args = command_line(pid);
        if (args.empty() || args[0].find("Xvfb") == std::string::npos) continue;
        if (std::find(args.begin(), args.end(), std::string(display)) != args.end()) return pid;
    }
    return 0;
}

long kib_field(const std::string& file, const std::string& name) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
    return 0;
}

double pss_mib(int root = static_cast<int>(getpid())) {
    long pss = 0;
    for (int pid : process_tree(root)) pss += kib_field("/proc/" + std::to_string(pid) + "/smaps_rollup", "Pss");
    return pss / 1024.0;
}

long cpu_ticks(const std::vector<int>& pids) {
    long total = 0;
    for (int pid : pids) {
        const auto f = stat_fields(pid);
        if (f.size() > 12) total += std::atol(f[11].c_str()) + std::atol(f[12].c_str());
    }
    return total;
}

struct cpu_share {
    double tree = 0;  // percent of one core: this process and its children
    double x = 0;     // the X server
};

// Used while events are pumped for `ms`.
cpu_share cpu_over(int ms) {
    const int x = x_server_pid();
    const std::vector<int> xs = x ? std::vector<int>{x} : std::vector<int>{};
    const long tree_before = cpu_ticks(process_tree());
    const long x_before = cpu_ticks(xs);
    QElapsedTimer t;
    t.start();
    mirvo::player::run_events_for(ms);
    const double seconds = t.elapsed() / 1000.0 * sysconf(_SC_CLK_TCK) / 100.0;
    return {(cpu_ticks(process_tree()) - tree_before) / seconds, (cpu_ticks(xs) - x_before) / seconds};
}

// ---- the movies -------------------------------------------------------------

// Moving shapes and a frame counter: a busy little lesson movie. The blinking
// sprite keeps drawing after the root stands, so it is optional.
std::string lesson_movie(int frames, int stop_frame, bool sprite, const std::string& trace = {}) {
    mirvo::swf::demo_movie m;
    m.own_trace = trace;
    m.look.frame_rate = 24;
    m.frame_count = frames;
    m.stop_frame = stop_frame;
    m.sprite = sprite;
    return mirvo::swf::make_demo_movie(m);
}

struct bench_player {
    mirvo::testing::test_http_server server;
    CShockwaveflash1 player;

    bench_player() {
        const std::pair<const char*, std::string> movies[] = {
            {"/m/loop.swf", lesson_movie(48, -1, true)},
            {"/m/blink.swf", lesson_movie(24, 23, true)},
            {"/m/still.swf", lesson_movie(24, 23, false)},
        };
        for (const auto& [path, bytes] : movies) {
            mirvo::testing::scripted_response r;
            r.body = bytes;
            server.on(path, r);
        }
        player.resize(830, 470);
        player.show();
    }

    std::string address(const std::string& name) { return server.base_url() + "/m/" + name + ".swf"; }

    bool start(const std::string& name) {
        player.LoadMovie(0, address(name));
        player.SetBackgroundColor(0xFFFFFF);
        player.Play();
        if (name == "loop") return mirvo::player::run_events_until([&] { return player.CurrentFrame() > 0; }, 10000);
        return mirvo::player::run_events_until([&] { return player.TotalFrames() == 24 && !player.IsPlaying(); },
                                               15000);
    }
};

// ---- one measurement (a child process) -------------------------------------

void figure(const char* name, double value) { std::printf("figure %s %.1f\n", name, value); }

// Different pictures among `count` grabs of the view `ms` apart: a check that
// what should move on screen still does.
int distinct_pictures(CShockwaveflash1& player, int count, int ms) {
    std::vector<QImage> seen;
    for (int i = 0; i < count; ++i) {
        const QImage shot = player.view()->grab().toImage();
        if (std::find(seen.begin(), seen.end(), shot) == seen.end()) seen.push_back(shot);
        mirvo::player::run_events_for(ms);
    }
    return static_cast<int>(seen.size());
}

// How long the phases last; quick mode shortens them all.
struct pacing {
    int loads = 6;         // movie loads timed to their first frame
    int settle_ms = 1500;  // after a movie starts or stands, before measuring
    int measure_ms = 5000;
};
pacing phases_for(bool quick) { return quick ? pacing{2, 500, 1500} : pacing{}; }

int measure(const pacing& pace) {
    QElapsedTimer clock;
    clock.start();
    bench_player b;
    if (!mirvo::player::run_events_until([&] { return b.player.page_ready(); }, 60000)) {
        std::fprintf(stderr, "player_bench: the player page never came up\n");
        return 1;
    }
    figure("page_ready_ms", clock.elapsed());

    qint64 first_frame_at = -1;
    QObject::connect(&b.player, &CShockwaveflash1::frame_entered, [&](int index) {
        if (index == 0 && first_frame_at < 0) first_frame_at = clock.elapsed();
    });
    std::vector<qint64> latencies;
    for (int i = 0; i < pace.loads; ++i) {
        first_frame_at = -1;
        clock.restart();
        b.player.LoadMovie(0, b.address(i % 2 ? "blink" : "loop"));
        b.player.SetBackgroundColor(0xFFFFFF);
        b.player.Play();
        if (!mirvo::player::run_events_until([&] { return first_frame_at >= 0; }, 10000)) {
            std::fprintf(stderr, "player_bench: load %d showed no frame\n", i);
            return 1;
        }
        latencies.push_back(first_frame_at);
        mirvo::player::run_events_for(300);
    }
    std::sort(latencies.begin(), latencies.end());
    figure("first_frame_ms", latencies[latencies.size() / 2]);

    const struct {
        const char* movie;
        const char* cpu;
        const char* x;
        const char* pss;
        const char* pictures;
    } phases[] = {
        {"loop", "cpu_playing", "x_playing", "pss_playing", nullptr},
        {"blink", "cpu_blinking", "x_blinking", nullptr, "pictures_blinking"},
        {"still", "cpu_still", "x_still", "pss_still", "pictures_still"},
    };
    for (const auto& p : phases) {
        if (!b.start(p.movie)) {
            std::fprintf(stderr, "player_bench: the %s movie did not come to play or stand\n", p.movie);
            return 1;
        }
        // Let start-up work (and the player's settling) pass first.
        mirvo::player::run_events_for(pace.settle_ms);
        const cpu_share used = cpu_over(pace.measure_ms);
        figure(p.cpu, used.tree);
        figure(p.x, used.x);
        if (p.pss) figure(p.pss, pss_mib());
        // The blinking sprite shows its four colours; nothing else changes.
        if (p.pictures) figure(p.pictures, distinct_pictures(b.player, 12, 70));
    }
    return 0;
}

int hold(const std::string& movie, int seconds) {
    bench_player b;
    if (!mirvo::player::run_events_until([&] { return b.player.page_ready(); }, 60000)) return 1;
    if (!b.start(movie)) {
        std::fprintf(stderr, "player_bench: the %s movie did not start\n", movie.c_str());
        return 1;
    }
    std::printf("holding %s (pid %d)\n", movie.c_str(), static_cast<int>(getpid()));
    std::fflush(stdout);
    for (int s = 0; s < seconds; s += 5) {
        const cpu_share used = cpu_over(5000);
        std::printf("  cpu %5.1f %%  x server %5.1f %%  pss %.0f MiB  frame %d playing %d\n", used.tree, used.x,
                    pss_mib(), b.player.CurrentFrame(), b.player.IsPlaying());
        std::fflush(stdout);
    }
    std::printf("different pictures in 12 grabs 70 ms apart: %d\n", distinct_pictures(b.player, 12, 70));
    return 0;
}

// ---- Chromium on the same Ruffle page ----------------------------------------

std::string chromium_program() {
    const char* named = std::getenv("MIRVO_BENCH_CHROMIUM");
    const std::string program = named && *named ? named : "/usr/bin/chromium";
    return access(program.c_str(), X_OK) == 0 ? program : std::string();
}

std::string file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A plain page with Ruffle playing the looping movie, as a web site would
// have it. Every second the page tells the server how many frames it saw, so
// that the bench knows the movie really plays there.
const char* chromium_page = R"(<!doctype html>
<html><head><meta charset="utf-8">
<style>html, body { margin: 0; width: 100%; height: 100%; overflow: hidden; background: #fff; }
#stage { position: absolute; inset: 0; } #stage > * { width: 100%; height: 100%; display: block; }</style>
<script>window.RufflePlayer = { config: { polyfills: false } };</script>
<script src="ruffle/ruffle.js"></script></head>
<body><div id="stage"></div><script>
  let frames = 0;
  const player = window.RufflePlayer.newest().createPlayer();
  document.getElementById("stage").appendChild(player);
  player.load({ url: "m/loop.swf", autoplay: "on", unmuteOverlay: "hidden", letterbox: "off", splashScreen: false,
                backgroundColor: "#ffffff", quality: "high", scale: "showAll" })
    .then(function () { player.traceObserver = function () { frames++; }; });
  setInterval(function () { fetch("seen?frames=" + frames).catch(function () {}); }, 1000);
</script></body></html>)";

// Frames the page last reported; -1 when it never did.
int frames_seen(const mirvo::testing::test_http_server& server) {
    int seen = -1;
    for (const auto& request : server.requests()) {
        const auto at = request.target.find("seen?frames=");
        if (at != std::string::npos) seen = std::atoi(request.target.c_str() + at + 12);
    }
    return seen;
}

// Used by the tree under root over `ms` (the caller sleeps, nothing to pump).
cpu_share cpu_of_tree(int root, int ms) {
    const int x = x_server_pid();
    const std::vector<int> xs = x ? std::vector<int>{x} : std::vector<int>{};
    const long tree_before = cpu_ticks(process_tree(root));
    const long x_before = cpu_ticks(xs);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() * sysconf(_SC_CLK_TCK) / 100.0;
    return {(cpu_ticks(process_tree(root)) - tree_before) / seconds, (cpu_ticks(xs) - x_before) / seconds};
}

using figures = std::map<std::string, double>;

figures run_chromium(const std::string& program, const std::string& self, const pacing& pace) {
    figures out;
    mirvo::testing::test_http_server server;
    const std::filesystem::path ruffle = std::filesystem::path(self).parent_path() / "ruffle";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ruffle, ec)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        mirvo::testing::scripted_response r;
        r.body = file_bytes(entry.path());
        if (name.ends_with(".wasm")) r.headers.push_back({"Content-Type", "application/wasm"});
        if (name.ends_with(".js")) r.headers.push_back({"Content-Type", "text/javascript"});
        server.on("/ruffle/" + name, r);
    }
    mirvo::testing::scripted_response page;
    page.body = chromium_page;
    page.headers.push_back({"Content-Type", "text/html; charset=utf-8"});
    server.on("/page.html", page);
    mirvo::testing::scripted_response movie;
    movie.body = lesson_movie(48, -1, true, "f");
    server.on("/m/loop.swf", movie);
    server.otherwise(mirvo::testing::scripted_response::text(204, ""));  // the page's reports

    char folder[] = "/tmp/player_bench_chromium_XXXXXX";
    if (!mkdtemp(folder)) return out;
    std::vector<std::string> args = {program,
                                     "--user-data-dir=" + std::string(folder),
                                     "--no-first-run",
                                     "--no-default-browser-check",
                                     "--password-store=basic",
                                     "--autoplay-policy=no-user-gesture-required",
                                     "--window-position=0,0",
                                     "--window-size=830,470",
                                     "--app=" + server.base_url() + "/page.html"};
    if (geteuid() == 0) args.push_back("--no-sandbox");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &files, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    if (spawned == 0) {
        // Until the movie plays there: Ruffle's start in a fresh profile takes a while.
        for (int waited = 0; waited < 30000 && frames_seen(server) < 24; waited += 250)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const int before = frames_seen(server);
        if (before >= 24) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pace.settle_ms));
            const cpu_share used = cpu_of_tree(pid, pace.measure_ms);
            out["cpu_playing"] = used.tree;
            out["x_playing"] = used.x;
            out["pss_playing"] = pss_mib(pid);
        } else {
            std::fprintf(stderr, "player_bench: the movie did not play in Chromium\n");
        }
        kill(-pid, SIGTERM);
        for (int i = 0; i < 50 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::filesystem::remove_all(folder, ec);
    return out;
}

// ---- the comparison (the parent) -------------------------------------------

figures run_child(const std::string& self, const char* settings, bool quick) {
    const std::string command = "'" + self + "' --measure " + settings + (quick ? " --quick" : "");
    figures out;
    FILE* child = popen(command.c_str(), "r");
    if (!child) return out;
    char line[512];
    while (std::fgets(line, sizeof line, child)) {
        char name[128];
        double value = 0;
        if (std::sscanf(line, "figure %127s %lf", name, &value) == 2) out[name] = value;
    }
    if (pclose(child) != 0) std::fprintf(stderr, "player_bench: the %s measurement failed\n", settings);
    return out;
}

int compare(const std::string& self, int rounds, bool quick) {
    std::printf("player_bench: %d rounds, old and new taking turns (player 830x470, 24 fps movies)%s\n", rounds,
                quick ? ", quick" : "");
    const std::string chromium = chromium_program();
    if (chromium.empty())
        std::printf("no Chromium here (/usr/bin/chromium, or MIRVO_BENCH_CHROMIUM): ours alone\n");
    else
        std::printf("Chromium: %s plays the same movie with the same Ruffle in each round\n", chromium.c_str());
    std::printf("load average before: %s\n", load_average().c_str());
    std::map<std::string, std::map<std::string, std::vector<double>>> all;  // settings -> figure -> values
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < 2; ++i) {
            // Alternate which goes first, so a change in the machine's load
            // does not always favour the same side.
            const char* settings = (r + i) % 2 ? "new" : "old";
            const figures f = run_child(self, settings, quick);
            std::printf("round %d %-3s", r + 1, settings);
            for (const auto& [name, value] : f) {
                std::printf("  %s %.1f", name.c_str(), value);
                all[settings][name].push_back(value);
            }
            std::printf("   (load %s)\n", load_average().substr(0, 14).c_str());
            std::fflush(stdout);
        }
        if (chromium.empty()) continue;
        const figures c = run_chromium(chromium, self, phases_for(quick));
        std::printf("round %d chromium", r + 1);
        for (const auto& [name, value] : c) {
            std::printf("  %s %.1f", name.c_str(), value);
            all["chromium"][name].push_back(value);
        }
        std::printf("   (load %s)\n", load_average().substr(0, 14).c_str());
        std::fflush(stdout);
    }
    const struct {
        const char* name;
        const char* label;
    } rows[] = {
        {"page_ready_ms", "page ready after creation (ms)"},
        {"first_frame_ms", "LoadMovie -> first frame (ms)"},
        {"cpu_playing", "CPU playing (% of a core)"},
        {"x_playing", "  X server meanwhile (%)"},
        {"cpu_blinking", "CPU standing, sprite blinking (%)"},
        {"x_blinking", "  X server meanwhile (%)"},
        {"cpu_still", "CPU standing, nothing moving (%)"},
        {"x_still", "  X server meanwhile (%)"},
        {"pss_playing", "PSS playing (MiB)"},
        {"pss_still", "PSS standing (MiB)"},
        {"pictures_blinking", "pictures in 12 grabs, blinking (4)"},
        {"pictures_still", "pictures in 12 grabs, still (1)"},
    };
    std::printf("\nmedians of %d rounds            %10s %10s\n", rounds, "old", "new");
    for (const auto& row : rows)
        std::printf("  %-34s %10.1f %10.1f\n", row.label, median(all["old"][row.name]), median(all["new"][row.name]));
    std::printf(
        "targets: CPU playing <= 15 %%, standing with a sprite blinking <= 10 %%, standing with nothing "
        "moving <= 5 %%, PSS <= 400 MiB\n");
    if (!all["chromium"].empty()) {
        const double ours = median(all["new"]["cpu_playing"]), theirs = median(all["chromium"]["cpu_playing"]);
        std::printf(
            "Chromium, same movie and Ruffle on a page: CPU playing %.1f %% (X server %.1f %%), PSS %.1f MiB;\n"
            "  ours with savings uses %.2f of its CPU and %.2f of its memory\n",
            theirs, median(all["chromium"]["x_playing"]), median(all["chromium"]["pss_playing"]),
            theirs > 0 ? ours / theirs : 0.0,
            median(all["chromium"]["pss_playing"]) > 0
                ? median(all["new"]["pss_playing"]) / median(all["chromium"]["pss_playing"])
                : 0.0);
    }
    std::printf("load average after: %s\n", load_average().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = mirvo::bench::take_quick(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The web engine's start-up report would bury the figures.
    setenv("QT_LOGGING_RULES", "qt.webenginecontext.info=false", 0);
    if (args.size() >= 2 && args[0] == "--measure") {
        if (args[1] == "old") setenv("MIRVO_PLAYER_SAVINGS", "off", 1);
        mirvo::prepare_movie_player(argc, argv);
        QApplication app(argc, argv);
        return measure(phases_for(quick));
    }
    if (args.size() >= 3 && args[0] == "--hold") {
        if (args.size() >= 4 && args[3] == "old") setenv("MIRVO_PLAYER_SAVINGS", "off", 1);
        mirvo::prepare_movie_player(argc, argv);
        QApplication app(argc, argv);
        return hold(args[1], std::atoi(args[2].c_str()));
    }
    int rounds = quick ? 1 : 5;
    if (args.size() >= 2 && args[0] == "--rounds") rounds = std::max(1, std::atoi(args[1].c_str()));
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 1;
    self[n] = '\0';
    return compare(self, rounds, quick);
}
