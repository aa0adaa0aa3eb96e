#include "server/http_server.h"

#include "server/query.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace mirvo::server {

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int listen_backlog = 512;
constexpr auto sweep_interval = std::chrono::milliseconds(100);
// Descriptors kept free beside the connections: the database, files being
// sent, the listening and epoll sockets.
constexpr rlim_t spare_descriptors = 64;
// A refused request's target is logged only this far: it may be the very
// thing that was too long.
constexpr std::size_t refused_target_log_bytes = 200;

// One request, from its request line to the end of its reply.
struct request_state {
    std::string target;  // raw, as the request line gave it
    std::string method;
    std::string remote;
    bool head_seen = false;
    std::optional<clock_type::time_point> started;  // when the service took it
    int status = 0;
    std::uint64_t bytes = 0;
    bool answered = false;
};

// One open connection as the sweeper sees it.
struct connection_state {
    int fd = -1;
    std::string remote;
    clock_type::time_point ready_since;  // accepted, or its last reply sent
    bool in_request = false;             // head complete, reply not yet sent
    bool cut = false;
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
        } else {
            out += escaped(piece);
        }
        if (amp == std::string_view::npos) break;
        out += '&';
        pos = amp + 1;
    }
    return out;
}

std::string log_line(const std::string& remote, const std::string& method, const std::string& target, int status,
                     std::size_t bytes, std::optional<std::chrono::steady_clock::time_point> started) {
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
        const char* why = status == 414   ? "request line too long"
                          : status == 413 ? "request body too large"
                          : status == 431 ? "request head too large"
                          : status == 400 ? "malformed request"
                                          : "refused by the HTTP layer";
        line += " (not handled: ";
        line += why;
        line += ")";
    }
    return line;
}

struct http_server::engine {
    engine(service& s, std::function<void(const std::string&)> l, http_limits lim)
        : svc(s), log(std::move(l)), limits(lim) {}

    service& svc;
    std::function<void(const std::string&)> log;
    http_limits limits;
    int listen_fd = -1;
    MHD_Daemon* daemon = nullptr;

    std::mutex mutex;  // guards everything below
    std::unordered_map<MHD_Connection*, connection_state> connections;
    bool sweeping = false;
    bool serving = false;
    std::condition_variable wake;  // the sweeper's sleep; run()'s wait
    std::thread sweeper;

    bool start();
    void stop();
    void sweep();
    unsigned connection_limit();

    // What the engine calls back; cls is the engine.
    static void on_connection(void* cls, MHD_Connection* c, void** socket_context, MHD_ConnectionNotificationCode code);
    static void* on_request_line(void* cls, const char* uri, MHD_Connection* c);
    static void on_engine_message(void* cls, const char* format, va_list args);
    static MHD_Result on_request(void* cls, MHD_Connection* c, const char* url, const char* method, const char* version,
                                 const char* upload_data, std::size_t* upload_data_size, void** req_cls);
    static void on_completed(void* cls, MHD_Connection* c, void** req_cls, MHD_RequestTerminationCode toe);

    std::string begin_request(MHD_Connection* c);
    MHD_Result serve(MHD_Connection* c, request_state& r);
    MHD_Result refuse(MHD_Connection* c, request_state& r, int status);
    MHD_Result answer(MHD_Connection* c, request_state& r, const reply& rep);
    MHD_Response* file_response(MHD_Connection* c, const site_file& file, int& status, request_state& r);
};

void http_server::engine::on_connection(void* cls, MHD_Connection* c, void**, MHD_ConnectionNotificationCode code) {
    auto* e = static_cast<engine*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        connection_state s;
        if (const MHD_ConnectionInfo* fd = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD))
            s.fd = fd->connect_fd;
        if (const MHD_ConnectionInfo* a = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
            s.remote = address_text(a->client_addr);
        s.ready_since = clock_type::now();
        std::lock_guard lock(e->mutex);
        e->connections[c] = std::move(s);
        return;
    }
    // Closed. The engine calls this before it closes the socket, so the
    // sweeper, which only touches sockets listed here, never shuts one that
    // has been closed and handed to somebody else.
    std::lock_guard lock(e->mutex);
    e->connections.erase(c);
}

void* http_server::engine::on_request_line(void*, const char* uri, MHD_Connection*) {
    auto* r = new request_state;
    r->target = uri ? uri : "";
    return r;
}

void http_server::engine::on_engine_message(void* cls, const char* format, va_list args) {
    // A request line too long for the connection's buffer is answered (414)
    // and dropped by the engine before any request exists, so nothing but
    // this message tells of it. Everything else the engine says is about
    // requests that are logged anyway, or about itself.
    static constexpr std::string_view refused = "Error processing request (HTTP response code is %u";
    auto* e = static_cast<engine*>(cls);
    if (!e->log || !format || std::string_view(format).substr(0, refused.size()) != refused) return;
    const unsigned status = va_arg(args, unsigned);
    if (status == MHD_HTTP_URI_TOO_LONG) e->log(log_line("", "", "", static_cast<int>(status), 0, std::nullopt));
}

std::string http_server::engine::begin_request(MHD_Connection* c) {
    std::lock_guard lock(mutex);
    auto it = connections.find(c);
    if (it == connections.end()) return {};
    it->second.in_request = true;
    return it->second.remote;
}

MHD_Result http_server::engine::on_request(void* cls, MHD_Connection* c, const char*, const char* method, const char*,
                                           const char*, std::size_t* upload_data_size, void** req_cls) {
    auto* e = static_cast<engine*>(cls);
    auto* r = static_cast<request_state*>(*req_cls);
    if (!r) return MHD_NO;
    if (!r->head_seen) {
        r->head_seen = true;
        r->method = method ? method : "";
        r->remote = e->begin_request(c);
        const int fields = MHD_get_connection_values(c, MHD_HEADER_KIND, nullptr, nullptr);
        if (fields < 0 || static_cast<std::size_t>(fields) > e->limits.max_header_fields) return e->refuse(c, *r, 431);
        // A target with blanks is not one request line (the engine would take
        // the last word for the version and the rest for the target).
        if (r->target.find_first_of(" \t") != std::string::npos) return e->refuse(c, *r, 400);
        // No reply of the service needs a request body. Answered at once, the
        // engine reads no body and closes the connection after the reply, so
        // a body can neither be trickled nor be read as the next request.
        if (MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH) ||
            MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING))
            return e->serve(c, *r);
        // Otherwise the reply waits for the engine's next call: a reply queued
        // on this first one would also end the connection.
        return MHD_YES;
    }
    if (*upload_data_size != 0) {
        *upload_data_size = 0;
        return MHD_YES;
    }
    if (r->answered) return MHD_YES;
    return e->serve(c, *r);
}

MHD_Result http_server::engine::serve(MHD_Connection* c, request_state& r) {
    r.answered = true;
    r.started = clock_type::now();
    return answer(c, r, svc.handle(r.method, r.target, r.remote));
}

MHD_Result http_server::engine::refuse(MHD_Connection* c, request_state& r, int status) {
    r.answered = true;
    MHD_Response* resp = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    if (!resp) return MHD_NO;
    MHD_add_response_header(resp, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result ok = MHD_queue_response(c, static_cast<unsigned>(status), resp);
    MHD_destroy_response(resp);
    r.status = status;
    return ok;
}

MHD_Response* http_server::engine::file_response(MHD_Connection* c, const site_file& file, int& status,
                                                 request_state& r) {
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
        // The engine owns (and closes) the descriptor it is given.
        const int fd = ::dup(file.fd);
        if (fd < 0) return nullptr;
        resp = MHD_create_response_from_fd_at_offset64(length, fd, first);
        if (!resp) {
            ::close(fd);
            return nullptr;
        }
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

MHD_Result http_server::engine::answer(MHD_Connection* c, request_state& r, const reply& rep) {
    int status = rep.status;
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
    const MHD_Result ok = MHD_queue_response(c, static_cast<unsigned>(status), resp);
    MHD_destroy_response(resp);
    r.status = status;
    return ok;
}

void http_server::engine::on_completed(void* cls, MHD_Connection* c, void** req_cls, MHD_RequestTerminationCode) {
    auto* e = static_cast<engine*>(cls);
    auto* r = static_cast<request_state*>(*req_cls);
    *req_cls = nullptr;
    std::string remote;
    {
        std::lock_guard lock(e->mutex);
        auto it = e->connections.find(c);
        if (it != e->connections.end()) {
            remote = it->second.remote;
            it->second.in_request = false;
            it->second.ready_since = clock_type::now();
        }
    }
    if (!r) return;
    int status = r->status;
    if (!r->answered) {
        // The engine refused the request after its request line (a head too
        // large, a malformed header); what it answered is all there is.
        const MHD_ConnectionInfo* st = MHD_get_connection_info(c, MHD_CONNECTION_INFO_HTTP_STATUS);
        status = st ? static_cast<int>(st->http_status) : 0;
    }
    // Status 0: the peer left before anything was answered.
    if (status != 0 && e->log)
        e->log(log_line(remote, r->method, r->target, status, static_cast<std::size_t>(r->bytes), r->started));
    delete r;
}

void http_server::engine::sweep() {
    std::unique_lock lock(mutex);
    while (sweeping) {
        wake.wait_for(lock, sweep_interval);
        const auto now = clock_type::now();
        for (auto& [c, s] : connections) {
            if (s.in_request || s.cut || s.fd < 0 || now - s.ready_since < limits.head_deadline) continue;
            // The engine notices the end of the stream and closes the
            // connection itself; the entry goes when it says so.
            ::shutdown(s.fd, SHUT_RDWR);
            s.cut = true;
        }
    }
}

unsigned http_server::engine::connection_limit() {
    // Each connection holds a descriptor: ask for enough of them, and where
    // the system gives fewer, accept only as many connections as fit.
    rlimit nofile{};
    if (getrlimit(RLIMIT_NOFILE, &nofile) != 0) return limits.max_connections;
    const rlim_t wanted = limits.max_connections + spare_descriptors;
    if (nofile.rlim_cur != RLIM_INFINITY && nofile.rlim_cur < wanted) {
        rlimit raised = nofile;
        raised.rlim_cur = nofile.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, nofile.rlim_max);
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) nofile = raised;
    }
    if (nofile.rlim_cur == RLIM_INFINITY || nofile.rlim_cur >= wanted) return limits.max_connections;
    return nofile.rlim_cur > 2 * spare_descriptors ? static_cast<unsigned>(nofile.rlim_cur - spare_descriptors)
                                                   : static_cast<unsigned>(nofile.rlim_cur / 2);
}

bool http_server::engine::start() {
    if (daemon) return true;
    if (listen_fd < 0) return false;
    const unsigned threads = std::max(1u, limits.threads);
    const unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_USE_ERROR_LOG;
    MHD_OptionItem options[] = {
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&engine::on_engine_message), this},
        {MHD_OPTION_LISTEN_SOCKET, listen_fd, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, connection_limit(), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.max_per_address, nullptr},
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
    if (!daemon) return false;
    {
        std::lock_guard lock(mutex);
        sweeping = serving = true;
    }
    sweeper = std::thread([this] { sweep(); });
    return true;
}

void http_server::engine::stop() {
    // The sweeper goes first: once the engine closes its sockets, their
    // numbers may be anybody's.
    {
        std::lock_guard lock(mutex);
        sweeping = false;
    }
    wake.notify_all();
    if (sweeper.joinable()) sweeper.join();
    if (daemon) {
        // The listening socket is ours: taken back first, closed after the
        // engine's threads are gone.
        const MHD_socket fd = MHD_quiesce_daemon(daemon);
        MHD_stop_daemon(daemon);
        daemon = nullptr;
        if (fd != MHD_INVALID_SOCKET) ::close(fd);
        listen_fd = -1;
    } else if (listen_fd >= 0) {
        ::close(listen_fd);
        listen_fd = -1;
    }
    {
        std::lock_guard lock(mutex);
        connections.clear();
        serving = false;
    }
    wake.notify_all();
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
    engine_->wake.wait(lock, [this] { return !engine_->serving; });
    return true;
}

void http_server::stop() { engine_->stop(); }

}  // namespace mirvo::server
