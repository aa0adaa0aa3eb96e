// libpq in the few shapes the PostgreSQL store needs: connections with the
// service's settings, statements with binary parameters and results, and
// the schema's migrations.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace mirvo::server::pg {

// Positional parameters, all sent in binary: integers as int8, texts as
// bytea (GBK bytes, compared byte for byte) or as text (plain ASCII).
class params {
public:
    params& bind(std::int64_t v);
    params& bind(const std::string& v);  // bytea
    params& bind_text(const std::string& v);

    int count() const { return static_cast<int>(values_.size()); }
    const Oid* types() const { return types_.data(); }
    const int* lengths() const { return lengths_.data(); }
    const int* formats() const { return formats_.data(); }
    // Valid until the next bind.
    const char* const* values();

private:
    std::vector<std::string> values_;
    std::vector<Oid> types_;
    std::vector<int> lengths_, formats_;
    std::vector<const char*> pointers_;
};

// A statement's outcome, rows in binary.
class result {
public:
    explicit result(PGresult* r = nullptr) : r_(r) {}
    ~result() { PQclear(r_); }
    result(result&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
    result& operator=(result&& o) noexcept;
    result(const result&) = delete;
    result& operator=(const result&) = delete;

    bool ok() const;
    int rows() const { return r_ ? PQntuples(r_) : 0; }
    // Integers of any width; 0 for NULL.
    std::int64_t i64(int row, int col) const;
    std::string str(int row, int col) const;
    // Rows a command changed.
    long affected() const;
    // The SQLSTATE of a failure ("23505": a unique key taken), empty when none.
    std::string state() const;
    std::string message() const;

private:
    PGresult* r_;
};

// Runs one statement with binary results (p may be empty).
result run(PGconn* c, const char* sql, params& p);
result run(PGconn* c, const char* sql);
// Runs a script of several statements (text results, for the schema).
result run_script(PGconn* c, const char* sql);

// Opens a connection, with statements waiting busy_ms at most for a lock and
// the server's notices kept off the service's output. nullptr with a message.
PGconn* connect(const std::string& uri, int busy_ms, std::string& error);

// The migrations, in order: each brings the schema from version i to i + 1.
// Run under an advisory lock, in one transaction with the version's record.
bool migrate(PGconn* c, std::ostream& report, std::string& error);
// The schema version the database holds (0: none yet); -1 when it cannot be read.
int version(PGconn* c, std::string& error);

// The tables, parents before children, with their columns as a copy moves
// them: integers, GBK bytes, or plain text.
enum class column_kind { integer, bytes, text };
struct column {
    const char* name;
    column_kind kind;
};
struct table_columns {
    const char* table;
    std::vector<column> columns;
    bool serial_id;  // its id comes from a sequence that must go on after the copied ids
};
const std::vector<table_columns>& tables();

}  // namespace mirvo::server::pg
