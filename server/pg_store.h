// The store in a PostgreSQL database that several instances of the service
// share. Each instance keeps a few connections and lends one to a request
// for the time of its statement or transaction.
#pragma once

#include "server/store.h"

#include <condition_variable>
#include <mutex>

typedef struct pg_conn PGconn;

namespace mirvo::server {

class pg_store final : public store {
public:
    // Connects to the database at uri, whose schema migrate must have
    // brought to this program's version. connections: how many statements
    // may run at once.
    static std::unique_ptr<pg_store> open(const std::string& uri, std::string& error, int busy_ms = 5000,
                                          int connections = 8);
    ~pg_store() override;

    bool available() override;
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

    // A connection lent for one statement or transaction, given back (or,
    // broken, closed) when it goes.
    class lease {
    public:
        lease(pg_store& s, PGconn* c) : store_(s), conn_(c) {}
        ~lease();
        lease(const lease&) = delete;
        lease& operator=(const lease&) = delete;
        PGconn* get() const { return conn_; }
        explicit operator bool() const { return conn_ != nullptr; }
        // The connection broke during its use.
        bool broken() const;

    private:
        pg_store& store_;
        PGconn* conn_;
    };
    lease borrow();

private:
    pg_store(std::string uri, int busy_ms, int connections)
        : uri_(std::move(uri)), busy_ms_(busy_ms), max_connections_(connections) {}
    void give_back(PGconn* c);
    // Runs read on a connection, once more on a fresh one when the first
    // broke (the server restarted since it was opened): a reading changes
    // nothing, so trying again is safe. Writes are never tried twice.
    template <class F>
    auto reading(F read) -> decltype(read(std::declval<PGconn*>()));

    std::string uri_;
    int busy_ms_;
    int max_connections_;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<PGconn*> idle_;
    int open_ = 0;
};

}  // namespace mirvo::server
