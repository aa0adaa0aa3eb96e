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

namespace mirvo::server {

namespace {

namespace fs = std::filesystem;

constexpr const char* xml_type = "text/xml; charset=GBK";
constexpr const char* html_type = "text/html; charset=GBK";
constexpr std::size_t max_cache_entries = 10000;
constexpr std::int64_t touch_interval = 10;       // seconds between writes of a user's last_seen
constexpr std::size_t max_coded_password = 1100;  // 333 bytes of text code to about 1000 digits
// A file that exists but cannot be opened now (no descriptor free) is asked
// for again after this many seconds.
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
    : db_(db), options_(std::move(options)), limiter_(options_.login_limits) {
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

std::optional<user_record> service::check_canonical(const std::string& name, const std::string& canonical,
                                                    std::string_view peer) {
    // The code turns what it cannot carry into "?", so such a password would
    // also let in whoever typed other characters the code cannot carry.
    if (canonical.find('?') != std::string::npos) return std::nullopt;
    std::optional<user_record> u = db_.find_user(name);
    auto d = digest(name, canonical);
    if (u) {
        std::lock_guard lock(cache_mutex_);
        auto it = cache_.find(name);
        if (it != cache_.end() && it->second.stored_hash == u->password_hash) {
            unsigned char diff = 0;
            for (std::size_t i = 0; i < d.size(); ++i) diff |= it->second.digest[i] ^ d[i];
            if (diff == 0) return u;
        }
    }
    // Past here a check costs a password hash; a peer or a name that keeps
    // failing is answered without one.
    const std::string address(peer);
    if (!limiter_.may_check(address, name)) return std::nullopt;
    if (!u) {
        spend_password_check(canonical);
        limiter_.failed(address, name);
        return std::nullopt;
    }
    if (!verify_password(canonical, u->password_hash)) {
        limiter_.failed(address, name);
        return std::nullopt;
    }
    std::lock_guard lock(cache_mutex_);
    if (cache_.size() >= max_cache_entries) cache_.clear();
    cache_[name] = cached_check{u->password_hash, d};
    return u;
}

std::optional<user_record> service::authenticate(const std::string& name, const std::string& coded,
                                                 std::string_view peer) {
    // A coded password is digits only, with at least the random number and
    // the length trailer behind the first digit.
    if (coded.size() < 14 || coded.size() > max_coded_password || !all_digits(coded)) return std::nullopt;
    return check_canonical(name, digit_decode(coded), peer);
}

std::optional<user_record> service::authenticate_plain(const std::string& name, const std::string& typed,
                                                       std::string_view peer) {
    if (typed.size() > 333) return std::nullopt;
    return check_canonical(name, canonical_password(typed), peer);
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
    if (path == "/" + options_.request_page) return request_page(raw_query, peer, is_get);
    if (path == "/login.aspx") return messages_page(raw_query, peer, is_get);
    return static_file(raw_path);
}

reply service::request_page(std::string_view raw_query, std::string_view peer, bool may_change) {
    query q = query::parse(raw_query);
    if (!q.has("action")) return error_reply(400, "missing action");
    const std::string action = q.get("action");
    static const char* const known[] = {"login", "baselist", "lesson", "", "game", "ad", "save_suggest", "logout"};
    bool is_known = false;
    for (const char* k : known) is_known = is_known || action == k;
    if (!is_known) return error_reply(400, "unknown action");
    if (!q.has("user") || !q.has("password")) return error_reply(400, "missing user or password");

    std::optional<user_record> u = authenticate(q.get("user"), q.get("password"), peer);
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
        std::string body =
            "<online_num>" + std::to_string(db_.online_count(now, options_.online_window)) + "</online_num>\r\n";
        body += render_catalogue(db_.load_catalogue());
        return xml(200, body);
    }
    if (action == "lesson") {
        if (!q.has("lesson_dir")) return error_reply(400, "missing lesson_dir");
        // Folder and movies from one reading: an import in between must not
        // pair one catalogue's folder with the other's movies.
        std::optional<lesson_listing> listing = db_.read_lesson(q.get("lesson_dir"));
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
        if (may_change) db_.record_game_start(u->id, file, now);
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
    // save_suggest
    if (!q.has("type") || !q.has("content"))
        return xml(400, "<process_result>missing type or content</process_result>");
    const std::string type_text = q.get("type");
    if (type_text.size() != 1 || type_text[0] < '0' || type_text[0] > '6')
        return xml(400, "<process_result>bad type</process_result>");
    const std::string content = q.get("content");
    if (content.empty() || content.size() > options_.max_suggestion_bytes)
        return xml(400, "<process_result>bad length</process_result>");
    if (may_change && !db_.save_suggestion(u->id, type_text[0] - '0', content, now))
        return xml(500, "<process_result>not saved</process_result>");
    return xml(200, "<process_result>ok</process_result>");
}

reply service::messages_page(std::string_view raw_query, std::string_view peer, bool shown) {
    query q = query::parse(raw_query);
    const std::string head =
        gbk("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
            "<title>我的信息</title></head><body>");
    if (!q.has("user") || !q.has("pw"))
        return text_reply(400, html_type, head + gbk("<p>缺少用户名称或密码。</p></body></html>"));
    std::optional<user_record> u = authenticate_plain(q.get("user"), q.get("pw"), peer);
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
