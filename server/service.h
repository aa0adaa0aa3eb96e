// What the service answers: the request page with its actions, the messages
// page behind /login.aspx, the test page and the static files of the site
// folder. Independent of the HTTP library so that every reply can be reached
// the same way from the server and from tests.
#pragma once

#include "server/hash_budget.h"
#include "server/login_limit.h"
#include "server/query.h"
#include "server/store.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace mirvo::server {

struct service_options {
    std::string site_folder;              // native path of the site's root
    std::string request_page;             // e.g. "service.aspx"
    std::int64_t online_window = 300;     // seconds a user counts as online after a request
    std::size_t max_target_bytes = 4096;  // longer request targets are refused
    std::size_t max_suggestion_bytes = 2000;
    // Paths under which the whole service is also reachable (a candidate
    // server address may carry a path, e.g. "/xinxi50"), without trailing "/".
    std::vector<std::string> base_paths;
    // Failed password checks: per user and address a refusal (no hashing,
    // answered as a wrong password), per address and per user a slow-down.
    login_limit_options login_limits;
    // Password hashing: how many threads hash and how many checks may wait.
    hash_budget::options hashing;
    // How many suggestions and program starts one user may have stored.
    quota_rule suggestion_quota{10, 100};
    quota_rule program_start_quota{10, 1000};
};

// The path part of a server base URL ("http://host:port/path" -> "/path"),
// empty when it has none.
std::string base_path_of(std::string_view url);

// A file of the site, open for reading, that a reply sends.
struct site_file {
    int fd = -1;
    std::uint64_t size = 0;
    site_file(int f, std::uint64_t s) : fd(f), size(s) {}
    ~site_file();
    site_file(const site_file&) = delete;
    site_file& operator=(const site_file&) = delete;
};

struct reply {
    int status = 200;
    std::string content_type;
    std::string body;  // GBK text
    // Set instead of body for the site's files, which the HTTP layer sends
    // straight from the file (and in part, when a range is asked for).
    std::shared_ptr<site_file> file;
    int retry_after = 0;  // seconds, for a refusal that passes (0: none)
    // The request's log line: left out (a refusal already logged this
    // minute), or with a note of what the service did.
    bool logged = true;
    std::string log_note;
};

// Receives a reply that could not be given at once.
using reply_sink = std::function<void(reply)>;

class service {
public:
    service(store& db, service_options options);

    // Answers one request. method is the HTTP method, target the raw request
    // target (path and query, bytes as they came), peer the address it came
    // from (empty when unknown). The reply is returned, or, when a password
    // has to be hashed first (its turn in the budget may take a while),
    // nullopt is returned and later gets the reply from another thread; later
    // is never called before this returns. Thread-safe.
    std::optional<reply> handle(std::string_view method, std::string_view target, std::string_view peer,
                                reply_sink later);
    // The same, waiting for a reply that comes later.
    reply handle(std::string_view method, std::string_view target, std::string_view peer = {});

    const service_options& options() const { return options_; }

private:
    // What a request does once its password is checked: u is the user when
    // name and password matched.
    using checked = std::function<reply(const std::optional<user_record>& u)>;
    // A password check on its way: the name, the password as the client's
    // code carries it (nullopt: not a password the code could have sent),
    // the peer's address, and whether it may cost a hash (a HEAD request asks
    // what a GET would answer and spends nothing).
    struct login_attempt {
        std::string name;
        std::optional<std::string> canonical;
        std::string address;
        bool may_hash = true;
    };

    // may_change: the request may leave a trace (a HEAD request asks what a
    // GET would answer and changes nothing).
    std::optional<reply> request_page(std::string_view raw_query, std::string_view peer, bool may_change,
                                      reply_sink later);
    reply act(const query& q, const std::optional<user_record>& u, bool may_change);
    reply save_suggestion(const query& q, const user_record& u, bool may_change, std::int64_t now);
    // shown: the page reaches a reader, so its messages count as read.
    std::optional<reply> messages_page(std::string_view raw_query, std::string_view peer, bool shown, reply_sink later);
    reply static_file(std::string_view raw_path);

    // Checks a password and gives the user to then: at once when no hash is
    // needed, or after one, through later.
    std::optional<reply> check_then(login_attempt a, checked then, reply_sink later);
    // The hash itself, on a hashing thread.
    std::optional<user_record> hash_check(const login_attempt& a, const std::optional<user_record>& u);
    bool cached(const std::string& name, const std::string& canonical, const user_record& u);
    void remember_good_login(const user_record& u, const std::string& address);
    // A refusal for a quota, logged once a minute per user.
    reply over_quota(reply r, const user_record& u, const char* what);
    void seen(const user_record& u);
    std::string coded_movie_folder(const std::string& folder);

    store& db_;
    service_options options_;
    std::string site_root_;  // canonical form of the site folder

    // Successful checks are remembered as a keyed digest of the password (the
    // password itself is never kept), so that polls do not pay for PBKDF2
    // every time. An entry is used only while the user's stored hash is the
    // one it was made against, so a changed password takes effect at once.
    struct cached_check {
        std::string stored_hash;
        std::array<std::uint8_t, 32> digest;
    };
    std::array<std::uint8_t, 32> cache_key_{};
    std::mutex cache_mutex_;
    std::unordered_map<std::string, cached_check> cache_;
    std::array<std::uint8_t, 32> digest(const std::string& name, const std::string& canonical) const;

    login_limiter limiter_;

    std::mutex movie_folder_mutex_;
    std::string movie_folder_plain_, movie_folder_coded_;

    // Pairs of user and address written to the store by this instance, so
    // that polls do not write them again and again.
    std::mutex good_mutex_;
    std::unordered_map<std::string, std::int64_t> recorded_good_;
    std::mutex quota_log_mutex_;
    std::unordered_map<std::int64_t, std::int64_t> quota_logged_;  // user -> when last logged

    // Last, so that it goes first: its threads run checks that use the rest.
    hash_budget hashing_;
};

}  // namespace mirvo::server
