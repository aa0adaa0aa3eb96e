// One real player and one loopback server shared by a whole suite of player
// tests under an X server: starting the web engine for every test would take
// most of the suite's time.
#pragma once

#include "client/lessons/player/event_wait.h"
#include "client/lessons/player/shockwave_flash.h"
#include "common/swf/writer.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <string>

namespace mirvo::testing {

// A 400 x 300 movie with nothing that moves outside the root timeline.
inline swf::demo_movie plain_movie(int frames, double rate, int stop_frame) {
    swf::demo_movie m;
    m.look.frame_rate = rate;
    m.look.width = 400;
    m.look.height = 300;
    m.frame_count = frames;
    m.stop_frame = stop_frame;
    m.sprite = false;
    return m;
}

class player_suite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new test_http_server();
        player_ = new CShockwaveflash1();
        player_->resize(400, 300);
        player_->show();
        ASSERT_TRUE(mirvo::player::run_events_until([] { return player_->page_ready(); }, 30000))
            << "the player page never came up";
    }
    static void TearDownTestSuite() {
        delete player_;
        player_ = nullptr;
        delete server_;
        server_ = nullptr;
    }

    // Serves `bytes` as a movie of a lesson folder; returns its address.
    static std::string serve(const std::string& name, const std::string& bytes) {
        scripted_response r;
        r.body = bytes;
        r.headers = {{"Content-Type", "application/x-shockwave-flash"}};
        server_->on("/lesson/0010/" + name, r);
        return server_->base_url() + "/lesson/0010/" + name;
    }

    static inline test_http_server* server_ = nullptr;
    static inline CShockwaveflash1* player_ = nullptr;
};

}  // namespace mirvo::testing
