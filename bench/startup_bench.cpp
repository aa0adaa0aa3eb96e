// startup_bench: how long the client takes from its start to the login
// dialog on screen, against a bare Qt dialog on the same display, in one run:
// the two take turns over several rounds (which goes first alternates), each
// a fresh process, and the medians and their ratio are printed with the
// machine's load average. "On screen" is seen from outside, as a person
// would: the first moment the X server has the program's window with the
// dialog's caption mapped and viewable. The CPU time each process used until
// then is printed too (less disturbed by other work on the machine).
// The client starts in a program folder of its own (no known users, so the
// dialog waits for input and nothing is sent to any server).
// Needs a display:  scripts/with-display.sh build/bench/startup_bench [--rounds N] [--quick]
//   startup_bench --bare   the bare dialog itself
#include "bench/figures.h"
#include "bench/quick_mode.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using mirvo::bench::load_average;
using mirvo::bench::median;

using steady = std::chrono::steady_clock;

const char* const bare_title = "bare dialog";
const char* const login_title = "欢迎您进入Mirvo学习娱乐空间";

// A dialog of about the login dialog's make: a caption, a few labels, two
// fields and two buttons, with Chinese text.
int bare_dialog(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QString::fromUtf8(bare_title));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QString::fromUtf8("用户名：")));
    layout->addWidget(new QLineEdit);
    layout->addWidget(new QLabel(QString::fromUtf8("密码：")));
    layout->addWidget(new QLineEdit);
    layout->addWidget(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel));
    dialog.show();
    return app.exec();
}

// ---- seeing the window --------------------------------------------------------

class x_display {
public:
    x_display() : connection_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(connection_)) return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        pid_atom_ = atom("_NET_WM_PID");
        name_atom_ = atom("_NET_WM_NAME");
        utf8_atom_ = atom("UTF8_STRING");
    }
    ~x_display() { xcb_disconnect(connection_); }
    bool ok() const { return root_ != 0; }

    // Whether a viewable window of process pid has the caption title; window
    // managers put clients a level or two down, in frames of their own.
    bool shows(int pid, const std::string& title) { return search(root_, pid, title, 3); }

private:
    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    }

    std::vector<xcb_window_t> children(xcb_window_t window) {
        std::vector<xcb_window_t> out;
        xcb_query_tree_reply_t* r = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
        if (!r) return out;
        const xcb_window_t* c = xcb_query_tree_children(r);
        out.assign(c, c + xcb_query_tree_children_length(r));
        std::free(r);
        return out;
    }

    std::string property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
        xcb_get_property_reply_t* r =
            xcb_get_property_reply(connection_, xcb_get_property(connection_, 0, window, name, type, 0, 1024), nullptr);
        std::string value;
        if (r) value.assign(static_cast<const char*>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
        std::free(r);
        return value;
    }

    bool search(xcb_window_t parent, int pid, const std::string& title, int depth) {
        for (xcb_window_t child : children(parent))
            if (matches(child, pid, title) || (depth > 1 && search(child, pid, title, depth - 1))) return true;
        return false;
    }

    bool matches(xcb_window_t window, int pid, const std::string& title) {
        const std::string pid_bytes = property(window, pid_atom_, XCB_ATOM_CARDINAL);
        if (pid_bytes.size() != 4 || *reinterpret_cast<const std::uint32_t*>(pid_bytes.data()) != std::uint32_t(pid))
            return false;
        if (property(window, name_atom_, utf8_atom_) != title) return false;
        xcb_get_window_attributes_reply_t* a =
            xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr);
        const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(a);
        return viewable;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_atom_t pid_atom_ = 0, name_atom_ = 0, utf8_atom_ = 0;
};

// ---- one start ----------------------------------------------------------------

double cpu_ms(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(line.substr(close + 2));
    std::vector<std::string> f;
    for (std::string s; rest >> s;) f.push_back(s);
    if (f.size() < 13) return -1;
    return (std::atol(f[11].c_str()) + std::atol(f[12].c_str())) * 1000.0 / sysconf(_SC_CLK_TCK);
}

struct start_figures {
    double wall_ms = -1;  // start -> window viewable
    double cpu_ms = -1;   // the process's CPU time until then
};

start_figures time_start(x_display& x, const std::vector<std::string>& command, const std::string& folder,
                         const std::string& title) {
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addchdir_np(&files, folder.c_str());
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    start_figures out;
    pid_t pid = 0;
    const auto t0 = steady::now();
    const int spawned = posix_spawn(&pid, args[0].c_str(), &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) return out;
    while (steady::now() - t0 < std::chrono::seconds(30)) {
        if (x.shows(pid, title)) {
            out.wall_ms = std::chrono::duration<double, std::milli>(steady::now() - t0).count();
            out.cpu_ms = cpu_ms(pid);
            break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) return out;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return out;
}

int compare(const std::string& self, int rounds) {
    x_display x;
    if (!x.ok()) {
        std::fprintf(stderr, "startup_bench: no X display\n");
        return 1;
    }
    char folder[] = "/tmp/startup_bench_XXXXXX";
    if (!mkdtemp(folder)) return 1;
    std::filesystem::create_directories(std::filesystem::path(folder) / "help");
    std::filesystem::create_directories(std::filesystem::path(folder) / "dl");
    std::ofstream(std::filesystem::path(folder) / "mirvo.xml") << "<mirvo>3.8</mirvo>\r\n";

    std::printf("startup_bench: %d rounds, the client and a bare Qt dialog taking turns\n", rounds);
    std::printf("load average before: %s\n", load_average().c_str());
    // A first start of each fills the page cache and the font cache.
    time_start(x, {self, "--bare"}, folder, bare_title);
    time_start(x, {MIRVO_BENCH_CLIENT}, folder, login_title);
    std::vector<double> bare_wall, bare_cpu, client_wall, client_cpu;
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < 2; ++i) {
            const bool client = (r + i) % 2 == 1;
            const start_figures f = client ? time_start(x, {MIRVO_BENCH_CLIENT}, folder, login_title)
                                           : time_start(x, {self, "--bare"}, folder, bare_title);
            if (f.wall_ms < 0) {
                std::fprintf(stderr, "startup_bench: the %s never showed its dialog\n",
                             client ? "client" : "bare dialog");
                std::filesystem::remove_all(folder);
                return 1;
            }
            (client ? client_wall : bare_wall).push_back(f.wall_ms);
            (client ? client_cpu : bare_cpu).push_back(f.cpu_ms);
            std::printf("round %d %-6s %7.1f ms, CPU %6.1f ms   (load %s)\n", r + 1, client ? "client" : "bare",
                        f.wall_ms, f.cpu_ms, load_average().substr(0, 14).c_str());
            std::fflush(stdout);
        }
    }
    std::filesystem::remove_all(folder);
    const double bw = median(bare_wall), cw = median(client_wall), bc = median(bare_cpu), cc = median(client_cpu);
    std::printf("\nmedians of %d rounds          bare dialog    client   ratio\n", rounds);
    std::printf("  start -> dialog on screen  %9.1f ms %7.1f ms  %5.2f\n", bw, cw, cw / bw);
    std::printf("  CPU time until then        %9.1f ms %7.1f ms  %5.2f\n", bc, cc, bc > 0 ? cc / bc : 0.0);
    std::printf("target: client start to login dialog <= 1.5 x the bare dialog\n");
    std::printf("load average after: %s\n", load_average().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = mirvo::bench::take_quick(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--bare") return bare_dialog(argc, argv);
    int rounds = quick ? 2 : 9;
    if (args.size() >= 2 && args[0] == "--rounds") rounds = std::max(1, std::atoi(args[1].c_str()));
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 1;
    self[n] = '\0';
    return compare(self, rounds);
}
