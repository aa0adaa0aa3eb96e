#include "tests/support/test_store.h"

#include "server/store.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

namespace mirvo::testing {

namespace {

// The server this program uses, started on first need, stopped at exit (or,
// should the program die, by the script's watch on it).
class postgres_server {
public:
    postgres_server() {
        char pattern[] = "/tmp/mirvo-pg-test-XXXXXX";
        if (!::mkdtemp(pattern)) return;
        dir_ = pattern;
        const std::string cmd =
            std::string(MIRVO_TEST_POSTGRES_SCRIPT) + " start '" + dir_ + "/pg' '' " + std::to_string(::getpid());
        FILE* out = ::popen(cmd.c_str(), "r");
        if (!out) return;
        char line[512] = "";
        if (std::fgets(line, sizeof line, out)) uri_ = line;
        ::pclose(out);
        while (!uri_.empty() && (uri_.back() == '\n' || uri_.back() == '\r')) uri_.pop_back();
        if (uri_.rfind("postgresql://", 0) != 0) uri_.clear();
    }
    ~postgres_server() {
        if (dir_.empty()) return;
        const std::string cmd = std::string(MIRVO_TEST_POSTGRES_SCRIPT) + " stop '" + dir_ + "/pg'";
        [[maybe_unused]] int rc = std::system(cmd.c_str());
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // The URI of the database name on this server.
    std::string database(const std::string& name) const {
        const std::size_t slash = uri_.rfind('/');
        return uri_.substr(0, slash + 1) + name;
    }
    const std::string& uri() const { return uri_; }

private:
    std::string dir_, uri_;
};

postgres_server& server() {
    static postgres_server s;
    return s;
}

}  // namespace

bool on_postgresql() {
    const char* v = std::getenv("MIRVO_TEST_STORE");
    return v && std::string(v) == "postgresql";
}

std::string fresh_store(const std::string& folder, const std::string& label, bool migrated) {
    if (!on_postgresql()) return (std::filesystem::path(folder) / (label + ".db")).string();
    return fresh_postgresql_database(label, migrated);
}

std::string fresh_postgresql_database(const std::string& label, bool migrated) {
    static std::atomic<int> made{0};
    const postgres_server& s = server();
    if (s.uri().empty()) {
        std::cerr << "fresh_postgresql_database: PostgreSQL did not start\n";
        return {};
    }
    std::string name = "t" + std::to_string(++made) + "_";
    for (char c : label) name += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
    name = name.substr(0, 60);
    PGconn* c = PQconnectdb(s.uri().c_str());
    PGresult* r = PQexec(c, ("CREATE DATABASE " + name).c_str());
    const bool created = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!created) std::cerr << "fresh_postgresql_database: " << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
    if (!created) return {};
    const std::string uri = s.database(name);
    if (!migrated) return uri;
    std::ostringstream report;
    std::string error;
    if (!mirvo::server::store::migrate(uri, report, error)) {
        std::cerr << "fresh_postgresql_database: " << error << "\n";
        return {};
    }
    return uri;
}

struct held_write_lock::connection {
    sqlite3* sqlite = nullptr;
    PGconn* pg = nullptr;
    ~connection() {
        if (sqlite) sqlite3_exec(sqlite, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(sqlite);
        PQfinish(pg);
    }
};

held_write_lock::held_write_lock(const std::string& where) : c_(std::make_unique<connection>()) {
    if (mirvo::server::is_postgresql_uri(where)) {
        c_->pg = PQconnectdb(where.c_str());
        PGresult* r = PQexec(c_->pg, "BEGIN; LOCK TABLE messages, quotas, suggestions IN EXCLUSIVE MODE");
        held_ = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        return;
    }
    held_ = sqlite3_open(where.c_str(), &c_->sqlite) == SQLITE_OK &&
            sqlite3_exec(c_->sqlite, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
}

held_write_lock::~held_write_lock() = default;

namespace {

bool run_on(const std::string& where, const std::string& sql) {
    if (mirvo::server::is_postgresql_uri(where)) {
        PGconn* c = PQconnectdb(where.c_str());
        PGresult* r = PQexec(c, sql.c_str());
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!ok) std::cerr << "test_store: " << PQerrorMessage(c);
        PQclear(r);
        PQfinish(c);
        return ok;
    }
    sqlite3* db = nullptr;
    char* message = nullptr;
    const bool ok = sqlite3_open(where.c_str(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
    if (!ok) std::cerr << "test_store: " << (message ? message : sqlite3_errmsg(db)) << "\n";
    sqlite3_free(message);
    sqlite3_close(db);
    return ok;
}

}  // namespace

refused_inserts::refused_inserts(const std::string& where, const std::string& table) : where_(where), table_(table) {
    const std::string trigger = "refuse_" + table;
    if (mirvo::server::is_postgresql_uri(where))
        in_place_ = run_on(where, "CREATE FUNCTION " + trigger +
                                      "() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN RAISE EXCEPTION 'refused'; "
                                      "END$$; CREATE TRIGGER " +
                                      trigger + " BEFORE INSERT ON " + table + " FOR EACH ROW EXECUTE FUNCTION " +
                                      trigger + "()");
    else
        in_place_ = run_on(where, "CREATE TRIGGER " + trigger + " BEFORE INSERT ON " + table +
                                      " BEGIN SELECT RAISE(ABORT, 'refused'); END");
}

refused_inserts::~refused_inserts() {
    if (!in_place_) return;
    const std::string trigger = "refuse_" + table_;
    if (mirvo::server::is_postgresql_uri(where_))
        run_on(where_, "DROP TRIGGER " + trigger + " ON " + table_ + "; DROP FUNCTION " + trigger + "()");
    else
        run_on(where_, "DROP TRIGGER " + trigger);
}

}  // namespace mirvo::testing
