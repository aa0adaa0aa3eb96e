#include "common/http/transfer.h"

#include "common/http/http.h"
#include "common/ui/status.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace mirvo {
namespace {

using namespace std::chrono_literals;

// Long enough for a slow line, short enough that a dead server does not hang
// the window for minutes (transfer_timeouts' defaults).
http_detail::timeouts active_timeouts{};

thread_local transfer_cancel* innermost_cancel = nullptr;

}  // namespace

void set_transfer_timeouts_for_testing(const transfer_timeouts& timeouts) { active_timeouts = timeouts; }

void set_transfer_timeouts_for_testing(std::chrono::milliseconds connect, std::chrono::milliseconds stall,
                                       std::chrono::milliseconds total) {
    active_timeouts = {};
    active_timeouts.connect = connect;
    active_timeouts.stall = stall;
    active_timeouts.total = total;
}

void restore_transfer_timeouts() { active_timeouts = {}; }

transfer_cancel::transfer_cancel() : outer_(innermost_cancel) { innermost_cancel = this; }

transfer_cancel::~transfer_cancel() { innermost_cancel = outer_; }

bool transfers_cancelled() {
    for (const transfer_cancel* c = innermost_cancel; c; c = c->outer_)
        if (c->cancelled()) return true;
    return false;
}

}  // namespace mirvo

namespace mirvo::http_detail {
namespace {

constexpr const char* agent_name = "MyProgram/1.0";
// libcurl keeps no cache of its own; these keep proxies from answering from theirs.
constexpr const char* no_cache_headers[] = {"Cache-Control: no-cache", "Pragma: no-cache"};
constexpr long receive_buffer_bytes = 256 * 1024;
// Unread body held at most; beyond it libcurl is paused, so a fast server
// cannot make the whole file pile up in memory ahead of the reader.
constexpr std::size_t unread_limit = 512 * 1024;
constexpr std::chrono::milliseconds idle_slice = 50ms;

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool is_control_or_space(unsigned char c) { return c <= 0x20 || c == 0x7F; }

const char* env(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? v : nullptr;
}

void ensure_curl_initialised() {
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

}  // namespace

std::optional<parsed_url> parse_http_url(std::string_view url) {
    constexpr std::string_view scheme = "http://";
    if (url.size() < scheme.size() || !iequals(url.substr(0, scheme.size()), scheme)) return std::nullopt;
    std::string_view rest = url.substr(scheme.size());
    std::size_t auth_end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, auth_end);
    std::string_view object = auth_end == std::string_view::npos ? std::string_view() : rest.substr(auth_end);

    if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host = authority;
    std::string_view port;
    if (!host.empty() && host.front() == '[') {
        std::size_t close = host.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        std::string_view after = host.substr(close + 1);
        host = host.substr(0, close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            port = after.substr(1);
        }
    } else if (std::size_t colon = host.rfind(':'); colon != std::string_view::npos) {
        port = host.substr(colon + 1);
        host = host.substr(0, colon);
    }
    if (host.empty() || host == "[]") return std::nullopt;
    for (unsigned char c : host)
        if (is_control_or_space(c)) return std::nullopt;

    parsed_url out;
    if (!port.empty()) {
        if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
        out.port = std::atoi(std::string(port).c_str());
        if (out.port < 1 || out.port > 65535) return std::nullopt;
    }
    out.host = std::string(host);
    out.authority = std::string(authority);
    out.object = (object.empty() || object.front() != '/') ? "/" + std::string(object) : std::string(object);
    return out;
}

std::string request_target_bytes(std::string_view object) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(object.size());
    for (unsigned char c : object) {
        if (is_control_or_space(c)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string environment_proxy_for(std::string_view host) {
    const char* proxy = env("http_proxy");
    if (!proxy) proxy = env("all_proxy");
    if (!proxy) proxy = env("ALL_PROXY");
    if (!proxy) return {};

    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const char* no_proxy = env("no_proxy");
    if (!no_proxy) no_proxy = env("NO_PROXY");
    std::string_view list = no_proxy ? no_proxy : "";
    while (!list.empty()) {
        std::size_t end = list.find_first_of(", ");
        std::string_view entry = trim(list.substr(0, end));
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
        if (entry.empty()) continue;
        if (entry == "*") return {};
        if (entry.front() == '.') entry.remove_prefix(1);
        if (iequals(host, entry)) return {};
        if (host.size() > entry.size() && host[host.size() - entry.size() - 1] == '.' &&
            iequals(host.substr(host.size() - entry.size()), entry))
            return {};
    }
    return proxy;
}

std::vector<std::string> headers_to_add(std::string_view block) {
    std::vector<std::string> out;
    while (!block.empty()) {
        std::size_t end = block.find("\r\n");
        std::string_view line = block.substr(0, end);
        block = end == std::string_view::npos ? std::string_view() : block.substr(end + 2);
        if (line.empty()) continue;
        std::string_view name = trim(line.substr(0, line.find(':')));
        if (iequals(name, "User-Agent") || iequals(name, "Host")) continue;
        out.emplace_back(line);
    }
    return out;
}

timeouts current_timeouts() { return active_timeouts; }

struct transfer::impl {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* header_list = nullptr;
    std::string url_for_curl;
    std::string target;
    std::string proxy;
    timeouts limits{};
    bool pump = false;
    bool low_speed = false;

    std::vector<std::pair<std::string, std::string>> reply_headers;
    bool headers_done = false;
    bool finished = false;
    bool failed = false;
    bool paused = false;
    std::string buffer;  // body bytes received and not yet read
    std::size_t taken = 0;
    long long received = 0;
    std::chrono::steady_clock::time_point last_activity;
    // The low-speed measure: bytes received since the window began. Time
    // the reader keeps the transfer paused does not count.
    std::chrono::steady_clock::time_point speed_window_start;
    long long speed_window_bytes = 0;

    void touch() { last_activity = std::chrono::steady_clock::now(); }

    void restart_speed_window() {
        speed_window_start = std::chrono::steady_clock::now();
        speed_window_bytes = received;
    }

    // True when a whole window went by with fewer bytes than the limit asks.
    bool too_slow() {
        if (!low_speed || limits.low_speed_window.count() <= 0) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now - speed_window_start < limits.low_speed_window) return false;
        const double seconds = std::chrono::duration<double>(now - speed_window_start).count();
        if (double(received - speed_window_bytes) < double(limits.low_speed_bytes) * seconds) return true;
        restart_speed_window();
        return false;
    }

    void fail() {
        finished = true;
        failed = true;
    }

    static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
        auto* d = static_cast<impl*>(user);
        std::size_t len = size * count;
        std::string_view line(data, len);
        d->touch();
        if (line.substr(0, 5) == "HTTP/") {
            d->reply_headers.clear();  // a new reply (after an interim 1xx)
        } else if (trim(line).empty()) {
            long code = 0;
            curl_easy_getinfo(d->easy, CURLINFO_RESPONSE_CODE, &code);
            if (code >= 200) d->headers_done = true;
        } else if (std::size_t colon = line.find(':'); colon != std::string_view::npos) {
            d->reply_headers.emplace_back(std::string(trim(line.substr(0, colon))),
                                          std::string(trim(line.substr(colon + 1))));
        }
        return len;
    }

    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
        auto* d = static_cast<impl*>(user);
        std::size_t len = size * count;
        if (d->buffer.size() - d->taken >= unread_limit) {
            d->paused = true;  // libcurl keeps this piece and hands it over again on resume
            return CURL_WRITEFUNC_PAUSE;
        }
        d->buffer.append(data, len);
        d->received += static_cast<long long>(len);
        d->touch();
        return len;
    }

    void collect_completion() {
        int left = 0;
        while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
            if (m->msg != CURLMSG_DONE) continue;
            finished = true;
            if (m->data.result != CURLE_OK) failed = true;
        }
        if (finished && !failed) {
            // libcurl already refuses a short body; this keeps the promise
            // independent of its version.
            curl_off_t declared = -1;
            curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
            if (declared >= 0 && headers_done && declared != received) failed = true;
        }
    }

    // Drives the transfer until done() holds or the transfer ends.
    template <class Done>
    void run_until(Done done) {
        while (!done() && !finished) {
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                fail();
                return;
            }
            collect_completion();
            if (done() || finished) return;
            auto idle = std::chrono::steady_clock::now() - last_activity;
            if ((limits.stall.count() > 0 && idle >= limits.stall) || too_slow()) {
                fail();
                return;
            }
            auto wait = idle_slice;
            if (limits.stall.count() > 0)
                wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(limits.stall - idle) + 1ms);
            int ready = 0;
            if (curl_multi_poll(multi, nullptr, 0, int(wait.count()), &ready) != CURLM_OK) {
                fail();
                return;
            }
            if (pump && ready == 0) {
                // Time spent in event handlers (a dialog opened from one, say)
                // is not time the server kept silent.
                auto before = std::chrono::steady_clock::now();
                const bool go_on = drain_message_queue();
                const auto spent = std::chrono::steady_clock::now() - before;
                last_activity += spent;
                speed_window_start += spent;
                // The program is ending (a closed dialog, say), or the user
                // called the work off: nobody waits for this reply any more.
                if (!go_on || transfers_cancelled()) {
                    fail();
                    return;
                }
            }
        }
    }
};

transfer::transfer(const parsed_url& url, const options& opts) : d_(std::make_unique<impl>()) {
    ensure_curl_initialised();
    d_->limits = current_timeouts();
    d_->pump = opts.pump_while_waiting;
    d_->low_speed = opts.low_speed_limit;
    d_->proxy = environment_proxy_for(url.host);
    d_->url_for_curl = "http://" + url.authority + "/";
    // The request target is given whole so that libcurl neither re-escapes
    // the GBK bytes of the path nor normalises "//" or "/../" away. Through a
    // proxy the request line carries the absolute form.
    d_->target = (d_->proxy.empty() ? std::string() : "http://" + url.authority) + request_target_bytes(url.object);
    for (const std::string& line : headers_to_add(opts.header_block))
        d_->header_list = curl_slist_append(d_->header_list, line.c_str());
    for (const char* line : no_cache_headers) d_->header_list = curl_slist_append(d_->header_list, line);

    CURL* e = d_->easy = curl_easy_init();
    d_->multi = curl_multi_init();
    if (!e || !d_->multi) return;
    curl_easy_setopt(e, CURLOPT_URL, d_->url_for_curl.c_str());
    curl_easy_setopt(e, CURLOPT_REQUEST_TARGET, d_->target.c_str());
    curl_easy_setopt(e, CURLOPT_PROXY, d_->proxy.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(e, CURLOPT_USERAGENT, agent_name);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, d_->header_list);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(d_->limits.connect.count()));
    const std::chrono::milliseconds total = opts.total_time.count() > 0 ? opts.total_time : d_->limits.total;
    if (opts.cap_total_time && total.count() > 0) curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, long(total.count()));
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, receive_buffer_bytes);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &impl::on_header);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, d_.get());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &impl::on_body);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, d_.get());
}

transfer::~transfer() {
    if (d_->multi && d_->easy) curl_multi_remove_handle(d_->multi, d_->easy);
    if (d_->easy) curl_easy_cleanup(d_->easy);
    if (d_->multi) curl_multi_cleanup(d_->multi);
    curl_slist_free_all(d_->header_list);
}

bool transfer::start() {
    // A program that is ending starts no more transfers of this kind, and
    // work that was called off none at all.
    if ((d_->pump && program_ending()) || transfers_cancelled()) {
        d_->fail();
        return false;
    }
    if (!d_->easy || !d_->multi || curl_multi_add_handle(d_->multi, d_->easy) != CURLM_OK) {
        d_->fail();
        return false;
    }
    d_->touch();
    d_->restart_speed_window();
    d_->run_until([this] { return d_->headers_done; });
    if (!d_->headers_done) {
        d_->fail();
        return false;
    }
    curl_easy_getinfo(d_->easy, CURLINFO_RESPONSE_CODE, &status_);
    return true;
}

std::optional<long long> transfer::content_length() const {
    curl_off_t declared = -1;
    curl_easy_getinfo(d_->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
    if (declared < 0) return std::nullopt;
    return static_cast<long long>(declared);
}

std::string transfer::header(std::string_view name) const {
    for (const auto& [n, v] : d_->reply_headers)
        if (iequals(n, name)) return v;
    return {};
}

long transfer::read(char* buf, std::size_t n) {
    impl& d = *d_;
    if (d.buffer.size() - d.taken < n) {
        if (d.taken > 0) {
            d.buffer.erase(0, d.taken);  // what is left is shorter than one read
            d.taken = 0;
        }
        // The stall clock runs only while this read waits, not while the
        // caller was busy between reads.
        d.touch();
        if (d.paused) {
            d.paused = false;
            d.restart_speed_window();
            if (curl_easy_pause(d.easy, CURLPAUSE_CONT) != CURLE_OK) d.fail();
        }
    }
    d.run_until([&] { return d.buffer.size() - d.taken >= n; });
    std::size_t available = d.buffer.size() - d.taken;
    if (available < n && d.failed) return -1;
    std::size_t k = std::min(available, n);
    std::memcpy(buf, d.buffer.data() + d.taken, k);
    d.taken += k;
    return static_cast<long>(k);
}

}  // namespace mirvo::http_detail
