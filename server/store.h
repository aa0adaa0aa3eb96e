// The service's database: users, messages, suggestions, program starts, the
// catalogue, and what the service must remember across restarts (and share
// between instances): where users logged in, how much they stored, who is
// online. Either one SQLite file (the embedded default) or a PostgreSQL
// database that several instances share. All text is stored as GBK bytes.
#pragma once

#include "server/catalogue.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirvo::server {

struct user_record {
    std::int64_t id = 0;
    std::string name;
    std::string password_hash;
    std::int64_t last_seen = 0;  // Unix seconds; 0 after a logout
};

struct message_record {
    std::int64_t id = 0;
    std::string body;
    std::int64_t created = 0;
    bool read = false;
};

struct suggestion_record {
    std::int64_t id = 0;
    std::string user;
    int type = 0;
    std::string content;
    std::int64_t created = 0;
};

// How often a user may have the service store one kind of row.
struct quota_rule {
    int per_minute = 10;
    int per_day = 100;
};
// unavailable: the store could not count the use (nothing granted).
enum class quota_verdict { granted, too_fast, daily_cap, unavailable };

// What a store keeps of one user's uses of one kind.
struct quota_state {
    std::int64_t next_ms = 0;  // when the next use is due at the rule's pace
    std::int64_t day = -1;     // the UTC day used_today counts
    std::int64_t used_today = 0;
};
// Whether a use at now_ms is granted, and the state after it (when it is).
// The rate is a cell rate: each use moves next_ms on by one interval, and a
// use is granted while next_ms lies less than a minute ahead, less one use.
struct quota_decision {
    quota_verdict verdict;
    quota_state after;
};
quota_decision decide_quota(const quota_state& before, std::int64_t now_ms, const quota_rule& rule);

struct lesson_listing {
    std::string movie_folder;
    std::vector<lesson_file> files;
};

// Where the service keeps what it knows. Every action's reads and writes go
// through this interface; a write is acknowledged only once it is committed.
// Thread-safe: the service calls it from all its threads.
class store {
public:
    // Opens the store that where names: a postgresql:// (or postgres://)
    // URI, or else the path of an SQLite file. An SQLite file is created and
    // brought up to date as it is opened (one process owns it); a PostgreSQL
    // database must have been prepared with migrate, since several instances
    // open it at once. busy_ms is how long a statement waits for another
    // connection's lock. nullptr with a message on failure.
    static std::unique_ptr<store> open(const std::string& where, std::string& error, int busy_ms = 5000);
    // Creates the schema of the store that where names, or brings it up to
    // date; says what it did through report. False with a message on failure.
    static bool migrate(const std::string& where, std::ostream& report, std::string& error);
    // Copies an SQLite database into an empty PostgreSQL one, every row with
    // its id, in one transaction that commits only when each table holds as
    // many rows as the source's; says how many through report.
    static bool copy(const std::string& sqlite_path, const std::string& postgresql_uri, std::ostream& report,
                     std::string& error);

    virtual ~store() = default;
    store() = default;
    store(const store&) = delete;
    store& operator=(const store&) = delete;

    // False while the store cannot be reached (a database server that is
    // down or refuses connections): an empty reading then means nothing, and
    // must not be answered as "no such user" or "no catalogue".
    virtual bool available() = 0;

    // Users. password_hash is the stored form (see password.h).
    virtual bool add_user(const std::string& name, const std::string& password_hash, std::string& error) = 0;
    virtual bool set_password_hash(const std::string& name, const std::string& password_hash) = 0;
    virtual std::optional<user_record> find_user(const std::string& name) = 0;
    virtual std::vector<user_record> users() = 0;

    // Presence: a user counts as online while last_seen lies within window
    // seconds of now.
    virtual void touch(std::int64_t user_id, std::int64_t now) = 0;
    virtual void mark_offline(std::int64_t user_id) = 0;
    virtual int online_count(std::int64_t now, std::int64_t window) = 0;
    virtual std::vector<user_record> online_users(std::int64_t now, std::int64_t window) = 0;

    // Messages.
    virtual bool post_message(const std::string& user, const std::string& body, std::int64_t now) = 0;
    virtual int unread_count(std::int64_t user_id) = 0;
    // All messages of a user, newest first, each with its read mark as it was.
    // With mark_read, the messages returned (and only those) are marked read
    // in the same transaction; when no transaction can be had they are
    // returned unmarked, to be marked on a later reading.
    virtual std::vector<message_record> read_messages(std::int64_t user_id, bool mark_read = true) = 0;

    // Suggestions and program starts.
    virtual bool save_suggestion(std::int64_t user_id, int type, const std::string& content, std::int64_t now) = 0;
    virtual std::vector<suggestion_record> suggestions() = 0;
    virtual bool record_game_start(std::int64_t user_id, const std::string& file_name, std::int64_t now) = 0;
    virtual int game_start_count() = 0;

    // Good logins: the addresses a user logged in from (the latest few), kept
    // across restarts, so that such a user is never slowed down for what
    // others try with their name.
    virtual void record_good_login(std::int64_t user_id, const std::string& address, std::int64_t now) = 0;
    virtual bool is_good_login(std::int64_t user_id, const std::string& address) = 0;

    // Counts one more row of kind ("suggestion", "program_start") for the
    // user at now_ms (Unix milliseconds) when the rule allows it, in one
    // transaction; counts nothing otherwise. The day is the UTC day.
    virtual quota_verdict spend_quota(std::int64_t user_id, const std::string& kind, std::int64_t now_ms,
                                      const quota_rule& rule) = 0;

    // Catalogue: replaced as a whole, in one transaction.
    virtual bool import_catalogue(const catalogue& c, std::string& error) = 0;
    // Read in one transaction, so that an import running at the same time is
    // seen whole or not at all.
    virtual catalogue load_catalogue() = 0;
    // The movies of the first lesson entry with this folder; false when no
    // lesson has it.
    virtual bool lesson_files(const std::string& dir, std::vector<lesson_file>& out) = 0;
    // The movie folder with the movies of the first lesson entry with this
    // folder, read in one transaction; nullopt when no lesson has it.
    virtual std::optional<lesson_listing> read_lesson(const std::string& dir) = 0;
};

// True when where names a PostgreSQL database rather than an SQLite file.
bool is_postgresql_uri(std::string_view where);
// where as it may be shown or logged: a password in a URI as "***".
std::string store_name(std::string_view where);

// Addresses kept per user in good_logins, the most recent ones.
constexpr int good_logins_per_user = 50;

// The schema version this program works with; migrate brings a store to it.
constexpr int schema_version = 1;

}  // namespace mirvo::server
