#include "server/service.h"

#include "common/fs/paths.h"
#include "common/protocol/digit_code.h"
#include "common/text/gbk.h"
#include "server/clock.h"
#include "server/password.h"
#include "server/query.h"

#include <fcntl.h>
#include <nettle/hmac.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <future>

namespace mirvo::server {

namespace {

namespace fs = std::filesystem;

constexpr const char* xml_type = "text/xml; charset=GBK";
constexpr const char* html_type = "text/html; charset=GBK";
constexpr std::size_t max_cache_entries = 10000;
constexpr std::int64_t touch_interval = 10;       // seconds between writes of a user's last_seen
constexpr std::size_t max_coded_password = 1100;  // 333 bytes of text code to about 1000 digits
// A good login already in the store is written again at most this often (seconds).
constexpr std::int64_t good_login_refresh = 3600;
constexpr int quota_retry_seconds = 60;
// A file that exists but cannot be opened now (no descriptor free), or a
// store that cannot be reached, is asked for again after this many seconds.
constexpr int busy_retry_seconds = 5;

reply text_reply(int status, const char* type, std::string body) {
    reply r;
    r.status = status;
    r.content_type = type;
    r.body = std::move(body);
    return r;
}
reply xml(int status, std::string body) { return text_reply(status, xml_type, std::move(body)); }
reply error_reply(int status, const std::string& what) { return xml(status, "<error>" + what + "</error>"); }
// The store cannot be reached: the client is told to come back, never that
// its password is wrong or that the catalogue is empty.
reply store_unavailable() {
    reply r = error_reply(503, "busy");
    r.retry_after = busy_retry_seconds;
    r.log_note = "the database cannot be reached";
    return r;
}

bool all_digits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string html_escape(std::string_view s) {
    std::string out = gbk_replace_all(s, "&", "&amp;");
    out = gbk_replace_all(out, "<", "&lt;");
    out = gbk_replace_all(out, ">", "&gt;");
    out = gbk_replace_all(out, "\"", "&quot;");
    out = gbk_replace_all(out, "\r\n", "\n");
    return gbk_replace_all(out, "\n", "<br>");
}

const std::string& gbk(const char* utf8_literal) {
    // Literals are converted once; the map is filled on first use under a lock.
    static std::mutex m;
    static std::unordered_map<const char*, std::string> cache;
    std::lock_guard lock(m);
    auto it = cache.find(utf8_literal);
    if (it == cache.end()) it = cache.emplace(utf8_literal, utf8_to_gbk(utf8_literal)).first;
    return it->second;
}

// True when s is GBK that converts exactly: a byte sequence that is not GBK
// would reach the disk as "?" and name some other file.
bool is_exact_gbk(std::string_view s) { return utf8_to_gbk(gbk_to_utf8(s)) == s; }

// "//dl/download.xml" is "/dl/download.xml": the client's download asks for
// its list that way. Only separators as sent are merged; encoded ones ("%2f")
// stay what they are, and are refused further on.
std::string merge_slashes(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/') out.push_back(c);
    return out;
}

std::string content_type_for(const fs::path& p) {
    std::string ext = p.extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == ".swf") return "application/x-shockwave-flash";
    if (ext == ".xml") return xml_type;
    if (ext == ".htm" || ext == ".html" || ext == ".aspx") return html_type;
    if (ext == ".txt") return "text/plain; charset=GBK";
    if (ext == ".png") return "image/png";
    if (ext == ".gif") return "image/gif";
    if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
    if (ext == ".css") return "text/css";
    return "application/octet-stream";
}

}  // namespace

std::string base_path_of(std::string_view url) {
    std::size_t scheme = url.find("://");
    std::size_t slash = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
    if (slash == std::string_view::npos) return {};
    std::string path(url.substr(slash));
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

site_file::~site_file() {
    if (fd >= 0) ::close(fd);
}

service::service(store& db, service_options options)
    : db_(db), options_(std::move(options)), limiter_(options_.login_limits), hashing_(options_.hashing) {
    std::error_code ec;
    fs::path root = fs::canonical(options_.site_folder, ec);
    site_root_ = ec ? std::string() : root.string();
    random_bytes(cache_key_.data(), cache_key_.size());
}

std::array<std::uint8_t, 32> service::digest(const std::string& name, const std::string& canonical) const {
    hmac_sha256_ctx ctx;
    hmac_sha256_set_key(&ctx, cache_key_.size(), cache_key_.data());
    std::uint64_t n = name.size();
    hmac_sha256_update(&ctx, sizeof n, reinterpret_cast<const std::uint8_t*>(&n));
    hmac_sha256_update(&ctx, name.size(), reinterpret_cast<const std::uint8_t*>(name.data()));
    hmac_sha256_update(&ctx, canonical.size(), reinterpret_cast<const std::uint8_t*>(canonical.data()));
    std::array<std::uint8_t, 32> out{};
    hmac_sha256_digest(&ctx, out.size(), out.data());
    return out;
}

bool service::cached(const std::string& name, const std::string& canonical, const user_record& u) {
    const auto d = digest(name, canonical);
    std::lock_guard lock(cache_mutex_);
    auto it = cache_.find(name);
    if (it == cache_.end() || it->second.stored_hash != u.password_hash) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < d.size(); ++i) diff |= it->second.digest[i] ^ d[i];
    return diff == 0;
}

void service::remember_good_login(const user_record& u, const std::string& address) {
    if (address.empty()) return;
    const std::int64_t now = now_seconds();
    const std::string key = std::to_string(u.id) + " " + address;
    {
        std::lock_guard lock(good_mutex_);
        auto it = recorded_good_.find(key);
        if (it != recorded_good_.end() && now - it->second < good_login_refresh) return;
        if (recorded_good_.size() >= max_cache_entries) recorded_good_.clear();
        recorded_good_[key] = now;
    }
    db_.record_good_login(u.id, address, now);
}

std::optional<reply> service::check_then(login_attempt a, checked then, reply_sink later) {
    // The code turns what it cannot carry into "?", so such a password would
    // also let in whoever typed other characters the code cannot carry.
    if (!a.canonical || a.canonical->find('?') != std::string::npos) return then(std::nullopt);
    std::optional<user_record> u = db_.find_user(a.name);
    if (!u && !db_.available()) return store_unavailable();
    if (u && cached(a.name, *a.canonical, *u)) {
        remember_good_login(*u, a.address);
        return then(u);
    }
    // Past here a check costs a password hash, which a HEAD request never
    // spends, nor a pair of user and address that keeps failing.
    if (!a.may_hash) return then(std::nullopt);
    const login_limiter::verdict v = limiter_.judge(a.address, a.name);
    if (v.refused) return then(std::nullopt);
    const bool known = u && !a.address.empty() && db_.is_good_login(u->id, a.address);
    const hash_budget::lane lane = known          ? hash_budget::lane::known
                                   : u && v.clean ? hash_budget::lane::clean
                                                  : hash_budget::lane::other;
    // Who logged in from here before is not slowed down for what others try.
    const auto due = hash_budget::clock_type::now() + (known ? std::chrono::milliseconds(0) : v.delay);
    hashing_.submit(
        lane, due,
        [this, a = std::move(a), u = std::move(u), then = std::move(then), later = std::move(later)](bool hash) {
            // A check shed by the budget is answered as a failed
            // login, without counting as one.
            later(then(hash ? hash_check(a, u) : std::nullopt));
        });
    return std::nullopt;
}

std::optional<user_record> service::hash_check(const login_attempt& a, const std::optional<user_record>& u) {
    if (!u) {
        // As long as a check of a user that exists, so that the answer's time
        // does not tell which names exist.
        spend_password_check(*a.canonical);
        limiter_.failed(a.address, a.name);
        return std::nullopt;
    }
    if (!verify_password(*a.canonical, u->password_hash)) {
        limiter_.failed(a.address, a.name);
        return std::nullopt;
    }
    {
        std::lock_guard lock(cache_mutex_);
        if (cache_.size() >= max_cache_entries) cache_.clear();
        cache_[a.name] = cached_check{u->password_hash, digest(a.name, *a.canonical)};
    }
    remember_good_login(*u, a.address);
    return u;
}

void service::seen(const user_record& u) {
    std::int64_t now = now_seconds();
    if (now - u.last_seen >= touch_interval) db_.touch(u.id, now);
}

std::string service::coded_movie_folder(const std::string& folder) {
    // Any coding of the folder decodes the same, and coding is slow by design,
    // so one coding serves until the folder changes.
    std::lock_guard lock(movie_folder_mutex_);
    if (folder != movie_folder_plain_ || movie_folder_coded_.empty()) {
        movie_folder_plain_ = folder;
        movie_folder_coded_ = digit_encode(folder);
    }
    return movie_folder_coded_;
}

reply service::handle(std::string_view method, std::string_view target, std::string_view peer) {
    std::promise<reply> late;
    std::future<reply> arrived = late.get_future();
    std::optional<reply> now = handle(method, target, peer, [&late](reply r) { late.set_value(std::move(r)); });
    return now ? std::move(*now) : arrived.get();
}

std::optional<reply> service::handle(std::string_view method, std::string_view target, std::string_view peer,
                                     reply_sink later) {
    if (target.size() > options_.max_target_bytes) return error_reply(414, "request too long");
    if (method != "GET" && method != "HEAD") return error_reply(405, "method not allowed");
    auto [sent_path, raw_query] = split_target(target);
    const std::string merged = merge_slashes(sent_path);
    std::string_view raw_path = merged;
    for (const std::string& base : options_.base_paths) {
        if (!base.empty() && raw_path.size() > base.size() && raw_path.compare(0, base.size(), base) == 0 &&
            raw_path[base.size()] == '/') {
            raw_path.remove_prefix(base.size());
            break;
        }
    }
    std::string path = percent_decode(raw_path);

    if (path == "/testinternet.txt") return text_reply(200, "text/plain", "your internet is ok!");
    // HEAD asks what GET would answer without doing it: nothing is stored,
    // nobody is seen or logged out, and no message is marked read.
    const bool is_get = method == "GET";
    if (path == "/" + options_.request_page) return request_page(raw_query, peer, is_get, std::move(later));
    if (path == "/login.aspx") return messages_page(raw_query, peer, is_get, std::move(later));
    return static_file(raw_path);
}

std::optional<reply> service::request_page(std::string_view raw_query, std::string_view peer, bool may_change,
                                           reply_sink later) {
    query q = query::parse(raw_query);
    if (!q.has("action")) return error_reply(400, "missing action");
    const std::string action = q.get("action");
    static const char* const known[] = {"login", "baselist", "lesson", "", "game", "ad", "save_suggest", "logout"};
    bool is_known = false;
    for (const char* k : known) is_known = is_known || action == k;
    if (!is_known) return error_reply(400, "unknown action");
    if (!q.has("user") || !q.has("password")) return error_reply(400, "missing user or password");

    login_attempt a{q.get("user"), std::nullopt, std::string(peer), may_change};
    // A coded password is digits only, with at least the random number and
    // the length trailer behind the first digit.
    const std::string coded = q.get("password");
    if (coded.size() >= 14 && coded.size() <= max_coded_password && all_digits(coded))
        a.canonical = digit_decode(coded);
    return check_then(
        std::move(a),
        [this, q = std::move(q), may_change](const std::optional<user_record>& u) { return act(q, u, may_change); },
        std::move(later));
}

reply service::act(const query& q, const std::optional<user_record>& u, bool may_change) {
    const std::string action = q.get("action");
    if (action == "login") {
        if (!u) return xml(200, "<user_login>wrong</user_login>");
        if (may_change) seen(*u);
        return xml(200, "<user_login>ok</user_login>");
    }
    if (!u) return error_reply(403, "wrong user or password");

    const std::int64_t now = now_seconds();
    if (action == "logout") {
        if (may_change) db_.mark_offline(u->id);
        return xml(200, "<result>ok</result>");
    }
    if (may_change) seen(*u);
    const std::string new_msg = "<new_msg>" + std::to_string(db_.unread_count(u->id)) + "</new_msg>\r\n";

    if (action.empty()) return xml(200, new_msg);
    if (action == "baselist") {
        const catalogue c = db_.load_catalogue();
        if (c.categories.empty() && !db_.available()) return store_unavailable();
        std::string body =
            "<online_num>" + std::to_string(db_.online_count(now, options_.online_window)) + "</online_num>\r\n";
        body += render_catalogue(c);
        return xml(200, body);
    }
    if (action == "lesson") {
        if (!q.has("lesson_dir")) return error_reply(400, "missing lesson_dir");
        // Folder and movies from one reading: an import in between must not
        // pair one catalogue's folder with the other's movies.
        std::optional<lesson_listing> listing = db_.read_lesson(q.get("lesson_dir"));
        if (!listing && !db_.available()) return store_unavailable();
        if (!listing) return error_reply(404, "no such lesson");
        std::string body =
            "<online_num>" + std::to_string(db_.online_count(now, options_.online_window)) + "</online_num>\r\n";
        body += "<my_ro>" + coded_movie_folder(listing->movie_folder) + "</my_ro>\r\n";
        body += new_msg;
        int order = 0;
        for (const auto& f : listing->files) {
            body += "<file order=\"" + std::to_string(++order) + "\" delay_time=\"" + f.delay_time + "\" name=\"" +
                    f.name + "\" />\r\n";
        }
        return xml(200, body);
    }
    if (action == "game") {
        if (!q.has("lesson_dir")) return error_reply(400, "missing lesson_dir");
        std::string file = q.get("lesson_dir");
        if (file.size() > 255) return error_reply(400, "file name too long");
        if (may_change) {
            const quota_verdict v =
                db_.spend_quota(u->id, "program_start", now_milliseconds(), options_.program_start_quota);
            if (v == quota_verdict::unavailable) return store_unavailable();
            if (v != quota_verdict::granted)
                return over_quota(xml(429, "<result>too many</result>"), *u, "program starts");
            if (!db_.record_game_start(u->id, file, now)) return xml(500, "<result>not saved</result>");
        }
        return xml(200, "<result>ok</result>");
    }
    if (action == "ad") {
        std::string body;
        int order = 0;
        for (const auto& a : db_.load_catalogue().ads)
            body +=
                "<ad order=\"" + std::to_string(++order) + "\" url=\"" + a.url + "\" text=\"" + a.text + "\" />\r\n";
        return xml(200, body);
    }
    return save_suggestion(q, *u, may_change, now);
}

reply service::save_suggestion(const query& q, const user_record& u, bool may_change, std::int64_t now) {
    if (!q.has("type") || !q.has("content"))
        return xml(400, "<process_result>missing type or content</process_result>");
    const std::string type_text = q.get("type");
    if (type_text.size() != 1 || type_text[0] < '0' || type_text[0] > '6')
        return xml(400, "<process_result>bad type</process_result>");
    const std::string content = q.get("content");
    if (content.empty() || content.size() > options_.max_suggestion_bytes)
        return xml(400, "<process_result>bad length</process_result>");
    if (!may_change) return xml(200, "<process_result>ok</process_result>");
    const quota_verdict v = db_.spend_quota(u.id, "suggestion", now_milliseconds(), options_.suggestion_quota);
    if (v == quota_verdict::unavailable) return store_unavailable();
    if (v != quota_verdict::granted)
        return over_quota(xml(429, "<process_result>too many</process_result>"), u, "suggestions");
    if (!db_.save_suggestion(u.id, type_text[0] - '0', content, now))
        return xml(500, "<process_result>not saved</process_result>");
    return xml(200, "<process_result>ok</process_result>");
}

reply service::over_quota(reply r, const user_record& u, const char* what) {
    r.retry_after = quota_retry_seconds;
    const std::int64_t now = now_seconds();
    std::lock_guard lock(quota_log_mutex_);
    auto it = quota_logged_.find(u.id);
    if (it != quota_logged_.end() && now - it->second < 60) {
        r.logged = false;
        return r;
    }
    if (quota_logged_.size() >= max_cache_entries) quota_logged_.clear();
    quota_logged_[u.id] = now;
    r.log_note = std::string("quota: ") + what + " of this user refused; more refusals within a minute are not logged";
    return r;
}

std::optional<reply> service::messages_page(std::string_view raw_query, std::string_view peer, bool shown,
                                            reply_sink later) {
    query q = query::parse(raw_query);
    const std::string head =
        gbk("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
            "<title>我的信息</title></head><body>");
    if (!q.has("user") || !q.has("pw"))
        return text_reply(400, html_type, head + gbk("<p>缺少用户名称或密码。</p></body></html>"));
    login_attempt a{q.get("user"), std::nullopt, std::string(peer), shown};
    const std::string typed = q.get("pw");
    if (typed.size() <= 333) a.canonical = canonical_password(typed);
    return check_then(
        std::move(a),
        [this, head, shown](const std::optional<user_record>& u) {
            if (!u) return text_reply(403, html_type, head + gbk("<p>用户名称或密码不对。</p></body></html>"));
            if (shown) seen(*u);
            std::vector<message_record> messages = db_.read_messages(u->id, shown);
            std::string body = head + "<h2>" + html_escape(u->name) + gbk(" 的信息</h2>");
            if (messages.empty()) body += gbk("<p>您没有信息。</p>");
            for (const auto& m : messages) {
                body += "<p><b>" + local_time_text(m.created, false) + "</b>";
                if (!m.read) body += gbk(" <font color=\"red\">新</font>");
                body += "<br>" + html_escape(m.body) + "</p>";
            }
            body += gbk("<p><a href=\"/searchfriend.aspx\">交新朋友</a></p></body></html>");
            return text_reply(200, html_type, std::move(body));
        },
        std::move(later));
}

reply service::static_file(std::string_view raw_path) {
    std::string rel = percent_decode(raw_path);
    // Names come as GBK bytes; anything that could step outside the site or
    // that no file name holds is refused before the disk is touched.
    if (rel.empty() || rel.front() != '/' || rel.find('\0') != std::string::npos || !is_confined(rel) ||
        !is_exact_gbk(rel) || site_root_.empty())
        return error_reply(404, "not found");
    while (!rel.empty() && (rel.front() == '/' || rel.front() == '\\')) rel.erase(0, 1);
    if (rel.empty()) return error_reply(404, "not found");

    std::error_code ec;
    fs::path candidate = fs::path(site_root_) / to_native(rel);
    fs::path real = fs::canonical(candidate, ec);
    if (ec) return error_reply(404, "not found");
    // A link inside the site may point anywhere; only what resolves inside it is served.
    const std::string real_text = real.string();
    if (real_text.size() <= site_root_.size() || real_text.compare(0, site_root_.size(), site_root_) != 0 ||
        real_text[site_root_.size()] != '/')
        return error_reply(404, "not found");
    if (!fs::is_regular_file(real, ec)) return error_reply(404, "not found");
    // The file that was checked is the one sent: it is opened here (never
    // waiting on a pipe put in its place) and checked again once open.
    const int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) {
        // The file is there: a client told "not found" would misjudge an
        // update, so it is told to come back.
        reply busy = error_reply(503, "busy");
        busy.retry_after = busy_retry_seconds;
        return busy;
    }
    if (fd < 0) return error_reply(404, "not found");
    auto file = std::make_shared<site_file>(fd, 0);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return error_reply(404, "not found");
    file->size = static_cast<std::uint64_t>(st.st_size);
    reply r = text_reply(200, content_type_for(real).c_str(), {});
    r.file = std::move(file);
    return r;
}

}  // namespace mirvo::server
