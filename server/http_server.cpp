#include "server/http_server.h"

#include "server/connection_slots.h"
#include "server/query.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace mirvo::server {

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int listen_backlog = 512;
constexpr auto housekeeping_interval = std::chrono::milliseconds(100);
constexpr auto progress_interval = std::chrono::milliseconds(500);
constexpr auto summary_interval = std::chrono::seconds(10);
// Descriptors kept free beside the connections: the database, the log, the
// listening, epoll and wake-up descriptors.
constexpr rlim_t spare_descriptors = 64;
// A refused request's target is logged only this far: it may be the very
// thing that was too long.
constexpr std::size_t refused_target_log_bytes = 200;
// Values in a logged target are cut to this many bytes.
constexpr std::size_t logged_value_bytes = 200;
constexpr int busy_retry_seconds = 5;

// A reply the service gives later: the connection waits suspended for it.
struct pending_reply {
    std::mutex mutex;
    MHD_Connection* connection = nullptr;
    bool suspended = false;
    std::optional<reply> value;
};

// One request, from its request line to the end of its reply.
struct request_state {
    std::string target;               // raw, as the request line gave it
    const char* target_at = nullptr;  // where the engine's buffer holds it
    std::string method;
    std::string remote;
    int fd = -1;
    bool head_seen = false;
    std::optional<clock_type::time_point> started;  // when the service took it
    std::shared_ptr<pending_reply> pending;         // while the reply is awaited
    int status = 0;
    std::uint64_t bytes = 0;
    bool answered = false;  // a reply is queued
    bool logged = true;
    std::string why;   // a refusal of the HTTP layer: the reason
    std::string note;  // what the service adds to the log line
};

// A connection as the engine knows it (its socket context).
struct connection_info {
    int fd = -1;
    std::string remote;
};

// Whether late replies may still wake their connections: closed when the
// engine stops, which first waits for wake-ups already under way and then
// wakes the connections still asleep itself (the engine cannot stop with one
// asleep). Kept apart from the engine, because a late reply may come after
// the engine is gone.
struct reply_gate {
    std::mutex mutex;
    std::condition_variable idle;
    bool open = true;
    int waking = 0;
};

std::string address_text(const sockaddr* sa) {
    char text[INET6_ADDRSTRLEN] = "";
    if (!sa) return {};
    if (sa->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
    else if (sa->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text, sizeof text);
    return text;
}

// The client's address a trusted front passed on, in the form the service
// writes addresses; empty when the header holds no address.
std::string forwarded_address(const char* header) {
    if (!header) return {};
    std::string text(header);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    in6_addr v6{};
    in_addr v4{};
    char out[INET6_ADDRSTRLEN] = "";
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return inet_ntop(AF_INET, &v4, out, sizeof out) ? out : "";
    if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) return inet_ntop(AF_INET6, &v6, out, sizeof out) ? out : "";
    return {};
}

// Bytes outside printable ASCII as %XX.
void append_escaped(std::string& out, unsigned char c) {
    if (c < 0x21 || c > 0x7e) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%%%02X", c);
        out += buf;
    } else {
        out += static_cast<char>(c);
    }
}

std::string escaped(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) append_escaped(out, static_cast<unsigned char>(c));
    return out;
}

// Skips blanks (spaces and tabs) from pos.
std::size_t skip_blanks(std::string_view s, std::size_t pos) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    return pos;
}

// Reads decimal digits at pos; false when there are none. Values too large
// for 64 bits read as the largest one, which no file reaches.
bool read_number(std::string_view s, std::size_t& pos, std::uint64_t& out) {
    const std::size_t start = pos;
    out = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        const unsigned d = static_cast<unsigned>(s[pos] - '0');
        out = out > (UINT64_MAX - d) / 10 ? UINT64_MAX : out * 10 + d;
        ++pos;
    }
    return pos > start;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

byte_range requested_range(std::string_view header, std::uint64_t size) {
    const byte_range whole{};
    std::size_t eq = header.find('=');
    if (eq == std::string_view::npos) return whole;
    std::string_view unit = header.substr(0, eq);
    while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\t')) unit.remove_suffix(1);
    unit.remove_prefix(std::min(unit.size(), skip_blanks(unit, 0)));
    if (!iequals(unit, "bytes")) return whole;
    std::string_view range_text = header.substr(eq + 1);
    // Several ranges would let one request ask for the file many times over.
    if (range_text.find(',') != std::string_view::npos) return whole;

    std::size_t pos = skip_blanks(range_text, 0);
    std::uint64_t first = 0, last = 0;
    const bool has_first = read_number(range_text, pos, first);
    pos = skip_blanks(range_text, pos);
    if (pos >= range_text.size() || range_text[pos] != '-') return whole;
    pos = skip_blanks(range_text, pos + 1);
    const bool has_last = read_number(range_text, pos, last);
    if (skip_blanks(range_text, pos) != range_text.size()) return whole;

    if (!has_first) {
        // The last `last` bytes.
        if (!has_last) return whole;
        if (last == 0 || size == 0) return {byte_range::unsatisfiable, 0, 0};
        const std::uint64_t length = std::min(last, size);
        return {byte_range::part, size - length, length};
    }
    if (has_last && last < first) return whole;
    if (first >= size) return {byte_range::unsatisfiable, 0, 0};
    const std::uint64_t end = has_last ? std::min(last, size - 1) : size - 1;
    return {byte_range::part, first, end - first + 1};
}

// A value of a logged target, cut to its first bytes (never inside a %XX).
std::string shortened_value(std::string_view value) {
    if (value.size() <= logged_value_bytes) return escaped(value);
    std::size_t cut = logged_value_bytes;
    for (std::size_t back = 1; back <= 2; ++back)
        if (value[cut - back] == '%') cut -= back;
    return escaped(value.substr(0, cut)) + "...";
}

std::string loggable_target(std::string_view target) {
    std::string out;
    out.reserve(target.size());
    const std::size_t q = target.find('?');
    out += escaped(target.substr(0, q));
    if (q == std::string_view::npos) return out;
    out += '?';
    std::string_view query = target.substr(q + 1);
    std::size_t pos = 0;
    while (true) {
        const std::size_t amp = query.find('&', pos);
        std::string_view piece = query.substr(pos, amp == std::string_view::npos ? query.npos : amp - pos);
        const std::size_t eq = piece.find('=');
        // The service decodes keys before it reads them, so "%70assword=" is
        // a password as much as "password=" is.
        const std::string key = percent_decode(piece.substr(0, eq));
        if (eq != std::string_view::npos && (key == "password" || key == "pw")) {
            out += escaped(piece.substr(0, eq));
            out += "=***";
        } else if (eq != std::string_view::npos) {
            out += escaped(piece.substr(0, eq + 1));
            out += shortened_value(piece.substr(eq + 1));
        } else {
            out += shortened_value(piece);
        }
        if (amp == std::string_view::npos) break;
        out += '&';
        pos = amp + 1;
    }
    return out;
}

std::string log_line(const std::string& remote, const std::string& method, const std::string& target, int status,
                     std::size_t bytes, std::optional<std::chrono::steady_clock::time_point> started,
                     const std::string& why, const std::string& note) {
    char tail[64];
    if (started) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - *started).count();
        std::snprintf(tail, sizeof tail, " %d %zuB %.2fms", status, bytes, ms);
    } else {
        std::snprintf(tail, sizeof tail, " %d %zuB -", status, bytes);
    }
    std::string shown_target = target;
    if ((!started || status == 414) && shown_target.size() > refused_target_log_bytes)
        shown_target = shown_target.substr(0, refused_target_log_bytes);
    std::string line = (remote.empty() ? "-" : escaped(remote)) + " " + (method.empty() ? "-" : escaped(method)) + " " +
                       (shown_target.empty() ? "-" : loggable_target(shown_target)) +
                       (shown_target.size() < target.size() ? "..." : "") + tail;
    // The HTTP layer answers some requests itself, before the service sees
    // them; such a line says so, so that it is not taken for a request the
    // service answered.
    if (!started) {
        const char* reason = status == 414   ? "request line too long"
                             : status == 413 ? "request body too large"
                             : status == 431 ? "request head too large"
                             : status == 400 ? "malformed request"
                                             : "refused by the HTTP layer";
        line += " (not handled: ";
        line += why.empty() ? reason : why;
        line += ")";
    }
    if (!note.empty()) line += " (" + note + ")";
    return line;
}

namespace {

// How far to lies behind from, when both can lie in one buffer of that size.
std::optional<std::size_t> distance(const char* from, const char* to, std::size_t buffer) {
    const auto a = reinterpret_cast<std::uintptr_t>(from), b = reinterpret_cast<std::uintptr_t>(to);
    if (b < a || b - a > buffer) return std::nullopt;
    return b - a;
}

bool only_line_end(const char* from, const char* to, std::size_t buffer) {
    if (!distance(from, to, buffer)) return true;
    for (const char* p = from; p < to; ++p)
        if (*p != '\0' && *p != '\r' && *p != '\n' && *p != ' ' && *p != '\t' && *p != ':') return false;
    return true;
}

struct header_walk {
    const char* end;  // where the last piece read ends
    std::size_t buffer;
    bool hidden = false;
};

MHD_Result walk_header(void* cls, MHD_ValueKind, const char* key, size_t key_size, const char* value,
                       size_t value_size) {
    auto* w = static_cast<header_walk*>(cls);
    if (!only_line_end(w->end, key, w->buffer)) {
        w->hidden = true;
        return MHD_NO;
    }
    const bool value_in_line = value && value_size > 0 && distance(key, value, w->buffer);
    w->end = value_in_line ? value + value_size : key + key_size;
    return MHD_YES;
}

// libmicrohttpd reads the request line and the header lines as C strings, so
// a NUL byte would cut a target or a header short without a word, the rest of
// its line dropped ("/hidden\0/../.." served as "/hidden"). What was cut off
// still lies in its buffer between the pieces it hands out: the method ends
// one byte before the target, the target one byte before the version, and
// between a header's value and the next header's name lie only the line's
// end (overwritten with NULs) and blanks. Anything else there was hidden
// behind a NUL. Where the pieces do not lie as expected, nothing is claimed.
bool hides_bytes(MHD_Connection* c, const request_state& r, const char* method, const char* version,
                 std::size_t buffer) {
    const char* target = r.target_at;
    if (!target || !method || !version) return false;
    const std::optional<std::size_t> method_span = distance(method, target, 64);
    if (method_span && *method_span != std::strlen(method) + 1) return true;
    const std::optional<std::size_t> target_span = distance(target, version, buffer);
    if (target_span && *target_span != r.target.size() + 1) return true;
    header_walk w{version + std::strlen(version), buffer};
    MHD_get_connection_values_n(c, MHD_HEADER_KIND, &walk_header, &w);
    if (w.hidden) return true;
    // After the last line only its end and the empty line's follow: two NULs
    // in a row end the head; anything else before them was hidden.
    int nuls = 0;
    for (const char* p = w.end; nuls < 2 && p < w.end + 64; ++p) {
        if (*p == '\0') {
            ++nuls;
        } else if (*p == ' ' || *p == '\t' || *p == ':') {
            nuls = 0;
        } else {
            return true;
        }
    }
    return false;
}

// How many connections the descriptors allow: each may send a file (its
// socket and the file), one that was closed for another holds its socket a
// moment longer, those waiting for a slot hold one each, and some are kept
// for the rest of the process.
struct descriptor_plan {
    unsigned long descriptors = 0;
    unsigned connections = 0;
    unsigned waiting = 0;
    unsigned closing = 0;  // connections closed for others, not yet gone
};

descriptor_plan plan_descriptors(unsigned wanted) {
    rlimit nofile{};
    if (getrlimit(RLIMIT_NOFILE, &nofile) == 0 && nofile.rlim_cur != nofile.rlim_max) {
        rlimit raised = nofile;
        raised.rlim_cur = nofile.rlim_max;
        // An unlimited hard limit is not a soft limit the kernel takes.
        if (setrlimit(RLIMIT_NOFILE, &raised) != 0 && nofile.rlim_max == RLIM_INFINITY) {
            raised.rlim_cur = 1 << 20;
            setrlimit(RLIMIT_NOFILE, &raised);
        }
        getrlimit(RLIMIT_NOFILE, &nofile);
    }
    descriptor_plan p;
    p.descriptors = nofile.rlim_cur == RLIM_INFINITY ? 1ul << 20 : static_cast<unsigned long>(nofile.rlim_cur);
    auto fill = [&p](unsigned connections) {
        p.connections = std::max(1u, connections);
        p.waiting = std::max(16u, p.connections / 8);
        p.closing = p.connections / 16 + 8;
    };
    fill(wanted);
    const auto needed = [&p] { return 2ul * (p.connections + p.closing) + p.waiting + spare_descriptors; };
    if (needed() > p.descriptors) {
        const unsigned long usable =
            p.descriptors > spare_descriptors + 64 ? p.descriptors - spare_descriptors - 48 : 16;
        fill(static_cast<unsigned>(usable * 4 / 9));
        while (needed() > p.descriptors && p.connections > 1) fill(p.connections - 1);
    }
    return p;
}

// Room in the engine for every slot, those being closed and those waiting,
// on each of its threads: it spreads connections over them unevenly.
unsigned engine_connection_limit(const descriptor_plan& p, unsigned threads) {
    return (p.connections + p.closing + p.waiting) * std::max(1u, threads);
}

// Refuses a connection that got no slot in time, without the engine: its
// request read and dropped, a 503 that tells it when to come back.
std::size_t send_busy(int fd) {
    static const std::string body = "<error>busy</error>";
    static const std::string reply_text =
        "HTTP/1.1 503 Service Unavailable\r\nRetry-After: " + std::to_string(busy_retry_seconds) +
        "\r\nContent-Type: text/xml; charset=GBK\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    char drain[4096];
    for (int i = 0; i < 16 && ::recv(fd, drain, sizeof drain, MSG_DONTWAIT) > 0; ++i) {
    }
    ::send(fd, reply_text.data(), reply_text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
    return body.size();
}

}  // namespace

struct http_server::engine {
    engine(service& s, std::function<void(const std::string&)> l, http_limits lim)
        : svc(s), log(std::move(l)), limits(lim) {}

    service& svc;
    std::function<void(const std::string&)> log;
    http_limits limits;
    descriptor_plan plan;
    int listen_fd = -1;
    int wake_fd = -1;
    MHD_Daemon* daemon = nullptr;
    std::shared_ptr<reply_gate> gate = std::make_shared<reply_gate>();

    std::mutex mutex;  // guards everything below
    std::optional<connection_slots> slots;
    std::unordered_set<std::shared_ptr<pending_reply>> asleep;  // connections waiting for a late reply
    bool accepting = false;
    bool serving = false;
    std::condition_variable stopped;  // run()'s wait
    std::thread acceptor;
    // What the slot keeping did since the last summary in the log.
    unsigned evicted = 0, waited = 0, refused = 0;

    bool start();
    void stop();
    void accept_loop();
    void accept_ready(clock_type::time_point& paused_until);
    void housekeeping(clock_type::time_point now, clock_type::time_point& next_progress,
                      clock_type::time_point& next_summary);
    void hand_over(const connection_slots::waiting_peer& peer);
    void refuse_busy(const connection_slots::waiting_peer& peer, const char* why);
    void shut(const std::vector<int>& fds);
    void wake();

    // What the engine calls back; cls is the engine.
    static void on_connection(void* cls, MHD_Connection* c, void** socket_context, MHD_ConnectionNotificationCode code);
    static void* on_request_line(void* cls, const char* uri, MHD_Connection* c);
    static void on_engine_message(void* cls, const char* format, va_list args);
    static MHD_Result on_request(void* cls, MHD_Connection* c, const char* url, const char* method, const char* version,
                                 const char* upload_data, std::size_t* upload_data_size, void** req_cls);
    static void on_completed(void* cls, MHD_Connection* c, void** req_cls, MHD_RequestTerminationCode toe);

    MHD_Result begin(MHD_Connection* c, request_state& r, const char* method, const char* version);
    bool is_front(const std::string& address) const {
        return std::find(limits.trusted_fronts.begin(), limits.trusted_fronts.end(), address) !=
               limits.trusted_fronts.end();
    }
    MHD_Result serve(MHD_Connection* c, request_state& r);
    MHD_Result refuse(MHD_Connection* c, request_state& r, int status, std::string why = {});
    MHD_Result answer(MHD_Connection* c, request_state& r, reply rep);
    MHD_Response* file_response(MHD_Connection* c, site_file& file, int& status, request_state& r);
    reply_sink late_reply(std::shared_ptr<pending_reply> pending);
};

void http_server::engine::wake() {
    const std::uint64_t one = 1;
    // A full counter wakes the thread as well as one more would.
    if (wake_fd >= 0 && ::write(wake_fd, &one, sizeof one) < 0) return;
}

void http_server::engine::shut(const std::vector<int>& fds) {
    // Called under the lock: the engine closes a socket only after telling
    // of it, so every number here is still the connection's. It notices the
    // end of the stream and closes the connection itself.
    for (int fd : fds) ::shutdown(fd, SHUT_RDWR);
}

void http_server::engine::on_connection(void* cls, MHD_Connection* c, void** socket_context,
                                        MHD_ConnectionNotificationCode code) {
    auto* e = static_cast<engine*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto* info = new connection_info;
        if (const MHD_ConnectionInfo* fd = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD))
            info->fd = fd->connect_fd;
        if (const MHD_ConnectionInfo* a = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
            info->remote = address_text(a->client_addr);
        *socket_context = info;
        std::lock_guard lock(e->mutex);
        if (e->slots) e->slots->started(info->fd);
        return;
    }
    auto* info = static_cast<connection_info*>(*socket_context);
    *socket_context = nullptr;
    int fd = info ? info->fd : -1;
    delete info;
    if (fd < 0) {
        // Closed before it was ever started: its slot goes all the same.
        const MHD_ConnectionInfo* known = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (!known) return;
        fd = known->connect_fd;
    }
    bool someone_waits = false;
    {
        std::lock_guard lock(e->mutex);
        if (e->slots) {
            e->slots->closed(fd);
            someone_waits = e->slots->anyone_waiting();
        }
    }
    if (someone_waits) e->wake();
}

void* http_server::engine::on_request_line(void*, const char* uri, MHD_Connection*) {
    auto* r = new request_state;
    r->target = uri ? uri : "";
    r->target_at = uri;
    return r;
}

void http_server::engine::on_engine_message(void* cls, const char* format, va_list args) {
    // A request line too long for the connection's buffer is answered (414)
    // and dropped by the engine before any request exists, so nothing but
    // this message tells of it. Everything else the engine says is about
    // requests that are logged anyway, or about itself.
    static constexpr std::string_view refused_text = "Error processing request (HTTP response code is %u";
    auto* e = static_cast<engine*>(cls);
    if (!e->log || !format || std::string_view(format).substr(0, refused_text.size()) != refused_text) return;
    const unsigned status = va_arg(args, unsigned);
    if (status == MHD_HTTP_URI_TOO_LONG) e->log(log_line("", "", "", static_cast<int>(status), 0, std::nullopt));
}

MHD_Result http_server::engine::begin(MHD_Connection* c, request_state& r, const char* method, const char* version) {
    r.head_seen = true;
    r.method = method ? method : "";
    if (const MHD_ConnectionInfo* ctx = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
        if (const auto* info = static_cast<const connection_info*>(ctx->socket_context)) {
            r.fd = info->fd;
            r.remote = info->remote;
        }
    }
    {
        std::lock_guard lock(mutex);
        if (slots) slots->request_started(r.fd);
    }
    if (is_front(r.remote)) {
        const std::string client = forwarded_address(MHD_lookup_connection_value(c, MHD_HEADER_KIND, "X-Real-IP"));
        if (!client.empty()) r.remote = client;
    }
    const int fields = MHD_get_connection_values(c, MHD_HEADER_KIND, nullptr, nullptr);
    if (fields < 0 || static_cast<std::size_t>(fields) > limits.max_header_fields) return refuse(c, r, 431);
    // A target with blanks is not one request line (the engine would take
    // the last word for the version and the rest for the target).
    if (r.target.find_first_of(" \t") != std::string::npos) return refuse(c, r, 400);
    if (hides_bytes(c, r, method, version, limits.connection_memory))
        return refuse(c, r, 400, "NUL byte in the request");
    if (version && std::strcmp(version, MHD_HTTP_VERSION_1_1) == 0 &&
        !MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST))
        return refuse(c, r, 400, "HTTP/1.1 without Host");
    // No reply of the service needs a request body. Answered at once, the
    // engine reads no body and closes the connection after the reply, so
    // a body can neither be trickled nor be read as the next request.
    if (MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH) ||
        MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING))
        return serve(c, r);
    // Otherwise the reply waits for the engine's next call: a reply queued
    // on this first one would also end the connection.
    return MHD_YES;
}

MHD_Result http_server::engine::on_request(void* cls, MHD_Connection* c, const char*, const char* method,
                                           const char* version, const char*, std::size_t* upload_data_size,
                                           void** req_cls) {
    auto* e = static_cast<engine*>(cls);
    auto* r = static_cast<request_state*>(*req_cls);
    if (!r) return MHD_NO;
    if (!r->head_seen) return e->begin(c, *r, method, version);
    if (*upload_data_size != 0) {
        *upload_data_size = 0;
        return MHD_YES;
    }
    if (r->pending) {
        // Woken: the reply has come.
        std::optional<reply> late;
        {
            std::lock_guard lock(r->pending->mutex);
            late.swap(r->pending->value);
        }
        if (!late) return MHD_YES;
        {
            std::lock_guard lock(e->mutex);
            e->asleep.erase(r->pending);
        }
        r->pending.reset();
        return e->answer(c, *r, std::move(*late));
    }
    if (r->answered) return MHD_YES;
    return e->serve(c, *r);
}

reply_sink http_server::engine::late_reply(std::shared_ptr<pending_reply> pending) {
    return [gate = gate, pending = std::move(pending)](reply rep) {
        {
            // Once the engine stops it wakes its connections itself.
            std::lock_guard lock(gate->mutex);
            if (!gate->open) return;
            ++gate->waking;
        }
        bool wake_it = false;
        {
            std::lock_guard lock(pending->mutex);
            pending->value = std::move(rep);
            // Not asleep yet: the request picks the reply up itself.
            wake_it = pending->suspended;
            pending->suspended = false;
        }
        if (wake_it) MHD_resume_connection(pending->connection);
        {
            std::lock_guard lock(gate->mutex);
            --gate->waking;
        }
        gate->idle.notify_all();
    };
}

MHD_Result http_server::engine::serve(MHD_Connection* c, request_state& r) {
    r.started = clock_type::now();
    auto pending = std::make_shared<pending_reply>();
    pending->connection = c;
    std::optional<reply> now = svc.handle(r.method, r.target, r.remote, late_reply(pending));
    if (now) return answer(c, r, std::move(*now));
    // A password is being checked: the connection sleeps until the reply
    // comes, holding no worker. The reply may have come already, and an
    // engine that stops lets no connection fall asleep.
    {
        std::lock_guard lock(mutex);
        asleep.insert(pending);
    }
    std::unique_lock lock(pending->mutex);
    bool sleeping = false;
    if (!pending->value) {
        std::lock_guard open(gate->mutex);
        if (gate->open) {
            pending->suspended = sleeping = true;
            MHD_suspend_connection(c);
        }
    }
    if (sleeping) {
        r.pending = std::move(pending);
        return MHD_YES;
    }
    std::optional<reply> arrived;
    arrived.swap(pending->value);
    lock.unlock();
    {
        std::lock_guard engine_lock(mutex);
        asleep.erase(pending);
    }
    if (!arrived) {
        arrived = reply{};
        arrived->status = 503;
        arrived->retry_after = busy_retry_seconds;
    }
    return answer(c, r, std::move(*arrived));
}

MHD_Result http_server::engine::refuse(MHD_Connection* c, request_state& r, int status, std::string why) {
    r.answered = true;
    r.why = std::move(why);
    MHD_Response* resp = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    if (!resp) return MHD_NO;
    MHD_add_response_header(resp, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result ok = MHD_queue_response(c, static_cast<unsigned>(status), resp);
    MHD_destroy_response(resp);
    r.status = status;
    return ok;
}

MHD_Response* http_server::engine::file_response(MHD_Connection* c, site_file& file, int& status, request_state& r) {
    byte_range range;
    const char* asked = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE);
    // If-Range names a version the service cannot compare (it sends no
    // validators), so the whole file is the only safe answer.
    if (asked && !MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_RANGE))
        range = requested_range(asked, file.size);

    char content_range[96];
    if (range.kind == byte_range::unsatisfiable) {
        MHD_Response* resp = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        if (!resp) return nullptr;
        std::snprintf(content_range, sizeof content_range, "bytes */%llu", static_cast<unsigned long long>(file.size));
        MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_RANGE, content_range);
        status = MHD_HTTP_RANGE_NOT_SATISFIABLE;
        r.bytes = 0;
        return resp;
    }
    const std::uint64_t first = range.kind == byte_range::part ? range.first : 0;
    const std::uint64_t length = range.kind == byte_range::part ? range.length : file.size;
    MHD_Response* resp = nullptr;
    if (length == 0) {
        resp = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    } else {
        // The engine takes the descriptor over and closes it: a reply holds
        // its socket and this one, no more.
        resp = MHD_create_response_from_fd_at_offset64(length, file.fd, first);
        if (resp) file.fd = -1;
    }
    if (!resp) return nullptr;
    if (range.kind == byte_range::part) {
        std::snprintf(content_range, sizeof content_range, "bytes %llu-%llu/%llu",
                      static_cast<unsigned long long>(first), static_cast<unsigned long long>(first + length - 1),
                      static_cast<unsigned long long>(file.size));
        MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_RANGE, content_range);
        status = MHD_HTTP_PARTIAL_CONTENT;
    }
    MHD_add_response_header(resp, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
    r.bytes = length;
    return resp;
}

MHD_Result http_server::engine::answer(MHD_Connection* c, request_state& r, reply rep) {
    int status = rep.status;
    r.answered = true;
    r.logged = rep.logged;
    r.note = std::move(rep.log_note);
    MHD_Response* resp = nullptr;
    if (rep.file && rep.status == 200) {
        resp = file_response(c, *rep.file, status, r);
    } else {
        resp =
            MHD_create_response_from_buffer(rep.body.size(), const_cast<char*>(rep.body.data()), MHD_RESPMEM_MUST_COPY);
        r.bytes = rep.body.size();
    }
    if (!resp) return MHD_NO;
    if (!rep.content_type.empty() && status != MHD_HTTP_RANGE_NOT_SATISFIABLE)
        MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_TYPE, rep.content_type.c_str());
    if (rep.retry_after > 0)
        MHD_add_response_header(resp, MHD_HTTP_HEADER_RETRY_AFTER, std::to_string(rep.retry_after).c_str());
    const MHD_Result ok = MHD_queue_response(c, static_cast<unsigned>(status), resp);
    MHD_destroy_response(resp);
    r.status = status;
    {
        std::lock_guard lock(mutex);
        if (slots) slots->reply_queued(r.fd, clock_type::now());
    }
    return ok;
}

void http_server::engine::on_completed(void* cls, MHD_Connection* c, void** req_cls, MHD_RequestTerminationCode) {
    auto* e = static_cast<engine*>(cls);
    auto* r = static_cast<request_state*>(*req_cls);
    *req_cls = nullptr;
    if (!r) return;
    {
        std::lock_guard lock(e->mutex);
        if (e->slots && r->fd >= 0) e->slots->request_done(r->fd, clock_type::now());
        if (r->pending) e->asleep.erase(r->pending);
    }
    int status = r->status;
    if (!r->answered) {
        // The engine refused the request after its request line (a head too
        // large, a malformed header); what it answered is all there is.
        const MHD_ConnectionInfo* st = MHD_get_connection_info(c, MHD_CONNECTION_INFO_HTTP_STATUS);
        status = st ? static_cast<int>(st->http_status) : 0;
    }
    // Status 0: the peer left before anything was answered.
    if (status != 0 && e->log && r->logged)
        e->log(log_line(r->remote, r->method, r->target, status, static_cast<std::size_t>(r->bytes),
                        r->why.empty() ? r->started : std::optional<clock_type::time_point>(), r->why, r->note));
    delete r;
}

void http_server::engine::hand_over(const connection_slots::waiting_peer& peer) {
    // The engine takes the socket over (and closes it itself on failure).
    if (MHD_add_connection(daemon, peer.fd, reinterpret_cast<const sockaddr*>(&peer.address), peer.address_length) !=
        MHD_YES) {
        std::lock_guard lock(mutex);
        slots->closed(peer.fd);
    }
}

void http_server::engine::refuse_busy(const connection_slots::waiting_peer& peer, const char* why) {
    const std::size_t bytes = send_busy(peer.fd);
    if (log) log(log_line(peer.remote, "", "", 503, bytes, std::nullopt, why));
}

void http_server::engine::accept_ready(clock_type::time_point& paused_until) {
    for (int round = 0; round < 256; ++round) {
        connection_slots::waiting_peer peer;
        socklen_t length = sizeof peer.address;
        peer.fd =
            ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&peer.address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (peer.fd < 0) {
            // Out of descriptors: what waits in the listen queue waits a
            // moment rather than spin this thread.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                paused_until = clock_type::now() + housekeeping_interval;
            return;
        }
        peer.address_length = length;
        peer.remote = address_text(reinterpret_cast<const sockaddr*>(&peer.address));
        peer.network = network_of(reinterpret_cast<const sockaddr*>(&peer.address));
        // The front's clients are held back by the front; its own
        // connections each count as a network of their own.
        if (is_front(peer.remote)) peer.network = "front " + std::to_string(peer.fd);
        const auto now = clock_type::now();
        peer.since = now;
        connection_slots::verdict v;
        {
            std::lock_guard lock(mutex);
            std::vector<int> evict;
            v = slots->place(peer.network, now, evict);
            shut(evict);
            evicted += static_cast<unsigned>(evict.size());
            if (v == connection_slots::verdict::admit) slots->opened(peer.fd, peer.network, now);
            if (v == connection_slots::verdict::wait) {
                ++waited;
                if (!slots->wait(peer)) v = connection_slots::verdict::refuse;
            }
            if (v == connection_slots::verdict::refuse) ++refused;
        }
        if (v == connection_slots::verdict::admit) hand_over(peer);
        if (v == connection_slots::verdict::refuse) refuse_busy(peer, "no connection slot free");
    }
}

void http_server::engine::housekeeping(clock_type::time_point now, clock_type::time_point& next_progress,
                                       clock_type::time_point& next_summary) {
    std::vector<connection_slots::waiting_peer> admitted, expired;
    std::string summary;
    {
        std::lock_guard lock(mutex);
        shut(slots->overdue(now));
        if (now >= next_progress) {
            next_progress = now + progress_interval;
            for (int fd : slots->replying()) {
                tcp_info info{};
                socklen_t length = sizeof info;
                if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0)
                    slots->reply_progress(fd, info.tcpi_bytes_acked,
                                          info.tcpi_notsent_bytes > 0 || info.tcpi_bytes_sent > info.tcpi_bytes_acked,
                                          now);
            }
        }
        std::vector<int> evict;
        slots->release(now, admitted, expired, evict);
        shut(evict);
        evicted += static_cast<unsigned>(evict.size());
        refused += static_cast<unsigned>(expired.size());
        if (now >= next_summary) {
            next_summary = now + summary_interval;
            if (evicted || waited || refused) {
                summary = "connection slots: " + std::to_string(evicted) + " idle connections closed for others, " +
                          std::to_string(waited) + " waited for a slot, " + std::to_string(refused) +
                          " refused (503); " + std::to_string(slots->live()) + " of " +
                          std::to_string(slots->limits().connections) + " in use";
                evicted = waited = refused = 0;
            }
        }
    }
    for (const auto& peer : admitted) hand_over(peer);
    for (const auto& peer : expired) refuse_busy(peer, "no connection slot free in time");
    if (!summary.empty() && log) log(summary);
}

void http_server::engine::accept_loop() {
    auto next_progress = clock_type::now(), next_summary = clock_type::now() + summary_interval;
    auto next_housekeeping = clock_type::now();
    clock_type::time_point paused_until{};
    while (true) {
        {
            std::lock_guard lock(mutex);
            if (!accepting) break;
        }
        const auto now = clock_type::now();
        pollfd fds[2] = {{listen_fd, static_cast<short>(now >= paused_until ? POLLIN : 0), 0}, {wake_fd, POLLIN, 0}};
        const auto until = std::min(next_housekeeping, now >= paused_until ? next_housekeeping : paused_until);
        const int timeout = static_cast<int>(
            std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()));
        ::poll(fds, 2, timeout);
        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] auto n = ::read(wake_fd, &count, sizeof count);
        }
        if (fds[0].revents & POLLIN) accept_ready(paused_until);
        const auto after = clock_type::now();
        if (after >= next_housekeeping || (fds[1].revents & POLLIN)) {
            housekeeping(after, next_progress, next_summary);
            if (after >= next_housekeeping) next_housekeeping = after + housekeeping_interval;
        }
    }
}

bool http_server::engine::start() {
    if (daemon) return true;
    if (listen_fd < 0) return false;
    plan = plan_descriptors(limits.max_connections);
    slot_limits sl;
    sl.connections = plan.connections;
    sl.per_network = limits.max_per_address;
    sl.min_share = limits.min_share;
    sl.waiting = plan.waiting;
    sl.wait_limit = limits.slot_wait;
    sl.min_idle = limits.min_idle;
    sl.head_deadline = limits.head_deadline;
    wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd < 0) return false;
    const unsigned threads = std::max(1u, limits.threads);
    const unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_ALLOW_SUSPEND_RESUME |
                           MHD_USE_NO_LISTEN_SOCKET | MHD_USE_ERROR_LOG;
    MHD_OptionItem options[] = {
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&engine::on_engine_message), this},
        // The slots are kept here. The engine's own limit is never to be
        // met: where connections come and go fast at that limit, this
        // version of it loses count of them and finally locks up.
        {MHD_OPTION_CONNECTION_LIMIT, engine_connection_limit(plan, threads), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, limits.stall_seconds, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(limits.connection_memory), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&engine::on_connection), this},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&engine::on_request_line), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&engine::on_completed), this},
        {threads > 1 ? MHD_OPTION_THREAD_POOL_SIZE : MHD_OPTION_END, threads, nullptr},
        {MHD_OPTION_END, 0, nullptr},
    };
    daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &engine::on_request, this, MHD_OPTION_ARRAY, options,
                              MHD_OPTION_END);
    if (!daemon) {
        ::close(wake_fd);
        wake_fd = -1;
        return false;
    }
    {
        std::lock_guard lock(mutex);
        slots.emplace(sl);
        accepting = serving = true;
    }
    acceptor = std::thread([this] { accept_loop(); });
    return true;
}

void http_server::engine::stop() {
    {
        std::lock_guard lock(mutex);
        accepting = false;
    }
    wake();
    if (acceptor.joinable()) acceptor.join();
    {
        // Replies that come late go nowhere now; those waking their
        // connections finish first.
        std::unique_lock lock(gate->mutex);
        gate->open = false;
        gate->idle.wait(lock, [this] { return gate->waking == 0; });
    }
    {
        // The engine refuses to stop while a connection sleeps: what still
        // waits for a password check is woken to be closed.
        std::lock_guard lock(mutex);
        for (const auto& p : asleep) {
            std::lock_guard sleeping(p->mutex);
            if (!p->suspended) continue;
            p->suspended = false;
            MHD_resume_connection(p->connection);
        }
        asleep.clear();
    }
    if (daemon) {
        MHD_stop_daemon(daemon);
        daemon = nullptr;
    }
    std::vector<connection_slots::waiting_peer> left;
    {
        std::lock_guard lock(mutex);
        if (slots) left = slots->take_waiting();
        slots.reset();
        serving = false;
    }
    for (const auto& peer : left) ::close(peer.fd);
    if (listen_fd >= 0) ::close(listen_fd);
    listen_fd = -1;
    if (wake_fd >= 0) ::close(wake_fd);
    wake_fd = -1;
    stopped.notify_all();
}

http_server::http_server(service& svc, std::function<void(const std::string&)> log, http_limits limits)
    : engine_(std::make_unique<engine>(svc, std::move(log), limits)) {}

http_server::~http_server() { stop(); }

int http_server::bind(const std::string& address, int port) {
    if (engine_->listen_fd >= 0 || engine_->daemon) return -1;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
    int bound = -1;
    for (addrinfo* a = found; a && bound < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) continue;
        int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_storage local{};
        socklen_t len = sizeof local;
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, listen_backlog) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
            ::close(fd);
            continue;
        }
        engine_->listen_fd = fd;
        bound = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    }
    freeaddrinfo(found);
    return bound;
}

bool http_server::start() { return engine_->start(); }

bool http_server::run() {
    if (!engine_->start()) return false;
    std::unique_lock lock(engine_->mutex);
    engine_->stopped.wait(lock, [this] { return !engine_->serving; });
    return true;
}

void http_server::stop() { engine_->stop(); }

unsigned http_server::connection_limit() const { return engine_->plan.connections; }

unsigned long http_server::descriptor_limit() const { return engine_->plan.descriptors; }

}  // namespace mirvo::server
