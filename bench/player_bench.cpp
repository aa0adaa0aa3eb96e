// player_bench: what the movie player costs. Prints
//  - the page start-up time (player created -> Ruffle ready),
//  - the time from LoadMovie to the first movie frame seen (marker 0), on
//    loopback with the player already created,
//  - memory (RSS and PSS of the client and its QtWebEngineProcess children)
//    and CPU while a movie plays and while it stands on its last frame.
// Needs a display: run it as  xvfb-run -a bench/player_bench
#include "client/lessons/player/event_wait.h"
#include "client/lessons/player/player_setup.h"
#include "client/lessons/player/shockwave_flash.h"
#include "common/swf/writer.h"
#include "tests/support/test_http_server.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using mirvo::CShockwaveflash1;

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

// The client and every process below it (QtWebEngineProcess and its helpers).
std::vector<int> process_tree() {
    std::map<int, std::vector<int>> children;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            const int pid = std::atoi(e->d_name);
            if (pid <= 0) continue;
            const auto f = stat_fields(pid);
            if (f.size() > 1) children[std::atoi(f[1].c_str())].push_back(pid);
        }
        closedir(d);
    }
    std::vector<int> out{static_cast<int>(getpid())};
    for (std::size_t i = 0; i < out.size(); ++i)
        for (int c : children[out[i]]) out.push_back(c);
    return out;
}

long kib_field(const std::string& file, const std::string& name) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
    return 0;
}

void print_memory(const char* when) {
    long rss = 0, pss = 0;
    int processes = 0;
    for (int pid : process_tree()) {
        const std::string base = "/proc/" + std::to_string(pid);
        rss += kib_field(base + "/status", "VmRSS");
        pss += kib_field(base + "/smaps_rollup", "Pss");
        ++processes;
    }
    std::printf("  memory %-20s RSS %7.1f MiB  PSS %7.1f MiB  (%d processes)\n", when, rss / 1024.0, pss / 1024.0,
                processes);
}

long cpu_ticks() {
    long total = 0;
    for (int pid : process_tree()) {
        const auto f = stat_fields(pid);
        if (f.size() > 12) total += std::atol(f[11].c_str()) + std::atol(f[12].c_str());
    }
    return total;
}

// Percent of one core used by the whole tree while events are pumped.
double cpu_percent_over(int ms) {
    const long before = cpu_ticks();
    QElapsedTimer t;
    t.start();
    mirvo::player::run_events_for(ms);
    const long used = cpu_ticks() - before;
    return 100.0 * used / sysconf(_SC_CLK_TCK) / (t.elapsed() / 1000.0);
}

// Moving shapes and a frame counter: a busy little lesson movie. The blinking
// sprite keeps drawing after the root stands, so it is optional.
std::string lesson_movie(int frames, int stop_frame, bool sprite) {
    mirvo::swf::demo_movie m;
    m.look.frame_rate = 24;
    m.frame_count = frames;
    m.stop_frame = stop_frame;
    m.sprite = sprite;
    return mirvo::swf::make_demo_movie(m);
}

void print_load_average() {
    std::ifstream in("/proc/loadavg");
    std::string avg;
    std::getline(in, avg);
    std::printf("load average: %s\n", avg.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    mirvo::prepare_movie_player(argc, argv);
    QApplication app(argc, argv);
    mirvo::testing::test_http_server server;
    const std::pair<const char*, std::string> movies[] = {
        {"/m/loop.swf", lesson_movie(48, -1, true)},
        {"/m/end.swf", lesson_movie(24, 23, true)},
        {"/m/end_still.swf", lesson_movie(24, 23, false)},
    };
    for (const auto& [path, bytes] : movies) {
        mirvo::testing::scripted_response r;
        r.body = bytes;
        server.on(path, r);
    }
    print_load_average();
    print_memory("before the player");

    QElapsedTimer clock;
    clock.start();
    CShockwaveflash1 player;
    player.resize(830, 470);
    player.show();
    if (!mirvo::player::run_events_until([&] { return player.page_ready(); }, 60000)) {
        std::fprintf(stderr, "player_bench: the player page never came up\n");
        return 1;
    }
    std::printf("player page ready (Ruffle compiled) %lld ms after creation\n", clock.elapsed());
    print_memory("player idle");

    qint64 first_frame_at = -1;
    QObject::connect(&player, &CShockwaveflash1::frame_entered, [&](int index) {
        if (index == 0 && first_frame_at < 0) first_frame_at = clock.elapsed();
    });
    std::vector<qint64> latencies;
    constexpr int loads = 12;
    for (int i = 0; i < loads; ++i) {
        first_frame_at = -1;
        clock.restart();
        player.LoadMovie(0, server.base_url() + (i % 2 ? "/m/end.swf" : "/m/loop.swf"));
        player.SetBackgroundColor(0xFFFFFF);
        player.Play();
        if (!mirvo::player::run_events_until([&] { return first_frame_at >= 0; }, 10000)) {
            std::fprintf(stderr, "player_bench: load %d showed no frame\n", i);
            return 1;
        }
        latencies.push_back(first_frame_at);
        mirvo::player::run_events_for(300);
    }
    const qint64 first = latencies.front();
    std::sort(latencies.begin(), latencies.end());
    std::printf("LoadMovie -> first frame (marker 0), %d loads on loopback:\n", loads);
    std::printf("  first %lld ms; min %lld ms, median %lld ms, max %lld ms\n", first, latencies.front(),
                latencies[latencies.size() / 2], latencies.back());

    player.LoadMovie(0, server.base_url() + "/m/loop.swf");
    if (!mirvo::player::run_events_until([&] { return player.CurrentFrame() > 0; }, 10000))
        std::fprintf(stderr, "player_bench: the looping movie did not start\n");
    mirvo::player::run_events_for(1000);
    std::printf("while a 24 fps movie plays (player 830x470):\n");
    std::printf("  cpu %.1f %% of one core over 5 s\n", cpu_percent_over(5000));
    print_memory("playing");

    for (const char* name : {"/m/end.swf", "/m/end_still.swf"}) {
        player.LoadMovie(0, server.base_url() + name);
        if (!mirvo::player::run_events_until([&] { return player.TotalFrames() == 24 && !player.IsPlaying(); }, 15000))
            std::fprintf(stderr, "player_bench: the movie did not come to stand\n");
        mirvo::player::run_events_for(1000);
        std::printf("while it stands on its last frame (%d of %d), %s:\n", player.CurrentFrame(), player.TotalFrames(),
                    std::string(name) == "/m/end.swf" ? "its sprite still blinking" : "nothing moving");
        std::printf("  cpu %.1f %% of one core over 5 s\n", cpu_percent_over(5000));
        print_memory("standing");
    }
    print_load_average();
    return 0;
}
