// Where a test keeps the service's store. One fixture, two backends: a test
// program run with MIRVO_TEST_STORE=postgresql gets a fresh database in a
// PostgreSQL server it starts once (scripts/test-postgres.sh) and stops at
// its end; otherwise an SQLite file.
#pragma once

#include <memory>
#include <string>

namespace mirvo::testing {

// True when this test program runs against PostgreSQL.
bool on_postgresql();

// A store nobody used yet, its schema in place (unless not migrated): a file
// named label under folder, or a database of its own (a postgresql:// URI).
// Empty, with a message on standard error, when none could be had.
std::string fresh_store(const std::string& folder, const std::string& label, bool migrated = true);

// A database of its own in this program's PostgreSQL server (started on
// first need), whatever store the tests use otherwise; schema in place
// unless not migrated. Empty, with a message on standard error, when none
// could be had.
std::string fresh_postgresql_database(const std::string& label, bool migrated = true);

// Another connection that holds the store's write lock while it lives, as an
// admin command in the middle of a long change would.
class held_write_lock {
public:
    explicit held_write_lock(const std::string& where);
    ~held_write_lock();
    held_write_lock(const held_write_lock&) = delete;
    held_write_lock& operator=(const held_write_lock&) = delete;
    bool held() const { return held_; }

private:
    struct connection;
    std::unique_ptr<connection> c_;
    bool held_ = false;
};

// Every insert into table fails while this lives, as it would on a full
// disk: a trigger of the store's own, put in by another connection.
class refused_inserts {
public:
    refused_inserts(const std::string& where, const std::string& table);
    ~refused_inserts();
    refused_inserts(const refused_inserts&) = delete;
    refused_inserts& operator=(const refused_inserts&) = delete;
    bool in_place() const { return in_place_; }

private:
    std::string where_, table_;
    bool in_place_ = false;
};

}  // namespace mirvo::testing
