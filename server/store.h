// The service's database: users, messages, suggestions, program starts, the
// catalogue, and what the service must remember across restarts (and share
// between instances): where users logged in, how much they stored. One
// SQLite file (WAL, so the admin command line can work on it while the
// service runs). All text is stored as GBK bytes (BLOBs).
#pragma once

#include "server/catalogue.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

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
enum class quota_verdict { granted, too_fast, daily_cap };

struct lesson_listing {
    std::string movie_folder;
    std::vector<lesson_file> files;
};

class store {
public:
    // Opens (and creates) the database. nullptr with a message on failure.
    // busy_ms is how long a statement waits for another connection's lock.
    static std::unique_ptr<store> open(const std::string& path, std::string& error, int busy_ms = 5000);
    ~store();
    store(const store&) = delete;
    store& operator=(const store&) = delete;

    // Users. password_hash is the stored form (see password.h).
    bool add_user(const std::string& name, const std::string& password_hash, std::string& error);
    bool set_password_hash(const std::string& name, const std::string& password_hash);
    std::optional<user_record> find_user(const std::string& name);
    std::vector<user_record> users();

    // Presence: a user counts as online while last_seen lies within window
    // seconds of now.
    void touch(std::int64_t user_id, std::int64_t now);
    void mark_offline(std::int64_t user_id);
    int online_count(std::int64_t now, std::int64_t window);
    std::vector<user_record> online_users(std::int64_t now, std::int64_t window);

    // Messages.
    bool post_message(const std::string& user, const std::string& body, std::int64_t now);
    int unread_count(std::int64_t user_id);
    // All messages of a user, newest first, each with its read mark as it was.
    // With mark_read, the messages returned (and only those) are marked read
    // in the same transaction; when no transaction can be had they are
    // returned unmarked, to be marked on a later reading.
    std::vector<message_record> read_messages(std::int64_t user_id, bool mark_read = true);

    // Suggestions and program starts.
    bool save_suggestion(std::int64_t user_id, int type, const std::string& content, std::int64_t now);
    std::vector<suggestion_record> suggestions();
    bool record_game_start(std::int64_t user_id, const std::string& file_name, std::int64_t now);
    int game_start_count();

    // Good logins: the addresses a user logged in from (the latest few), kept
    // across restarts, so that such a user is never slowed down for what
    // others try with their name.
    void record_good_login(std::int64_t user_id, const std::string& address, std::int64_t now);
    bool is_good_login(std::int64_t user_id, const std::string& address);

    // Counts one more row of kind ("suggestion", "program_start") for the
    // user at now_ms (Unix milliseconds) when the rule allows it, in one
    // transaction; counts nothing otherwise. The day is the UTC day.
    quota_verdict spend_quota(std::int64_t user_id, const std::string& kind, std::int64_t now_ms,
                              const quota_rule& rule);

    // Catalogue: replaced as a whole, in one transaction.
    bool import_catalogue(const catalogue& c, std::string& error);
    catalogue load_catalogue();
    // The movies of the first lesson entry with this folder; false when no
    // lesson has it.
    bool lesson_files(const std::string& dir, std::vector<lesson_file>& out);
    // The movie folder with the movies of the first lesson entry with this
    // folder, read in one transaction so that an import running at the same
    // time is seen whole or not at all; nullopt when no lesson has it.
    std::optional<lesson_listing> read_lesson(const std::string& dir);

private:
    explicit store(sqlite3* db) : db_(db) {}
    bool exec(const char* sql);
    bool lesson_files_locked(const std::string& dir, std::vector<lesson_file>& out);

    sqlite3* db_;
    std::mutex mutex_;  // one connection, used by one thread at a time
};

}  // namespace mirvo::server
