// Test fixtures of the lesson window: a small service on 127.0.0.1 that answers
// baselist, lesson and other requests from scripted replies and logs what it
// was asked, a player whose timeline the test sets, and reply builders.
#pragma once

#include "client/lessons/movie_player.h"
#include "client/login/session.h"
#include "common/protocol/digit_code.h"
#include "common/ui/status.h"

#include <httplib.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace mirvo::testing {

class lesson_service {
public:
    struct request {
        std::string action;
        std::string lesson_dir;
        bool has_lesson_keys = false;
    };

    lesson_service() {
        server_.Get("/service.aspx", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            request r{req.get_param_value("action"), req.get_param_value("lesson_dir"), req.has_param("lesson_id")};
            log_.push_back(r);
            std::string body;
            if (r.action == "baselist") {
                body = baselist_;
            } else if (r.action == "lesson") {
                auto it = lessons_.find(r.lesson_dir);
                if (it == lessons_.end()) {
                    res.status = 404;
                    return;
                }
                body = it->second;
            } else if (auto it = replies_.find(r.action); it != replies_.end()) {
                if (it->second.empty()) {
                    res.status = 500;
                    return;
                }
                body = it->second;
            }
            if (body.empty() && r.action == "baselist") {
                res.status = 500;
                return;
            }
            res.set_content(body, "text/xml");
        });
        // Bound and listening before the constructor returns; accepting starts
        // on the thread. A stop that comes before the accepting loop runs
        // would be lost and the loop never end, so the constructor waits for it.
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        for (int i = 0; i < 5000 && !server_.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~lesson_service() {
        server_.stop();
        thread_.join();
    }
    lesson_service(const lesson_service&) = delete;
    lesson_service& operator=(const lesson_service&) = delete;

    std::string base_url() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // An empty baselist answers with status 500 (a failed reply).
    void set_baselist(std::string reply) {
        std::lock_guard lock(mutex_);
        baselist_ = std::move(reply);
    }
    // A folder without a reply answers 404.
    void set_lesson(const std::string& folder, std::string reply) {
        std::lock_guard lock(mutex_);
        lessons_[folder] = std::move(reply);
    }
    void drop_lesson(const std::string& folder) {
        std::lock_guard lock(mutex_);
        lessons_.erase(folder);
    }
    // The reply to any other action (the ads, the poll...); an empty one
    // answers with status 500.
    void set_reply(const std::string& action, std::string reply) {
        std::lock_guard lock(mutex_);
        replies_[action] = std::move(reply);
    }
    std::vector<request> log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    // The lesson folders asked for, in order.
    std::vector<std::string> lessons_asked() const {
        std::vector<std::string> out;
        for (const auto& r : log())
            if (r.action == "lesson") out.push_back(r.lesson_dir);
        return out;
    }
    std::size_t count(const std::string& action) const {
        std::size_t n = 0;
        for (const auto& r : log()) n += r.action == action;
        return n;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string baselist_;
    std::map<std::string, std::string> lessons_;
    std::map<std::string, std::string> replies_;
    std::vector<request> log_;
};

// Points the session at a service for the lifetime of the object, with a
// pump that does not wait (the password's encoding pauses otherwise).
class lesson_session {
public:
    explicit lesson_session(const lesson_service& service) : saved_(session()) {
        session() = {service.base_url(), "service.aspx", "zhang3", "pw1"};
    }
    ~lesson_session() { session() = saved_; }

private:
    no_wait_pump pump_;
    scoped_message_pump use_pump_{pump_};
    session_values saved_;
};

// A player whose timeline is whatever the test last set.
class scripted_player_state : public movie_player {
public:
    bool playing = false;
    std::int32_t total = 10;
    std::int32_t current = 0;
    std::vector<std::string> loaded;  // addresses, in order
    std::vector<std::int32_t> colours;
    int plays = 0;

    bool IsPlaying() override { return playing; }
    std::int32_t TotalFrames() override { return total; }
    std::int32_t CurrentFrame() override { return current; }
    void LoadMovie(std::int32_t, const std::string& address) override { loaded.push_back(address); }
    void SetBackgroundColor(std::int32_t colour) override { colours.push_back(colour); }
    void Play() override { ++plays; }

    void stand_at_end() {
        playing = false;
        current = total - 1;
    }
};

// Reply builders.
struct lesson_record {
    std::string title, dir, type = "lesson", file_name = "";
};
struct subcategory_record {
    std::string title;
    std::vector<lesson_record> lessons;
};
struct category_record {
    std::string title;
    std::vector<subcategory_record> subs;
};

inline std::string baselist_reply(const std::vector<std::pair<int, category_record>>& categories,
                                  const std::string& online = "37") {
    std::string out = "<online_num>" + online + "</online_num>\n";
    for (const auto& [order, cat] : categories) {
        out += "<sort_list order=\"" + std::to_string(order) + "\" title=\"" + cat.title + "\">";
        int l = 0;
        for (const auto& sub : cat.subs) {
            out += "<lesson_list order=\"" + std::to_string(++l) + "\" title=\"" + sub.title + "\">";
            int e = 0;
            for (const auto& lesson : sub.lessons)
                out += "<lesson order=\"" + std::to_string(++e) + "\" title=\"" + lesson.title + "\" dir=\"" +
                       lesson.dir + "\" type=\"" + lesson.type + "\" file_name=\"" + lesson.file_name + "\" />";
            out += "</lesson_list>";
        }
        out += "</sort_list>\n";
    }
    return out;
}

struct file_record {
    std::string name;
    std::string delay;  // "-" leaves the attribute out
    int order = 0;      // 0: the next number
};

inline std::string lesson_reply(const std::vector<file_record>& files, const std::string& movie_folder = "movies",
                                const std::string& online = "37", int new_msg = 0) {
    std::string out = "<online_num>" + online + "</online_num><my_ro>" + digit_code(movie_folder, "e") +
                      "</my_ro><new_msg>" + std::to_string(new_msg) + "</new_msg>\n";
    int order = 0;
    for (const auto& f : files) {
        order = f.order ? f.order : order + 1;
        out += "<file order=\"" + std::to_string(order) + "\" name=\"" + f.name + "\"";
        if (f.delay != "-") out += " delay_time=\"" + f.delay + "\"";
        out += " />\n";
    }
    return out;
}

struct ad_record {
    std::string text, url;
    int order = 0;  // 0: the next number
};

inline std::string ads_reply(const std::vector<ad_record>& ads) {
    std::string out;
    int order = 0;
    for (const auto& a : ads) {
        order = a.order ? a.order : order + 1;
        out += "<ad order=\"" + std::to_string(order) + "\" url=\"" + a.url + "\" text=\"" + a.text + "\" />\r\n";
    }
    return out;
}

}  // namespace mirvo::testing
