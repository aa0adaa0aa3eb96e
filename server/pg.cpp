#include "server/pg.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <ostream>

namespace mirvo::server::pg {

namespace {

constexpr Oid int8_oid = 20;
constexpr Oid bytea_oid = 17;
constexpr Oid text_oid = 25;
// Taken by migrate for its transaction, so that instances started at once
// do not change the schema side by side.
constexpr std::int64_t migrate_lock = 0x6d6972766f;  // "mirvo"

// Version 1: the tables the SQLite file has, with GBK texts as bytea.
const char* const schema_1 = R"sql(
CREATE TABLE users(
  id BIGSERIAL PRIMARY KEY,
  name BYTEA NOT NULL UNIQUE,
  password_hash TEXT NOT NULL,
  last_seen BIGINT NOT NULL DEFAULT 0,
  created BIGINT NOT NULL DEFAULT extract(epoch FROM now())::BIGINT);
CREATE TABLE messages(
  id BIGSERIAL PRIMARY KEY,
  user_id BIGINT NOT NULL REFERENCES users(id),
  body BYTEA NOT NULL,
  created BIGINT NOT NULL,
  read BIGINT NOT NULL DEFAULT 0);
CREATE INDEX messages_unread ON messages(user_id, read);
CREATE TABLE suggestions(
  id BIGSERIAL PRIMARY KEY,
  user_id BIGINT NOT NULL REFERENCES users(id),
  type BIGINT NOT NULL,
  content BYTEA NOT NULL,
  created BIGINT NOT NULL);
CREATE TABLE game_starts(
  id BIGSERIAL PRIMARY KEY,
  user_id BIGINT NOT NULL REFERENCES users(id),
  file_name BYTEA NOT NULL,
  created BIGINT NOT NULL);
CREATE TABLE settings(key TEXT PRIMARY KEY, value BYTEA NOT NULL);
CREATE TABLE categories(id BIGSERIAL PRIMARY KEY, pos BIGINT NOT NULL, title BYTEA NOT NULL);
CREATE TABLE subcategories(
  id BIGSERIAL PRIMARY KEY, category_id BIGINT NOT NULL REFERENCES categories(id),
  pos BIGINT NOT NULL, title BYTEA NOT NULL);
CREATE TABLE entries(
  id BIGSERIAL PRIMARY KEY, subcategory_id BIGINT NOT NULL REFERENCES subcategories(id),
  pos BIGINT NOT NULL, title BYTEA NOT NULL, dir BYTEA NOT NULL, type BYTEA NOT NULL,
  file_name BYTEA NOT NULL);
CREATE INDEX entries_dir ON entries(dir);
CREATE TABLE lesson_files(
  id BIGSERIAL PRIMARY KEY, entry_id BIGINT NOT NULL REFERENCES entries(id),
  pos BIGINT NOT NULL, name BYTEA NOT NULL, delay_time BYTEA NOT NULL);
CREATE TABLE ads(id BIGSERIAL PRIMARY KEY, pos BIGINT NOT NULL, text BYTEA NOT NULL, url BYTEA NOT NULL);
CREATE TABLE good_logins(
  user_id BIGINT NOT NULL REFERENCES users(id),
  address TEXT NOT NULL,
  last_login BIGINT NOT NULL,
  PRIMARY KEY(user_id, address));
CREATE TABLE quotas(
  user_id BIGINT NOT NULL REFERENCES users(id),
  kind TEXT NOT NULL,
  next_ms BIGINT NOT NULL,
  day BIGINT NOT NULL,
  used_today BIGINT NOT NULL,
  PRIMARY KEY(user_id, kind));
)sql";

const char* const migrations[] = {schema_1};

void no_notices(void*, const char*) {}

std::string int8_text(std::int64_t v) {
    const auto u = static_cast<std::uint64_t>(v);
    const std::uint32_t hi = htonl(static_cast<std::uint32_t>(u >> 32)), lo = htonl(static_cast<std::uint32_t>(u));
    std::string out(8, '\0');
    std::memcpy(out.data(), &hi, 4);
    std::memcpy(out.data() + 4, &lo, 4);
    return out;
}

}  // namespace

params& params::bind(std::int64_t v) {
    values_.push_back(int8_text(v));
    types_.push_back(int8_oid);
    return *this;
}

params& params::bind(const std::string& v) {
    values_.push_back(v);
    types_.push_back(bytea_oid);
    return *this;
}

params& params::bind_text(const std::string& v) {
    values_.push_back(v);
    types_.push_back(text_oid);
    return *this;
}

const char* const* params::values() {
    pointers_.clear();
    lengths_.clear();
    formats_.clear();
    for (const std::string& v : values_) {
        pointers_.push_back(v.data());
        lengths_.push_back(static_cast<int>(v.size()));
        formats_.push_back(1);
    }
    return pointers_.data();
}

result& result::operator=(result&& o) noexcept {
    if (this != &o) {
        PQclear(r_);
        r_ = o.r_;
        o.r_ = nullptr;
    }
    return *this;
}

bool result::ok() const {
    if (!r_) return false;
    const ExecStatusType s = PQresultStatus(r_);
    return s == PGRES_TUPLES_OK || s == PGRES_COMMAND_OK;
}

std::int64_t result::i64(int row, int col) const {
    if (!r_ || PQgetisnull(r_, row, col)) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(PQgetvalue(r_, row, col));
    const int n = PQgetlength(r_, row, col);
    if (n != 2 && n != 4 && n != 8) return 0;
    std::uint64_t u = 0;
    for (int i = 0; i < n; ++i) u = (u << 8) | p[i];
    // Sign-extend the narrower widths.
    if (n < 8 && (p[0] & 0x80)) u |= ~std::uint64_t(0) << (8 * n);
    return static_cast<std::int64_t>(u);
}

std::string result::str(int row, int col) const {
    if (!r_ || PQgetisnull(r_, row, col)) return {};
    return std::string(PQgetvalue(r_, row, col), static_cast<std::size_t>(PQgetlength(r_, row, col)));
}

long result::affected() const {
    const char* n = r_ ? PQcmdTuples(r_) : nullptr;
    return n && *n ? std::strtol(n, nullptr, 10) : 0;
}

std::string result::state() const {
    const char* s = r_ ? PQresultErrorField(r_, PG_DIAG_SQLSTATE) : nullptr;
    return s ? s : "";
}

std::string result::message() const {
    std::string m = r_ ? PQresultErrorMessage(r_) : "no connection";
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    return m;
}

result run(PGconn* c, const char* sql, params& p) {
    const char* const* values = p.values();
    return result(PQexecParams(c, sql, p.count(), p.types(), values, p.lengths(), p.formats(), 1));
}

result run(PGconn* c, const char* sql) {
    return result(PQexecParams(c, sql, 0, nullptr, nullptr, nullptr, nullptr, 1));
}

result run_script(PGconn* c, const char* sql) { return result(PQexec(c, sql)); }

PGconn* connect(const std::string& uri, int busy_ms, std::string& error) {
    // libpq waits without end by default: for a database host that stopped
    // answering, every thread of the service would wait with it. These come
    // before the URI, which may set its own.
    const std::string connect_seconds = std::to_string(std::max(2, busy_ms / 1000));
    const char* const keys[] = {"connect_timeout",  "keepalives",       "keepalives_idle", "keepalives_interval",
                                "keepalives_count", "tcp_user_timeout", "dbname",          nullptr};
    const char* const values[] = {connect_seconds.c_str(), "1", "10", "5", "3", "15000", uri.c_str(), nullptr};
    PGconn* c = PQconnectdbParams(keys, values, 1);
    if (!c || PQstatus(c) != CONNECTION_OK) {
        error = c ? PQerrorMessage(c) : "out of memory";
        while (!error.empty() && error.back() == '\n') error.pop_back();
        PQfinish(c);
        return nullptr;
    }
    PQsetNoticeProcessor(c, no_notices, nullptr);
    const std::string settings =
        "SET lock_timeout = " + std::to_string(busy_ms) + "; SET client_encoding = 'UTF8'; SET TIME ZONE 'UTC'";
    result r = run_script(c, settings.c_str());
    if (!r.ok()) {
        error = r.message();
        PQfinish(c);
        return nullptr;
    }
    return c;
}

int version(PGconn* c, std::string& error) {
    result exists = run(c, "SELECT to_regclass('schema_version') IS NOT NULL");
    if (!exists.ok() || exists.rows() != 1) {
        error = exists.message();
        return -1;
    }
    if (exists.str(0, 0) != std::string(1, '\1')) return 0;
    result r = run(c, "SELECT COALESCE(MAX(version), 0) FROM schema_version");
    if (!r.ok() || r.rows() != 1) {
        error = r.message();
        return -1;
    }
    return static_cast<int>(r.i64(0, 0));
}

bool migrate(PGconn* c, std::ostream& report, std::string& error) {
    const int latest = static_cast<int>(std::size(migrations));
    auto fail = [&](const result& r) {
        error = r.message();
        run_script(c, "ROLLBACK");
        return false;
    };
    if (result r = run_script(c, "BEGIN"); !r.ok()) return fail(r);
    params lock;
    lock.bind(migrate_lock);
    if (result r = run(c, "SELECT pg_advisory_xact_lock($1)", lock); !r.ok()) return fail(r);
    if (result r = run_script(c, "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)"); !r.ok())
        return fail(r);
    const int found = version(c, error);
    if (found < 0) {
        run_script(c, "ROLLBACK");
        return false;
    }
    if (found > latest) {
        run_script(c, "ROLLBACK");
        error = "the database has schema version " + std::to_string(found) + ", newer than this program's " +
                std::to_string(latest);
        return false;
    }
    for (int v = found; v < latest; ++v) {
        if (result r = run_script(c, migrations[v]); !r.ok()) return fail(r);
        report << "schema version " << v + 1 << " applied\n";
    }
    params now;
    now.bind(static_cast<std::int64_t>(latest));
    if (result r = run_script(c, "DELETE FROM schema_version"); !r.ok()) return fail(r);
    if (result r = run(c, "INSERT INTO schema_version(version) VALUES($1::BIGINT)", now); !r.ok()) return fail(r);
    if (result r = run_script(c, "COMMIT"); !r.ok()) return fail(r);
    if (found == latest) report << "schema version " << latest << ": up to date\n";
    return true;
}

const std::vector<table_columns>& tables() {
    using k = column_kind;
    static const std::vector<table_columns> all = {
        {"users",
         {{"id", k::integer},
          {"name", k::bytes},
          {"password_hash", k::text},
          {"last_seen", k::integer},
          {"created", k::integer}},
         true},
        {"messages",
         {{"id", k::integer},
          {"user_id", k::integer},
          {"body", k::bytes},
          {"created", k::integer},
          {"read", k::integer}},
         true},
        {"suggestions",
         {{"id", k::integer},
          {"user_id", k::integer},
          {"type", k::integer},
          {"content", k::bytes},
          {"created", k::integer}},
         true},
        {"game_starts",
         {{"id", k::integer}, {"user_id", k::integer}, {"file_name", k::bytes}, {"created", k::integer}},
         true},
        {"settings", {{"key", k::text}, {"value", k::bytes}}, false},
        {"categories", {{"id", k::integer}, {"pos", k::integer}, {"title", k::bytes}}, true},
        {"subcategories",
         {{"id", k::integer}, {"category_id", k::integer}, {"pos", k::integer}, {"title", k::bytes}},
         true},
        {"entries",
         {{"id", k::integer},
          {"subcategory_id", k::integer},
          {"pos", k::integer},
          {"title", k::bytes},
          {"dir", k::bytes},
          {"type", k::bytes},
          {"file_name", k::bytes}},
         true},
        {"lesson_files",
         {{"id", k::integer},
          {"entry_id", k::integer},
          {"pos", k::integer},
          {"name", k::bytes},
          {"delay_time", k::bytes}},
         true},
        {"ads", {{"id", k::integer}, {"pos", k::integer}, {"text", k::bytes}, {"url", k::bytes}}, true},
        {"good_logins", {{"user_id", k::integer}, {"address", k::text}, {"last_login", k::integer}}, false},
        {"quotas",
         {{"user_id", k::integer},
          {"kind", k::text},
          {"next_ms", k::integer},
          {"day", k::integer},
          {"used_today", k::integer}},
         false},
    };
    return all;
}

}  // namespace mirvo::server::pg
