#include "server/sqlite_store.h"

#include <sqlite3.h>

#include <algorithm>

namespace mirvo::server {

namespace {

const char* const schema = R"sql(
CREATE TABLE IF NOT EXISTS users(
  id INTEGER PRIMARY KEY,
  name BLOB NOT NULL UNIQUE,
  password_hash TEXT NOT NULL,
  last_seen INTEGER NOT NULL DEFAULT 0,
  created INTEGER NOT NULL DEFAULT (strftime('%s','now')));
CREATE TABLE IF NOT EXISTS messages(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  body BLOB NOT NULL,
  created INTEGER NOT NULL,
  read INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS messages_unread ON messages(user_id, read);
CREATE TABLE IF NOT EXISTS suggestions(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  type INTEGER NOT NULL,
  content BLOB NOT NULL,
  created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS game_starts(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  file_name BLOB NOT NULL,
  created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS settings(key TEXT PRIMARY KEY, value BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS categories(id INTEGER PRIMARY KEY, pos INTEGER NOT NULL, title BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS subcategories(
  id INTEGER PRIMARY KEY, category_id INTEGER NOT NULL REFERENCES categories(id),
  pos INTEGER NOT NULL, title BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS entries(
  id INTEGER PRIMARY KEY, subcategory_id INTEGER NOT NULL REFERENCES subcategories(id),
  pos INTEGER NOT NULL, title BLOB NOT NULL, dir BLOB NOT NULL, type BLOB NOT NULL,
  file_name BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS entries_dir ON entries(dir);
CREATE TABLE IF NOT EXISTS lesson_files(
  id INTEGER PRIMARY KEY, entry_id INTEGER NOT NULL REFERENCES entries(id),
  pos INTEGER NOT NULL, name BLOB NOT NULL, delay_time BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS ads(id INTEGER PRIMARY KEY, pos INTEGER NOT NULL, text BLOB NOT NULL, url BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS good_logins(
  user_id INTEGER NOT NULL REFERENCES users(id),
  address TEXT NOT NULL,
  last_login INTEGER NOT NULL,
  PRIMARY KEY(user_id, address));
CREATE TABLE IF NOT EXISTS quotas(
  user_id INTEGER NOT NULL REFERENCES users(id),
  kind TEXT NOT NULL,
  next_ms INTEGER NOT NULL,
  day INTEGER NOT NULL,
  used_today INTEGER NOT NULL,
  PRIMARY KEY(user_id, kind));
)sql";

// A prepared statement with positional binding and typed column reads.
class stmt {
public:
    stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
    ~stmt() { sqlite3_finalize(s_); }
    stmt(const stmt&) = delete;
    stmt& operator=(const stmt&) = delete;

    bool ok() const { return s_ != nullptr; }
    stmt& bind(std::int64_t v) {
        sqlite3_bind_int64(s_, ++n_, v);
        return *this;
    }
    stmt& bind(const std::string& v) {
        sqlite3_bind_blob(s_, ++n_, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    stmt& bind_text(const std::string& v) {
        sqlite3_bind_text(s_, ++n_, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return s_ ? sqlite3_step(s_) : SQLITE_ERROR; }
    bool run() { return step() == SQLITE_DONE; }
    std::int64_t i64(int col) { return sqlite3_column_int64(s_, col); }
    std::string str(int col) {
        const void* p = sqlite3_column_blob(s_, col);
        int n = sqlite3_column_bytes(s_, col);
        return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
    }

private:
    sqlite3_stmt* s_ = nullptr;
    int n_ = 0;
};

}  // namespace

std::unique_ptr<sqlite_store> sqlite_store::open(const std::string& path, std::string& error, int busy_ms) {
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        error = "cannot open database " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, busy_ms);
    std::unique_ptr<sqlite_store> s(new sqlite_store(db));
    if (!s->exec("PRAGMA journal_mode=WAL") || !s->exec("PRAGMA synchronous=NORMAL") ||
        !s->exec("PRAGMA foreign_keys=ON") || !s->exec(schema)) {
        error = "cannot prepare database " + path + ": " + sqlite3_errmsg(db);
        return nullptr;
    }
    // The version lives in the file's header: the tables stay as they were,
    // so a file written here still opens with an older service.
    const int found = s->version();
    if (found > schema_version) {
        error = "database " + path + " has schema version " + std::to_string(found) + ", newer than this program's " +
                std::to_string(schema_version);
        return nullptr;
    }
    if (found < schema_version && !s->exec(("PRAGMA user_version=" + std::to_string(schema_version)).c_str())) {
        error = "cannot prepare database " + path + ": " + sqlite3_errmsg(db);
        return nullptr;
    }
    return s;
}

sqlite_store::~sqlite_store() { sqlite3_close(db_); }

bool sqlite_store::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

int sqlite_store::version() {
    std::lock_guard lock(mutex_);
    stmt s(db_, "PRAGMA user_version");
    return s.step() == SQLITE_ROW ? static_cast<int>(s.i64(0)) : 0;
}

bool sqlite_store::add_user(const std::string& name, const std::string& password_hash, std::string& error) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "INSERT INTO users(name, password_hash) VALUES(?, ?)");
    if (s.bind(name).bind_text(password_hash).run()) return true;
    error = sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE ? "the user exists already" : sqlite3_errmsg(db_);
    return false;
}

bool sqlite_store::set_password_hash(const std::string& name, const std::string& password_hash) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "UPDATE users SET password_hash = ? WHERE name = ?");
    return s.bind_text(password_hash).bind(name).run() && sqlite3_changes(db_) == 1;
}

std::optional<user_record> sqlite_store::find_user(const std::string& name) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "SELECT id, name, password_hash, last_seen FROM users WHERE name = ?");
    s.bind(name);
    if (s.step() != SQLITE_ROW) return std::nullopt;
    return user_record{s.i64(0), s.str(1), s.str(2), s.i64(3)};
}

std::vector<user_record> sqlite_store::users() {
    std::lock_guard lock(mutex_);
    std::vector<user_record> out;
    stmt s(db_, "SELECT id, name, password_hash, last_seen FROM users ORDER BY id");
    while (s.step() == SQLITE_ROW) out.push_back({s.i64(0), s.str(1), s.str(2), s.i64(3)});
    return out;
}

void sqlite_store::touch(std::int64_t user_id, std::int64_t now) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "UPDATE users SET last_seen = ? WHERE id = ?");
    s.bind(now).bind(user_id).run();
}

void sqlite_store::mark_offline(std::int64_t user_id) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "UPDATE users SET last_seen = 0 WHERE id = ?");
    s.bind(user_id).run();
}

int sqlite_store::online_count(std::int64_t now, std::int64_t window) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "SELECT COUNT(*) FROM users WHERE last_seen > 0 AND last_seen >= ?");
    s.bind(now - window);
    return s.step() == SQLITE_ROW ? static_cast<int>(s.i64(0)) : 0;
}

std::vector<user_record> sqlite_store::online_users(std::int64_t now, std::int64_t window) {
    std::lock_guard lock(mutex_);
    std::vector<user_record> out;
    stmt s(db_,
           "SELECT id, name, '', last_seen FROM users WHERE last_seen > 0 AND last_seen >= ? "
           "ORDER BY last_seen DESC");
    s.bind(now - window);
    while (s.step() == SQLITE_ROW) out.push_back({s.i64(0), s.str(1), {}, s.i64(3)});
    return out;
}

bool sqlite_store::post_message(const std::string& user, const std::string& body, std::int64_t now) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "INSERT INTO messages(user_id, body, created) SELECT id, ?, ? FROM users WHERE name = ?");
    return s.bind(body).bind(now).bind(user).run() && sqlite3_changes(db_) == 1;
}

int sqlite_store::unread_count(std::int64_t user_id) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "SELECT COUNT(*) FROM messages WHERE user_id = ? AND read = 0");
    s.bind(user_id);
    return s.step() == SQLITE_ROW ? static_cast<int>(s.i64(0)) : 0;
}

std::vector<message_record> sqlite_store::read_messages(std::int64_t user_id, bool mark_read) {
    std::lock_guard lock(mutex_);
    std::vector<message_record> out;
    // Without a transaction a message posted between the reading and the
    // marking would be marked read unseen; so no transaction, no marking.
    const bool in_transaction = mark_read && exec("BEGIN IMMEDIATE");
    bool complete = false;
    {
        stmt s(db_, "SELECT id, body, created, read FROM messages WHERE user_id = ? ORDER BY id DESC");
        s.bind(user_id);
        int rc;
        while ((rc = s.step()) == SQLITE_ROW) out.push_back({s.i64(0), s.str(1), s.i64(2), s.i64(3) != 0});
        complete = rc == SQLITE_DONE;
    }
    if (!in_transaction) return out;
    bool marked = false;
    if (complete) {
        // Only up to the newest message read above, whatever else the
        // connection may see.
        std::int64_t newest = 0;
        for (const auto& m : out) newest = std::max(newest, m.id);
        stmt u(db_, "UPDATE messages SET read = 1 WHERE user_id = ? AND read = 0 AND id <= ?");
        marked = u.bind(user_id).bind(newest).run();
    }
    if (!marked || !exec("COMMIT")) exec("ROLLBACK");
    return out;
}

bool sqlite_store::save_suggestion(std::int64_t user_id, int type, const std::string& content, std::int64_t now) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "INSERT INTO suggestions(user_id, type, content, created) VALUES(?, ?, ?, ?)");
    return s.bind(user_id).bind(static_cast<std::int64_t>(type)).bind(content).bind(now).run();
}

std::vector<suggestion_record> sqlite_store::suggestions() {
    std::lock_guard lock(mutex_);
    std::vector<suggestion_record> out;
    stmt s(db_,
           "SELECT s.id, u.name, s.type, s.content, s.created FROM suggestions s "
           "JOIN users u ON u.id = s.user_id ORDER BY s.id");
    while (s.step() == SQLITE_ROW) out.push_back({s.i64(0), s.str(1), static_cast<int>(s.i64(2)), s.str(3), s.i64(4)});
    return out;
}

bool sqlite_store::record_game_start(std::int64_t user_id, const std::string& file_name, std::int64_t now) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "INSERT INTO game_starts(user_id, file_name, created) VALUES(?, ?, ?)");
    return s.bind(user_id).bind(file_name).bind(now).run();
}

int sqlite_store::game_start_count() {
    std::lock_guard lock(mutex_);
    stmt s(db_, "SELECT COUNT(*) FROM game_starts");
    return s.step() == SQLITE_ROW ? static_cast<int>(s.i64(0)) : 0;
}

bool sqlite_store::import_catalogue(const catalogue& c, std::string& error) {
    if (!validate_catalogue(c, error)) return false;
    std::lock_guard lock(mutex_);
    if (!exec("BEGIN IMMEDIATE")) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    bool ok = exec(
        "DELETE FROM lesson_files; DELETE FROM entries; DELETE FROM subcategories; "
        "DELETE FROM categories; DELETE FROM ads;");
    {
        stmt folder(db_, "INSERT OR REPLACE INTO settings(key, value) VALUES('movie_folder', ?)");
        ok = ok && folder.bind(c.movie_folder).run();
    }
    int cpos = 0;
    for (const auto& cat : c.categories) {
        if (!ok) break;
        stmt sc(db_, "INSERT INTO categories(pos, title) VALUES(?, ?)");
        ok = sc.bind(++cpos).bind(cat.title).run();
        std::int64_t cat_id = sqlite3_last_insert_rowid(db_);
        int spos = 0;
        for (const auto& sub : cat.subcategories) {
            if (!ok) break;
            stmt ss(db_, "INSERT INTO subcategories(category_id, pos, title) VALUES(?, ?, ?)");
            ok = ss.bind(cat_id).bind(++spos).bind(sub.title).run();
            std::int64_t sub_id = sqlite3_last_insert_rowid(db_);
            int epos = 0;
            for (const auto& e : sub.entries) {
                if (!ok) break;
                stmt se(db_,
                        "INSERT INTO entries(subcategory_id, pos, title, dir, type, file_name) "
                        "VALUES(?, ?, ?, ?, ?, ?)");
                ok = se.bind(sub_id).bind(++epos).bind(e.title).bind(e.dir).bind(e.type).bind(e.file_name).run();
                std::int64_t entry_id = sqlite3_last_insert_rowid(db_);
                int fpos = 0;
                for (const auto& f : e.files) {
                    if (!ok) break;
                    stmt sf(db_, "INSERT INTO lesson_files(entry_id, pos, name, delay_time) VALUES(?, ?, ?, ?)");
                    ok = sf.bind(entry_id).bind(++fpos).bind(f.name).bind(f.delay_time).run();
                }
            }
        }
    }
    int apos = 0;
    for (const auto& a : c.ads) {
        if (!ok) break;
        stmt sa(db_, "INSERT INTO ads(pos, text, url) VALUES(?, ?, ?)");
        ok = sa.bind(++apos).bind(a.text).bind(a.url).run();
    }
    if (!ok) {
        error = sqlite3_errmsg(db_);
        exec("ROLLBACK");
        return false;
    }
    if (!exec("COMMIT")) {
        error = sqlite3_errmsg(db_);
        exec("ROLLBACK");
        return false;
    }
    return true;
}

void sqlite_store::record_good_login(std::int64_t user_id, const std::string& address, std::int64_t now) {
    std::lock_guard lock(mutex_);
    stmt s(db_,
           "INSERT INTO good_logins(user_id, address, last_login) VALUES(?, ?, ?) "
           "ON CONFLICT(user_id, address) DO UPDATE SET last_login = excluded.last_login");
    if (!s.bind(user_id).bind_text(address).bind(now).run()) return;
    stmt prune(db_,
               "DELETE FROM good_logins WHERE user_id = ? AND address NOT IN "
               "(SELECT address FROM good_logins WHERE user_id = ? ORDER BY last_login DESC LIMIT ?)");
    prune.bind(user_id).bind(user_id).bind(static_cast<std::int64_t>(good_logins_per_user)).run();
}

bool sqlite_store::is_good_login(std::int64_t user_id, const std::string& address) {
    std::lock_guard lock(mutex_);
    stmt s(db_, "SELECT 1 FROM good_logins WHERE user_id = ? AND address = ?");
    return s.bind(user_id).bind_text(address).step() == SQLITE_ROW;
}

quota_verdict sqlite_store::spend_quota(std::int64_t user_id, const std::string& kind, std::int64_t now_ms,
                                        const quota_rule& rule) {
    std::lock_guard lock(mutex_);
    if (!exec("BEGIN IMMEDIATE")) return quota_verdict::unavailable;
    quota_state before;
    {
        stmt s(db_, "SELECT next_ms, day, used_today FROM quotas WHERE user_id = ? AND kind = ?");
        if (s.bind(user_id).bind_text(kind).step() == SQLITE_ROW) before = {s.i64(0), s.i64(1), s.i64(2)};
    }
    quota_decision d = decide_quota(before, now_ms, rule);
    if (d.verdict == quota_verdict::granted) {
        stmt u(db_,
               "INSERT INTO quotas(user_id, kind, next_ms, day, used_today) VALUES(?, ?, ?, ?, ?) "
               "ON CONFLICT(user_id, kind) DO UPDATE SET next_ms = excluded.next_ms, day = excluded.day, "
               "used_today = excluded.used_today");
        if (!u.bind(user_id).bind_text(kind).bind(d.after.next_ms).bind(d.after.day).bind(d.after.used_today).run())
            d.verdict = quota_verdict::unavailable;
    }
    // A use that could not be counted is not granted: the quota must hold.
    if (d.verdict != quota_verdict::granted || !exec("COMMIT")) {
        exec("ROLLBACK");
        return d.verdict == quota_verdict::granted ? quota_verdict::unavailable : d.verdict;
    }
    return d.verdict;
}

catalogue sqlite_store::load_catalogue() {
    std::lock_guard lock(mutex_);
    catalogue c;
    exec("BEGIN");  // one consistent snapshot while an import may run elsewhere
    {
        stmt f(db_, "SELECT value FROM settings WHERE key = 'movie_folder'");
        if (f.step() == SQLITE_ROW) c.movie_folder = f.str(0);
        stmt sc(db_, "SELECT id, title FROM categories ORDER BY pos");
        while (sc.step() == SQLITE_ROW) {
            category cat{sc.str(1), {}};
            stmt ss(db_, "SELECT id, title FROM subcategories WHERE category_id = ? ORDER BY pos");
            ss.bind(sc.i64(0));
            while (ss.step() == SQLITE_ROW) {
                subcategory sub{ss.str(1), {}};
                stmt se(db_,
                        "SELECT title, dir, type, file_name FROM entries WHERE subcategory_id = ? "
                        "ORDER BY pos");
                se.bind(ss.i64(0));
                while (se.step() == SQLITE_ROW) sub.entries.push_back({se.str(0), se.str(1), se.str(2), se.str(3), {}});
                cat.subcategories.push_back(std::move(sub));
            }
            c.categories.push_back(std::move(cat));
        }
        stmt sa(db_, "SELECT text, url FROM ads ORDER BY pos");
        while (sa.step() == SQLITE_ROW) c.ads.push_back({sa.str(0), sa.str(1)});
    }
    exec("COMMIT");
    return c;
}

std::optional<lesson_listing> sqlite_store::read_lesson(const std::string& dir) {
    std::lock_guard lock(mutex_);
    const bool in_transaction = exec("BEGIN");
    std::optional<lesson_listing> out;
    {
        stmt f(db_, "SELECT value FROM settings WHERE key = 'movie_folder'");
        std::string folder = f.step() == SQLITE_ROW ? f.str(0) : std::string();
        std::vector<lesson_file> files;
        if (lesson_files_locked(dir, files)) out = lesson_listing{std::move(folder), std::move(files)};
    }
    if (in_transaction) exec("COMMIT");
    return out;
}

bool sqlite_store::lesson_files(const std::string& dir, std::vector<lesson_file>& out) {
    std::lock_guard lock(mutex_);
    return lesson_files_locked(dir, out);
}

bool sqlite_store::lesson_files_locked(const std::string& dir, std::vector<lesson_file>& out) {
    out.clear();
    stmt se(db_,
            "SELECT e.id FROM entries e JOIN subcategories s ON s.id = e.subcategory_id "
            "JOIN categories c ON c.id = s.category_id "
            "WHERE e.dir = ? AND e.type = CAST('lesson' AS BLOB) ORDER BY c.pos, s.pos, e.pos LIMIT 1");
    se.bind(dir);
    if (se.step() != SQLITE_ROW) return false;
    stmt sf(db_, "SELECT name, delay_time FROM lesson_files WHERE entry_id = ? ORDER BY pos");
    sf.bind(se.i64(0));
    while (sf.step() == SQLITE_ROW) out.push_back({sf.str(0), sf.str(1)});
    return true;
}

}  // namespace mirvo::server
