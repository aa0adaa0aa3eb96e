// The store in one SQLite file: the embedded default, for one box. WAL, so
// the admin command line can work on the file while the service runs; one
// connection, used by one thread at a time.
#pragma once

#include "server/store.h"

#include <mutex>

struct sqlite3;

namespace mirvo::server {

class sqlite_store final : public store {
public:
    // Opens (and creates, or brings up to date) the file at path.
    static std::unique_ptr<sqlite_store> open(const std::string& path, std::string& error, int busy_ms = 5000);
    ~sqlite_store() override;

    bool available() override { return true; }
    bool add_user(const std::string& name, const std::string& password_hash, std::string& error) override;
    bool set_password_hash(const std::string& name, const std::string& password_hash) override;
    std::optional<user_record> find_user(const std::string& name) override;
    std::vector<user_record> users() override;
    void touch(std::int64_t user_id, std::int64_t now) override;
    void mark_offline(std::int64_t user_id) override;
    int online_count(std::int64_t now, std::int64_t window) override;
    std::vector<user_record> online_users(std::int64_t now, std::int64_t window) override;
    bool post_message(const std::string& user, const std::string& body, std::int64_t now) override;
    int unread_count(std::int64_t user_id) override;
    std::vector<message_record> read_messages(std::int64_t user_id, bool mark_read = true) override;
    bool save_suggestion(std::int64_t user_id, int type, const std::string& content, std::int64_t now) override;
    std::vector<suggestion_record> suggestions() override;
    bool record_game_start(std::int64_t user_id, const std::string& file_name, std::int64_t now) override;
    int game_start_count() override;
    void record_good_login(std::int64_t user_id, const std::string& address, std::int64_t now) override;
    bool is_good_login(std::int64_t user_id, const std::string& address) override;
    quota_verdict spend_quota(std::int64_t user_id, const std::string& kind, std::int64_t now_ms,
                              const quota_rule& rule) override;
    bool import_catalogue(const catalogue& c, std::string& error) override;
    catalogue load_catalogue() override;
    bool lesson_files(const std::string& dir, std::vector<lesson_file>& out) override;
    std::optional<lesson_listing> read_lesson(const std::string& dir) override;

    // The schema version the file holds.
    int version();

private:
    explicit sqlite_store(sqlite3* db) : db_(db) {}
    bool exec(const char* sql);
    bool lesson_files_locked(const std::string& dir, std::vector<lesson_file>& out);

    sqlite3* db_;
    std::mutex mutex_;
};

}  // namespace mirvo::server
