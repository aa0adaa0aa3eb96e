#include "server/admin.h"

#include "common/protocol/digit_code.h"
#include "common/sign/sign.h"
#include "common/text/gbk.h"
#include "common/ui/status.h"
#include "server/clock.h"
#include "server/demo_site.h"
#include "server/http_server.h"
#include "server/log_writer.h"
#include "server/password.h"
#include "server/service.h"
#include "server/store.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

namespace mirvo::server {

namespace {

const char* const usage_text =
    "usage: mirvo-server [serve] [--address A] [--port P] [--site DIR] [--db FILE|URI] [--online-window S]\n"
    "                    [--trusted-front ADDRESS[,ADDRESS...]]\n"
    "       mirvo-server migrate --db FILE|URI\n"
    "       mirvo-server copy-db --from FILE --db URI\n"
    "       mirvo-server add-user [--db FILE] NAME PASSWORD\n"
    "       mirvo-server set-password [--db FILE] NAME PASSWORD\n"
    "       mirvo-server users [--db FILE]\n"
    "       mirvo-server post-message [--db FILE] USER TEXT\n"
    "       mirvo-server suggestions [--db FILE] [--raw ID]\n"
    "       mirvo-server online [--db FILE] [--online-window S]\n"
    "       mirvo-server import-catalogue [--db FILE] FILE\n"
    "       mirvo-server publish-version [--site DIR] [--client DIR] [--key FILE] VERSION [MESSAGE]\n"
    "       mirvo-server publish-program [--site DIR] [--key FILE] VERSION\n"
    "       mirvo-server init-demo SITE DB [--program PATH] [--client DIR] [--base-url URL] [--key FILE]\n"
    "       mirvo-server digit-encode TEXT | digit-decode DIGITS\n";

struct parsed {
    std::map<std::string, std::string> opts;
    std::vector<std::string> positional;
};

bool parse_args(const std::vector<std::string>& args, std::size_t from, parsed& p, std::ostream& err) {
    static const char* const with_value[] = {"--address", "--port",     "--site",         "--db",     "--online-window",
                                             "--program", "--base-url", "--iterations",   "--client", "--raw",
                                             "--key",     "--from",     "--trusted-front"};
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) == 0) {
            bool known = false;
            for (const char* k : with_value) known = known || a == k;
            if (!known || i + 1 >= args.size()) {
                err << "mirvo-server: unknown option or missing value: " << a << "\n" << usage_text;
                return false;
            }
            p.opts[a] = args[++i];
        } else {
            p.positional.push_back(a);
        }
    }
    return true;
}

std::string opt(const parsed& p, const std::string& key, const std::string& fallback) {
    auto it = p.opts.find(key);
    return it == p.opts.end() ? fallback : it->second;
}

bool to_number(const std::string& text, long long lo, long long hi, long long& out) {
    try {
        std::size_t used = 0;
        out = std::stoll(text, &used);
        return used == text.size() && out >= lo && out <= hi;
    } catch (...) {
        return false;
    }
}

std::string time_text(std::int64_t t) { return local_time_text(t, true); }

// "a,b, c" -> {"a", "b", "c"}
std::vector<std::string> split_list(const std::string& text) {
    std::vector<std::string> out;
    std::string item;
    for (char c : text + ",") {
        if (c != ',' && c != ' ') {
            item += c;
        } else if (!item.empty()) {
            out.push_back(item);
            item.clear();
        }
    }
    return out;
}

// UTF-8 text with its control characters (C0, DEL and C1) as \xHH, so that
// printing it cannot move the cursor, clear the screen or retitle the terminal.
std::string terminal_text(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        unsigned control = 0x100;
        if (c < 0x20 || c == 0x7f) control = c;
        // C1 controls are U+0080..U+009F: 0xC2 0x80..0x9F in UTF-8.
        else if (c == 0xc2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) <= 0x9f &&
                 static_cast<unsigned char>(utf8[i + 1]) >= 0x80)
            control = static_cast<unsigned char>(utf8[++i]);
        if (control == 0x100) {
            out += static_cast<char>(c);
            continue;
        }
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02x", control);
        out += buf;
    }
    return out;
}

std::unique_ptr<store> open_db(const parsed& p, std::ostream& err) {
    std::string error;
    auto db = store::open(opt(p, "--db", "mirvo.db"), error);
    if (!db) err << "mirvo-server: " << error << "\n";
    return db;
}

int serve(const parsed& p, std::ostream& out, std::ostream& err) {
    long long port = 0, window = 0;
    if (!to_number(opt(p, "--port", std::to_string(MIRVO_SERVER_PORT)), 0, 65535, port) ||
        !to_number(opt(p, "--online-window", "300"), 1, 86400, window)) {
        err << "mirvo-server: bad port or online window\n";
        return 2;
    }
    service_options so;
    so.site_folder = opt(p, "--site", "site");
    std::error_code ec;
    if (!std::filesystem::is_directory(so.site_folder, ec)) {
        err << "mirvo-server: site folder " << so.site_folder << " does not exist (see init-demo)\n";
        return 1;
    }
    auto db = open_db(p, err);
    if (!db) return 1;
    so.request_page = MIRVO_REQUEST_PAGE;
    so.online_window = window;
    for (const char* candidate : {MIRVO_SERVER_1, MIRVO_SERVER_2, MIRVO_SERVER_3})
        if (std::string path = base_path_of(candidate); !path.empty()) so.base_paths.push_back(path);
    service svc(*db, so);
    http_limits limits;
    limits.trusted_fronts = split_list(opt(p, "--trusted-front", ""));

    // Signals are taken by this thread alone, so the workers never see them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    // The log goes out on a thread of its own: a reader that stops reading
    // must not stop the service.
    out.flush();
    log_writer writer(STDOUT_FILENO);
    http_server server(
        svc, [&writer](const std::string& line) { writer.write(time_text(std::time(nullptr)) + " " + line); }, limits);
    const std::string address = opt(p, "--address", "127.0.0.1");
    int bound = server.bind(address, static_cast<int>(port));
    if (bound < 0) {
        err << "mirvo-server: cannot listen on " << address << ":" << port << "\n";
        return 1;
    }
    writer.write("mirvo-server: listening on http://" + address + ":" + std::to_string(bound) + "/ (site " +
                 so.site_folder + ", database " + store_name(opt(p, "--db", "mirvo.db")) + ", request page /" +
                 so.request_page + ")");
    if (!limits.trusted_fronts.empty()) {
        std::string fronts;
        for (const std::string& f : limits.trusted_fronts) fronts += (fronts.empty() ? "" : ", ") + f;
        writer.write("mirvo-server: client addresses taken from X-Real-IP of " + fronts);
    }
    if (!server.start()) {
        err << "mirvo-server: cannot serve on " << address << ":" << port << "\n";
        return 1;
    }
    writer.write("mirvo-server: up to " + std::to_string(server.connection_limit()) + " connections at once (" +
                 std::to_string(server.descriptor_limit()) + " descriptors)");
    int sig = 0;
    sigwait(&stop_signals, &sig);
    writer.write("mirvo-server: stopping");
    server.stop();
    return 0;
}

int set_user(const parsed& p, bool create, std::ostream& out, std::ostream& err) {
    if (p.positional.size() != 2) {
        err << usage_text;
        return 2;
    }
    const std::string name = utf8_to_gbk(p.positional[0]);
    const std::string typed = utf8_to_gbk(p.positional[1]);
    long long iterations = default_pbkdf2_iterations;
    if (!to_number(opt(p, "--iterations", std::to_string(default_pbkdf2_iterations)), 1000, 10'000'000, iterations)) {
        err << "mirvo-server: iterations must lie between 1000 and 10000000\n";
        return 2;
    }
    if (name.empty() || typed.empty()) {
        err << "mirvo-server: user name and password may not be empty\n";
        return 2;
    }
    if (typed.size() > 333) {
        err << "mirvo-server: the client cannot send passwords longer than 333 bytes\n";
        return 2;
    }
    // Stored as the code sends it, such a password would also let in other
    // texts the code cannot carry, while the real client could not log in.
    if (const std::optional<std::string> lost = uncarried_character(typed)) {
        err << "mirvo-server: the client's code cannot carry \"" << terminal_text(gbk_to_utf8(*lost))
            << "\" in a password; use letters, digits, spaces and the punctuation the code knows "
               "(not \\ _ ` | ~ or ?)\n";
        return 2;
    }
    const std::string canonical = canonical_password(typed);
    auto db = open_db(p, err);
    if (!db) return 1;
    const std::string hash = hash_password(canonical, static_cast<unsigned>(iterations));
    if (create) {
        std::string error;
        if (!db->add_user(name, hash, error)) {
            err << "mirvo-server: cannot add " << p.positional[0] << ": " << error << "\n";
            return 1;
        }
        out << "added user " << p.positional[0] << "\n";
    } else {
        if (!db->set_password_hash(name, hash)) {
            err << "mirvo-server: no user " << p.positional[0] << "\n";
            return 1;
        }
        out << "password of " << p.positional[0] << " changed\n";
    }
    return 0;
}

// Creates the schema, or brings it up to date: before the first start on a
// PostgreSQL database, and after an upgrade of the program.
int migrate_command(const parsed& p, std::ostream& out, std::ostream& err) {
    if (!p.positional.empty() || !p.opts.count("--db")) {
        err << usage_text;
        return 2;
    }
    std::string error;
    if (!store::migrate(opt(p, "--db", ""), out, error)) {
        err << "mirvo-server: migrate: " << error << "\n";
        return 1;
    }
    return 0;
}

// Moves a one-box service's SQLite file into the PostgreSQL database the
// instances will share.
int copy_db_command(const parsed& p, std::ostream& out, std::ostream& err) {
    if (!p.positional.empty() || !p.opts.count("--from") || !p.opts.count("--db")) {
        err << usage_text;
        return 2;
    }
    std::string error;
    if (!store::copy(opt(p, "--from", ""), opt(p, "--db", ""), out, error)) {
        err << "mirvo-server: copy-db: " << error << " (nothing was copied)\n";
        return 1;
    }
    out << "copied " << opt(p, "--from", "") << " into " << store_name(opt(p, "--db", "")) << "\n";
    return 0;
}

// The commands. Each takes the parsed arguments after its name and returns
// the process's exit status: 0 done, 1 failed, 2 used wrongly.

int serve_command(const parsed& p, std::ostream& out, std::ostream& err) {
    if (!p.positional.empty()) {
        err << usage_text;
        return 2;
    }
    return serve(p, out, err);
}

int add_user(const parsed& p, std::ostream& out, std::ostream& err) { return set_user(p, true, out, err); }

int set_password(const parsed& p, std::ostream& out, std::ostream& err) { return set_user(p, false, out, err); }

// Every user, or those seen within the online window, with when they were
// last seen.
int list_users(const parsed& p, bool online_only, std::ostream& out, std::ostream& err) {
    long long window = 300;
    if (!to_number(opt(p, "--online-window", "300"), 1, 86400, window)) {
        err << "mirvo-server: bad online window\n";
        return 2;
    }
    auto db = open_db(p, err);
    if (!db) return 1;
    auto list = online_only ? db->online_users(std::time(nullptr), window) : db->users();
    for (const auto& u : list)
        out << gbk_to_utf8(u.name) << "\t" << (u.last_seen ? "last seen " + time_text(u.last_seen) : "offline") << "\n";
    if (online_only) out << list.size() << " online\n";
    return 0;
}

int users(const parsed& p, std::ostream& out, std::ostream& err) { return list_users(p, false, out, err); }

int online(const parsed& p, std::ostream& out, std::ostream& err) { return list_users(p, true, out, err); }

int post_message(const parsed& p, std::ostream& out, std::ostream& err) {
    if (p.positional.size() != 2 || p.positional[1].empty()) {
        err << usage_text;
        return 2;
    }
    auto db = open_db(p, err);
    if (!db) return 1;
    if (!db->post_message(utf8_to_gbk(p.positional[0]), utf8_to_gbk(p.positional[1]), std::time(nullptr))) {
        err << "mirvo-server: no user " << p.positional[0] << "\n";
        return 1;
    }
    out << "message posted to " << p.positional[0] << "\n";
    return 0;
}

// Every suggestion, readable; or with --raw ID the text of one exactly as it
// was stored (GBK, CR LF kept, nothing added), for comparing bytes.
int suggestions(const parsed& p, std::ostream& out, std::ostream& err) {
    long long raw_id = 0;
    const bool raw = p.opts.count("--raw") != 0;
    if (!p.positional.empty() ||
        (raw && !to_number(opt(p, "--raw", ""), 1, std::numeric_limits<long long>::max(), raw_id))) {
        err << usage_text;
        return 2;
    }
    auto db = open_db(p, err);
    if (!db) return 1;
    if (raw) {
        for (const auto& s : db->suggestions()) {
            if (s.id != raw_id) continue;
            out << s.content;
            return 0;
        }
        err << "mirvo-server: no suggestion #" << raw_id << "\n";
        return 1;
    }
    for (const auto& s : db->suggestions()) {
        // Texts come from the network: what could steer the terminal is shown escaped.
        std::string indented;
        bool first = true;
        for (const std::string& line : gbk_split(gbk_replace_all(s.content, "\r\n", "\n"), "\n")) {
            indented += (first ? "" : "\n    ") + terminal_text(gbk_to_utf8(line));
            first = false;
        }
        out << "#" << s.id << " " << time_text(s.created) << " " << terminal_text(gbk_to_utf8(s.user)) << " type "
            << s.type << "\n    " << indented << "\n";
    }
    return 0;
}

int import_catalogue(const parsed& p, std::ostream& out, std::ostream& err) {
    if (p.positional.size() != 1) {
        err << usage_text;
        return 2;
    }
    std::ifstream in(p.positional[0], std::ios::binary);
    if (!in) {
        err << "mirvo-server: cannot read " << p.positional[0] << "\n";
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    catalogue c;
    std::string error;
    if (!parse_catalogue(text.str(), c, error)) {
        err << "mirvo-server: " << p.positional[0] << ": " << error << "\n";
        return 1;
    }
    auto db = open_db(p, err);
    if (!db) return 1;
    if (!db->import_catalogue(c, error)) {
        err << "mirvo-server: import failed: " << error << "\n";
        return 1;
    }
    std::size_t entries = 0;
    for (const auto& cat : c.categories)
        for (const auto& sub : cat.subcategories) entries += sub.entries.size();
    out << "imported " << c.categories.size() << " categories, " << entries << " entries, " << c.ads.size() << " ads\n";
    return 0;
}

// The private key of --key, which signs the download lists. Without --key
// the lists go unsigned, and clients built with a key refuse them.
struct key_choice {
    bool ok = true;
    std::optional<private_key> key;
};

key_choice signing_key(const parsed& p, std::ostream& err) {
    const std::string path = opt(p, "--key", "");
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::optional<private_key> key = in ? parse_private_key(text.str()) : std::nullopt;
    if (!key) {
        err << "mirvo-server: " << path << " holds no private key (mirvo-sign keygen makes one)\n";
        return {false, {}};
    }
    return {true, key};
}

void say_how_signed(const std::optional<private_key>& key, std::ostream& out) {
    if (key)
        out << "download lists signed with the key whose public half is " << key_text(public_key_of(*key)) << "\n";
    else
        out << "download lists not signed (no --key): clients built with a key refuse them\n";
}

int publish_version(const parsed& p, std::ostream& out, std::ostream& err) {
    if (p.positional.empty() || p.positional.size() > 2) {
        err << usage_text;
        return 2;
    }
    const key_choice signing = signing_key(p, err);
    if (!signing.ok) return 2;
    std::string error;
    const std::string site = opt(p, "--site", "site");
    const std::string client = opt(p, "--client", "");
    if ((!client.empty() && !stage_client_files(site, client, error)) ||
        !publish_client_version(site, p.positional[0], p.positional.size() > 1 ? p.positional[1] : "", signing.key,
                                error)) {
        err << "mirvo-server: " << error << "\n";
        return 1;
    }
    out << "published client version " << p.positional[0] << " on " << site << "\n";
    say_how_signed(signing.key, out);
    return 0;
}

// A newer demo program: clients that have an older one offer the update
// when it is started.
int publish_program(const parsed& p, std::ostream& out, std::ostream& err) {
    if (p.positional.size() != 1) {
        err << usage_text;
        return 2;
    }
    const key_choice signing = signing_key(p, err);
    if (!signing.ok) return 2;
    std::string error;
    const std::string site = opt(p, "--site", "site");
    if (!publish_program_version(site, p.positional[0], signing.key, error)) {
        err << "mirvo-server: " << error << "\n";
        return 1;
    }
    out << "published " << demo_program_file << " version " << p.positional[0] << " on " << site << "\n";
    say_how_signed(signing.key, out);
    return 0;
}

// For checking the service by hand: a coded password for a plain HTTP
// client, or what a coded value (my_ro) says.
int digit_code_command(const parsed& p, bool encode, std::ostream& out, std::ostream& err) {
    if (p.positional.size() != 1) {
        err << usage_text;
        return 2;
    }
    const std::string in = utf8_to_gbk(p.positional[0]);
    out << gbk_to_utf8(encode ? digit_encode(in) : digit_decode(in)) << "\n";
    return 0;
}

int digit_encode_command(const parsed& p, std::ostream& out, std::ostream& err) {
    return digit_code_command(p, true, out, err);
}

int digit_decode_command(const parsed& p, std::ostream& out, std::ostream& err) {
    return digit_code_command(p, false, out, err);
}

int init_demo_command(const parsed& p, std::ostream& out, std::ostream& err) {
    if (p.positional.size() != 2) {
        err << usage_text;
        return 2;
    }
    long long iterations = 0;
    if (!to_number(opt(p, "--iterations", "0"), 0, 10'000'000, iterations)) {
        err << "mirvo-server: bad iteration count\n";
        return 2;
    }
    const key_choice signing = signing_key(p, err);
    if (!signing.ok) return 2;
    demo_options o;
    o.signing_key = signing.key;
    o.site = p.positional[0];
    o.db = p.positional[1];
    o.program_path = opt(p, "--program", "");
    o.base_url = opt(p, "--base-url", MIRVO_SERVER_1);
    o.iterations = static_cast<unsigned>(iterations);
    std::string error;
    if (!init_demo(o, error, [&](const std::string& line) { out << line << "\n"; })) {
        err << "mirvo-server: init-demo: " << error << "\n";
        return 1;
    }
    // A built client offered as the update that publish-version announces.
    const std::string client = opt(p, "--client", "");
    if (!client.empty() && (!stage_client_files(o.site, client, error) ||
                            !publish_client_version(o.site, MIRVO_INSTALLED_VERSION, "", o.signing_key, error))) {
        err << "mirvo-server: init-demo: " << error << "\n";
        return 1;
    }
    if (!client.empty()) out << "client files of " << client << " staged for publish-version\n";
    say_how_signed(o.signing_key, out);
    out << "demo users (name / password):\n";
    for (const auto& u : demo_users()) out << "  " << u.name << " / " << u.password << "\n";
    return 0;
}

struct command {
    const char* name;
    int (*run)(const parsed& p, std::ostream& out, std::ostream& err);
};

const command commands[] = {
    {"serve", serve_command},
    {"migrate", migrate_command},
    {"copy-db", copy_db_command},
    {"add-user", add_user},
    {"set-password", set_password},
    {"users", users},
    {"online", online},
    {"post-message", post_message},
    {"suggestions", suggestions},
    {"import-catalogue", import_catalogue},
    {"publish-version", publish_version},
    {"publish-program", publish_program},
    {"digit-encode", digit_encode_command},
    {"digit-decode", digit_decode_command},
    {"init-demo", init_demo_command},
};

}  // namespace

int run_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    // The service has no screen: the digit code's pauses, which keep a window
    // responsive while it codes, would only delay replies.
    static no_wait_pump pump;
    set_message_pump(&pump);
    std::string name = "serve";
    std::size_t first = 0;
    if (!args.empty() && args[0].rfind("--", 0) != 0) {
        name = args[0];
        first = 1;
    }
    if (name == "help" || name == "-h") {
        out << usage_text;
        return 0;
    }
    for (const command& c : commands) {
        if (name != c.name) continue;
        parsed p;
        if (!parse_args(args, first, p, err)) return 2;
        return c.run(p, out, err);
    }
    err << "mirvo-server: unknown command " << name << "\n" << usage_text;
    return 2;
}

}  // namespace mirvo::server
