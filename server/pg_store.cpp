#include "server/pg_store.h"

#include "server/pg.h"

#include <algorithm>
#include <map>

namespace mirvo::server {

namespace {

using pg::params;
using pg::result;

// Reads of several statements see one snapshot: an import committed in
// between is seen whole or not at all.
constexpr const char* begin_snapshot = "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY";

bool command(PGconn* c, const char* sql) { return pg::run_script(c, sql).ok(); }

user_record user_at(const result& r, int row) { return {r.i64(row, 0), r.str(row, 1), r.str(row, 2), r.i64(row, 3)}; }

}  // namespace

std::unique_ptr<pg_store> pg_store::open(const std::string& uri, std::string& error, int busy_ms, int connections) {
    std::unique_ptr<pg_store> s(new pg_store(uri, busy_ms, std::max(1, connections)));
    PGconn* first = pg::connect(uri, busy_ms, error);
    if (!first) return nullptr;
    s->open_ = 1;
    lease l(*s, first);
    const int found = pg::version(first, error);
    if (found < 0) return nullptr;
    if (found != schema_version) {
        error = found == 0 ? "the database has no schema yet: run mirvo-server migrate --db URI first"
                : found < schema_version
                    ? "the database has schema version " + std::to_string(found) +
                          ": run mirvo-server migrate --db URI to bring it to version " + std::to_string(schema_version)
                    : "the database has schema version " + std::to_string(found) + ", newer than this program's " +
                          std::to_string(schema_version);
        return nullptr;
    }
    return s;
}

pg_store::~pg_store() {
    std::lock_guard lock(mutex_);
    for (PGconn* c : idle_) PQfinish(c);
}

pg_store::lease::~lease() {
    if (conn_) store_.give_back(conn_);
}

bool pg_store::lease::broken() const { return !conn_ || PQstatus(conn_) != CONNECTION_OK; }

pg_store::lease pg_store::borrow() {
    std::unique_lock lock(mutex_);
    returned_.wait(lock, [this] { return !idle_.empty() || open_ < max_connections_; });
    if (!idle_.empty()) {
        PGconn* c = idle_.back();
        idle_.pop_back();
        return lease(*this, c);
    }
    ++open_;
    lock.unlock();
    std::string error;
    PGconn* c = pg::connect(uri_, busy_ms_, error);
    if (!c) {
        lock.lock();
        --open_;
        returned_.notify_one();
    }
    return lease(*this, c);
}

void pg_store::give_back(PGconn* c) {
    // A connection left inside a transaction (a failure on the way) or
    // broken is no use to the next request.
    const bool usable = PQstatus(c) == CONNECTION_OK && PQtransactionStatus(c) == PQTRANS_IDLE;
    if (!usable) PQfinish(c);
    std::lock_guard lock(mutex_);
    if (usable)
        idle_.push_back(c);
    else
        --open_;
    returned_.notify_one();
}

template <class F>
auto pg_store::reading(F read) -> decltype(read(std::declval<PGconn*>())) {
    for (int attempt = 0;; ++attempt) {
        lease l = borrow();
        if (!l) return decltype(read(std::declval<PGconn*>()))();
        auto out = read(l.get());
        if (!l.broken() || attempt == 1) return out;
    }
}

bool pg_store::available() {
    lease l = borrow();
    return l && pg::run(l.get(), "SELECT 1").ok();
}

bool pg_store::add_user(const std::string& name, const std::string& password_hash, std::string& error) {
    lease l = borrow();
    if (!l) {
        error = "no connection to the database";
        return false;
    }
    params p;
    p.bind(name).bind_text(password_hash);
    result r = pg::run(l.get(), "INSERT INTO users(name, password_hash) VALUES($1, $2)", p);
    if (r.ok()) return true;
    error = r.state() == "23505" ? "the user exists already" : r.message();
    return false;
}

bool pg_store::set_password_hash(const std::string& name, const std::string& password_hash) {
    lease l = borrow();
    if (!l) return false;
    params p;
    p.bind_text(password_hash).bind(name);
    result r = pg::run(l.get(), "UPDATE users SET password_hash = $1 WHERE name = $2", p);
    return r.ok() && r.affected() == 1;
}

std::optional<user_record> pg_store::find_user(const std::string& name) {
    return reading([&](PGconn* c) -> std::optional<user_record> {
        params p;
        p.bind(name);
        result r = pg::run(c, "SELECT id, name, password_hash, last_seen FROM users WHERE name = $1", p);
        if (!r.ok() || r.rows() != 1) return std::nullopt;
        return user_at(r, 0);
    });
}

std::vector<user_record> pg_store::users() {
    return reading([&](PGconn* c) {
        std::vector<user_record> out;
        result r = pg::run(c, "SELECT id, name, password_hash, last_seen FROM users ORDER BY id");
        for (int i = 0; i < r.rows(); ++i) out.push_back(user_at(r, i));
        return out;
    });
}

void pg_store::touch(std::int64_t user_id, std::int64_t now) {
    lease l = borrow();
    if (!l) return;
    params p;
    p.bind(now).bind(user_id);
    pg::run(l.get(), "UPDATE users SET last_seen = $1 WHERE id = $2", p);
}

void pg_store::mark_offline(std::int64_t user_id) {
    lease l = borrow();
    if (!l) return;
    params p;
    p.bind(user_id);
    pg::run(l.get(), "UPDATE users SET last_seen = 0 WHERE id = $1", p);
}

int pg_store::online_count(std::int64_t now, std::int64_t window) {
    return reading([&](PGconn* c) {
        params p;
        p.bind(now - window);
        result r = pg::run(c, "SELECT COUNT(*) FROM users WHERE last_seen > 0 AND last_seen >= $1", p);
        return r.ok() && r.rows() == 1 ? static_cast<int>(r.i64(0, 0)) : 0;
    });
}

std::vector<user_record> pg_store::online_users(std::int64_t now, std::int64_t window) {
    return reading([&](PGconn* c) {
        std::vector<user_record> out;
        params p;
        p.bind(now - window);
        result r = pg::run(c,
                           "SELECT id, name, '', last_seen FROM users WHERE last_seen > 0 AND last_seen >= $1 "
                           "ORDER BY last_seen DESC",
                           p);
        for (int i = 0; i < r.rows(); ++i) out.push_back({r.i64(i, 0), r.str(i, 1), {}, r.i64(i, 3)});
        return out;
    });
}

bool pg_store::post_message(const std::string& user, const std::string& body, std::int64_t now) {
    lease l = borrow();
    if (!l) return false;
    params p;
    p.bind(body).bind(now).bind(user);
    result r = pg::run(l.get(),
                       "INSERT INTO messages(user_id, body, created) SELECT id, $1, $2 FROM users WHERE name = $3", p);
    return r.ok() && r.affected() == 1;
}

int pg_store::unread_count(std::int64_t user_id) {
    return reading([&](PGconn* c) {
        params p;
        p.bind(user_id);
        result r = pg::run(c, "SELECT COUNT(*) FROM messages WHERE user_id = $1 AND read = 0", p);
        return r.ok() && r.rows() == 1 ? static_cast<int>(r.i64(0, 0)) : 0;
    });
}

std::vector<message_record> pg_store::read_messages(std::int64_t user_id, bool mark_read) {
    lease l = borrow();
    std::vector<message_record> out;
    if (!l) return out;
    PGconn* c = l.get();
    // One snapshot for the reading and the marking: a message committed in
    // between is not in the snapshot, so it is neither shown nor marked. A
    // marking that meets another's change fails, and the messages stay
    // unread for a later reading.
    const bool in_transaction = mark_read && command(c, "BEGIN ISOLATION LEVEL REPEATABLE READ");
    params p;
    p.bind(user_id);
    result r = pg::run(c, "SELECT id, body, created, read FROM messages WHERE user_id = $1 ORDER BY id DESC", p);
    for (int i = 0; i < r.rows(); ++i) out.push_back({r.i64(i, 0), r.str(i, 1), r.i64(i, 2), r.i64(i, 3) != 0});
    if (!in_transaction) return out;
    bool marked = false;
    if (r.ok()) {
        std::int64_t newest = 0;
        for (const auto& m : out) newest = std::max(newest, m.id);
        params u;
        u.bind(user_id).bind(newest);
        marked = pg::run(c, "UPDATE messages SET read = 1 WHERE user_id = $1 AND read = 0 AND id <= $2", u).ok();
    }
    if (!marked || !command(c, "COMMIT")) command(c, "ROLLBACK");
    return out;
}

bool pg_store::save_suggestion(std::int64_t user_id, int type, const std::string& content, std::int64_t now) {
    lease l = borrow();
    if (!l) return false;
    params p;
    p.bind(user_id).bind(static_cast<std::int64_t>(type)).bind(content).bind(now);
    return pg::run(l.get(), "INSERT INTO suggestions(user_id, type, content, created) VALUES($1, $2, $3, $4)", p).ok();
}

std::vector<suggestion_record> pg_store::suggestions() {
    return reading([&](PGconn* c) {
        std::vector<suggestion_record> out;
        result r = pg::run(c,
                           "SELECT s.id, u.name, s.type, s.content, s.created FROM suggestions s "
                           "JOIN users u ON u.id = s.user_id ORDER BY s.id");
        for (int i = 0; i < r.rows(); ++i)
            out.push_back({r.i64(i, 0), r.str(i, 1), static_cast<int>(r.i64(i, 2)), r.str(i, 3), r.i64(i, 4)});
        return out;
    });
}

bool pg_store::record_game_start(std::int64_t user_id, const std::string& file_name, std::int64_t now) {
    lease l = borrow();
    if (!l) return false;
    params p;
    p.bind(user_id).bind(file_name).bind(now);
    return pg::run(l.get(), "INSERT INTO game_starts(user_id, file_name, created) VALUES($1, $2, $3)", p).ok();
}

int pg_store::game_start_count() {
    return reading([&](PGconn* c) {
        result r = pg::run(c, "SELECT COUNT(*) FROM game_starts");
        return r.ok() && r.rows() == 1 ? static_cast<int>(r.i64(0, 0)) : 0;
    });
}

void pg_store::record_good_login(std::int64_t user_id, const std::string& address, std::int64_t now) {
    lease l = borrow();
    if (!l) return;
    params p;
    p.bind(user_id).bind_text(address).bind(now);
    if (!pg::run(l.get(),
                 "INSERT INTO good_logins(user_id, address, last_login) VALUES($1, $2, $3) "
                 "ON CONFLICT(user_id, address) DO UPDATE SET last_login = excluded.last_login",
                 p)
             .ok())
        return;
    params prune;
    prune.bind(user_id).bind(static_cast<std::int64_t>(good_logins_per_user));
    pg::run(l.get(),
            "DELETE FROM good_logins WHERE user_id = $1 AND address NOT IN "
            "(SELECT address FROM good_logins WHERE user_id = $1 ORDER BY last_login DESC LIMIT $2)",
            prune);
}

bool pg_store::is_good_login(std::int64_t user_id, const std::string& address) {
    return reading([&](PGconn* c) {
        params p;
        p.bind(user_id).bind_text(address);
        result r = pg::run(c, "SELECT 1 FROM good_logins WHERE user_id = $1 AND address = $2", p);
        return r.ok() && r.rows() == 1;
    });
}

quota_verdict pg_store::spend_quota(std::int64_t user_id, const std::string& kind, std::int64_t now_ms,
                                    const quota_rule& rule) {
    lease l = borrow();
    if (!l) return quota_verdict::unavailable;
    PGconn* c = l.get();
    if (!command(c, "BEGIN")) return quota_verdict::unavailable;
    // The user's row, locked until the commit: uses of two instances at once
    // are counted one after the other.
    params key;
    key.bind(user_id).bind_text(kind);
    bool ok = pg::run(c,
                      "INSERT INTO quotas(user_id, kind, next_ms, day, used_today) VALUES($1, $2, 0, -1, 0) "
                      "ON CONFLICT(user_id, kind) DO NOTHING",
                      key)
                  .ok();
    result r =
        ok ? pg::run(c, "SELECT next_ms, day, used_today FROM quotas WHERE user_id = $1 AND kind = $2 FOR UPDATE", key)
           : result();
    quota_decision d{quota_verdict::unavailable, {}};
    if (ok && r.ok() && r.rows() == 1) {
        d = decide_quota({r.i64(0, 0), r.i64(0, 1), r.i64(0, 2)}, now_ms, rule);
        params u;
        u.bind(d.after.next_ms).bind(d.after.day).bind(d.after.used_today).bind(user_id).bind_text(kind);
        if (d.verdict == quota_verdict::granted &&
            !pg::run(c, "UPDATE quotas SET next_ms = $1, day = $2, used_today = $3 WHERE user_id = $4 AND kind = $5", u)
                 .ok())
            d.verdict = quota_verdict::unavailable;
    }
    // A use that could not be counted is not granted: the quota must hold.
    if (d.verdict != quota_verdict::granted || !command(c, "COMMIT")) {
        command(c, "ROLLBACK");
        return d.verdict == quota_verdict::granted ? quota_verdict::unavailable : d.verdict;
    }
    return d.verdict;
}

bool pg_store::import_catalogue(const catalogue& c, std::string& error) {
    if (!validate_catalogue(c, error)) return false;
    lease l = borrow();
    if (!l) {
        error = "no connection to the database";
        return false;
    }
    PGconn* conn = l.get();
    result last;
    auto step = [&](const char* sql, params& p) {
        last = pg::run(conn, sql, p);
        return last.ok();
    };
    if (!command(conn, "BEGIN")) {
        error = PQerrorMessage(conn);
        return false;
    }
    params none;
    bool ok = step("DELETE FROM lesson_files", none) && step("DELETE FROM entries", none) &&
              step("DELETE FROM subcategories", none) && step("DELETE FROM categories", none) &&
              step("DELETE FROM ads", none);
    params folder;
    folder.bind(c.movie_folder);
    ok = ok && step(
                   "INSERT INTO settings(key, value) VALUES('movie_folder', $1) "
                   "ON CONFLICT(key) DO UPDATE SET value = excluded.value",
                   folder);
    std::int64_t cpos = 0;
    for (const auto& cat : c.categories) {
        if (!ok) break;
        params pc;
        pc.bind(++cpos).bind(cat.title);
        ok = step("INSERT INTO categories(pos, title) VALUES($1, $2) RETURNING id", pc);
        const std::int64_t cat_id = ok ? last.i64(0, 0) : 0;
        std::int64_t spos = 0;
        for (const auto& sub : cat.subcategories) {
            if (!ok) break;
            params ps;
            ps.bind(cat_id).bind(++spos).bind(sub.title);
            ok = step("INSERT INTO subcategories(category_id, pos, title) VALUES($1, $2, $3) RETURNING id", ps);
            const std::int64_t sub_id = ok ? last.i64(0, 0) : 0;
            std::int64_t epos = 0;
            for (const auto& e : sub.entries) {
                if (!ok) break;
                params pe;
                pe.bind(sub_id).bind(++epos).bind(e.title).bind(e.dir).bind(e.type).bind(e.file_name);
                ok = step(
                    "INSERT INTO entries(subcategory_id, pos, title, dir, type, file_name) "
                    "VALUES($1, $2, $3, $4, $5, $6) RETURNING id",
                    pe);
                const std::int64_t entry_id = ok ? last.i64(0, 0) : 0;
                std::int64_t fpos = 0;
                for (const auto& f : e.files) {
                    if (!ok) break;
                    params pf;
                    pf.bind(entry_id).bind(++fpos).bind(f.name).bind(f.delay_time);
                    ok = step("INSERT INTO lesson_files(entry_id, pos, name, delay_time) VALUES($1, $2, $3, $4)", pf);
                }
            }
        }
    }
    std::int64_t apos = 0;
    for (const auto& a : c.ads) {
        if (!ok) break;
        params pa;
        pa.bind(++apos).bind(a.text).bind(a.url);
        ok = step("INSERT INTO ads(pos, text, url) VALUES($1, $2, $3)", pa);
    }
    if (ok) {
        last = pg::run_script(conn, "COMMIT");
        ok = last.ok();
    }
    if (!ok) {
        error = last.message();
        command(conn, "ROLLBACK");
    }
    return ok;
}

catalogue pg_store::load_catalogue() {
    return reading([&](PGconn* c) {
        catalogue out;
        if (!command(c, begin_snapshot)) return out;
        // Four readings of whole tables, put together here: one round trip
        // per table rather than one per category and sub-category.
        result f = pg::run(c, "SELECT value FROM settings WHERE key = 'movie_folder'");
        result cats = pg::run(c, "SELECT id, title FROM categories ORDER BY pos");
        result subs = pg::run(c, "SELECT id, category_id, title FROM subcategories ORDER BY category_id, pos");
        result entries = pg::run(c,
                                 "SELECT subcategory_id, title, dir, type, file_name FROM entries "
                                 "ORDER BY subcategory_id, pos");
        result ads = pg::run(c, "SELECT text, url FROM ads ORDER BY pos");
        command(c, "COMMIT");
        if (f.rows() == 1) out.movie_folder = f.str(0, 0);
        std::map<std::int64_t, std::vector<catalogue_entry>> entries_of;
        for (int i = 0; i < entries.rows(); ++i)
            entries_of[entries.i64(i, 0)].push_back(
                {entries.str(i, 1), entries.str(i, 2), entries.str(i, 3), entries.str(i, 4), {}});
        std::map<std::int64_t, std::vector<subcategory>> subs_of;
        for (int i = 0; i < subs.rows(); ++i)
            subs_of[subs.i64(i, 1)].push_back({subs.str(i, 2), std::move(entries_of[subs.i64(i, 0)])});
        for (int i = 0; i < cats.rows(); ++i)
            out.categories.push_back({cats.str(i, 1), std::move(subs_of[cats.i64(i, 0)])});
        for (int i = 0; i < ads.rows(); ++i) out.ads.push_back({ads.str(i, 0), ads.str(i, 1)});
        return out;
    });
}

namespace {

// The movies of the first lesson entry with dir, as the catalogue orders it.
bool lesson_files_on(PGconn* c, const std::string& dir, std::vector<lesson_file>& out) {
    out.clear();
    params p;
    p.bind(dir);
    result r = pg::run(c,
                       "SELECT f.name, f.delay_time FROM lesson_files f WHERE f.entry_id = ("
                       "SELECT e.id FROM entries e JOIN subcategories s ON s.id = e.subcategory_id "
                       "JOIN categories c ON c.id = s.category_id "
                       "WHERE e.dir = $1 AND e.type = 'lesson'::BYTEA ORDER BY c.pos, s.pos, e.pos LIMIT 1) "
                       "ORDER BY f.pos",
                       p);
    if (!r.ok()) return false;
    for (int i = 0; i < r.rows(); ++i) out.push_back({r.str(i, 0), r.str(i, 1)});
    if (!out.empty()) return true;
    // No movies: a lesson without any, or no such lesson at all.
    result e = pg::run(c, "SELECT 1 FROM entries WHERE dir = $1 AND type = 'lesson'::BYTEA LIMIT 1", p);
    return e.ok() && e.rows() == 1;
}

}  // namespace

std::optional<lesson_listing> pg_store::read_lesson(const std::string& dir) {
    return reading([&](PGconn* c) -> std::optional<lesson_listing> {
        if (!command(c, begin_snapshot)) return std::nullopt;
        result f = pg::run(c, "SELECT value FROM settings WHERE key = 'movie_folder'");
        std::vector<lesson_file> files;
        const bool found = f.ok() && lesson_files_on(c, dir, files);
        command(c, "COMMIT");
        if (!found) return std::nullopt;
        return lesson_listing{f.rows() == 1 ? f.str(0, 0) : std::string(), std::move(files)};
    });
}

bool pg_store::lesson_files(const std::string& dir, std::vector<lesson_file>& out) {
    return reading([&](PGconn* c) {
        if (!command(c, begin_snapshot)) return false;
        const bool found = lesson_files_on(c, dir, out);
        command(c, "COMMIT");
        return found;
    });
}

}  // namespace mirvo::server
