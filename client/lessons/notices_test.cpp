#include "client/lessons/notices.h"

#include "common/text/gbk.h"
#include "tests/support/lesson_test_service.h"
#include "tests/support/recording_hyperlink.h"

#include <gtest/gtest.h>

#include <array>

namespace mirvo {
namespace {

using namespace mirvo::testing;
using looks = recording_hyperlink::colours;

std::string g(const char* utf8) { return utf8_to_gbk(utf8); }

const looks blue_red{colour_blue, true, colour_red};
const looks red_blue{colour_red, true, colour_blue};
const looks blue_blue{colour_blue, true, colour_blue};

class recording_view : public notices_view {
public:
    recording_hyperlink notice{g("您有新信 ")};
    std::array<recording_hyperlink, 5> news{recording_hyperlink(g("新闻信息")), recording_hyperlink(g("新闻信息")),
                                            recording_hyperlink(g("新闻信息")), recording_hyperlink(g("新闻信息")),
                                            recording_hyperlink(g("新闻信息"))};
    int repaints = 0;
    std::vector<int> shown_at;  // the tick numbers at which the notice window was shown
    int tick = 0;

    std::string caption_text = "Mirvo";
    int caption_sets = 0;

    hyperlink& notice_link() override { return notice; }
    std::string caption() override { return caption_text; }
    void set_caption(const std::string& text) override {
        caption_text = text;
        ++caption_sets;
    }
    hyperlink& news_link(int k) override { return news.at(static_cast<std::size_t>(k)); }
    void repaint_notice_link() override { ++repaints; }
    void show_notice_window() override { shown_at.push_back(tick); }

    std::vector<std::string> news_texts() const {
        std::vector<std::string> out;
        for (const auto& l : news) out.push_back(l.text);
        return out;
    }
};

std::vector<ad_record> numbered_ads(int n) {
    std::vector<ad_record> ads;
    for (int i = 1; i <= n; ++i)
        ads.push_back({"ad" + std::to_string(i), "http://ads.example/" + std::to_string(i) + ".htm"});
    return ads;
}

class Notices : public ::testing::Test {
protected:
    Notices() : session_(service_), notices_(view_, state_) { service_.set_reply("", "<new_msg>0</new_msg>"); }

    void with_ads(int n) {
        service_.set_reply("ad", ads_reply(numbered_ads(n)));
        notices_.load_ads();
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) {
            ++view_.tick;
            notices_.tick_notices();
        }
    }
    std::string announcement() const { return service_.base_url() + "/login.aspx?user=zhang3&pw=pw1&page=gonggao.htm"; }

    lesson_service service_;
    lesson_session session_;
    recording_view view_;
    playback_state state_;
    lesson_notices notices_;
};

TEST_F(Notices, SevenAdsFillFiveLinksThenTwoThenStartAgain) {
    with_ads(7);
    ASSERT_EQ(notices_.ads().size(), 7u);
    EXPECT_EQ(notices_.ads()[6].address, "http://ads.example/7.htm");

    notices_.rotate_news_links();
    EXPECT_EQ(view_.news_texts(), (std::vector<std::string>{"ad1", "ad2", "ad3", "ad4", "ad5"}));
    EXPECT_EQ(view_.news[4].address, "http://ads.example/5.htm");
    notices_.rotate_news_links();
    EXPECT_EQ(view_.news_texts(), (std::vector<std::string>{"ad6", "ad7", "ad3", "ad4", "ad5"}));
    EXPECT_EQ(view_.news[1].address, "http://ads.example/7.htm");
    // Only the links that were filled got their looks set again.
    EXPECT_EQ(view_.news[1].looks, (std::vector<looks>{blue_red, blue_red}));
    EXPECT_EQ(view_.news[2].looks, (std::vector<looks>{blue_red}));
    notices_.rotate_news_links();
    EXPECT_EQ(view_.news_texts(), (std::vector<std::string>{"ad1", "ad2", "ad3", "ad4", "ad5"}));
}

TEST_F(Notices, ExactlyFiveAdsShowTheSameFiveEveryTime) {
    with_ads(5);
    for (int i = 0; i < 3; ++i) {
        notices_.rotate_news_links();
        EXPECT_EQ(view_.news_texts(), (std::vector<std::string>{"ad1", "ad2", "ad3", "ad4", "ad5"}));
    }
}

TEST_F(Notices, WithoutAdsOnlyTheFirstLinkIsEmptiedAndAFailedReplyKeepsTheList) {
    service_.set_reply("ad", "<nothing/>");
    notices_.load_ads();
    notices_.rotate_news_links();
    notices_.rotate_news_links();
    EXPECT_EQ(view_.news_texts(),
              (std::vector<std::string>{"", g("新闻信息"), g("新闻信息"), g("新闻信息"), g("新闻信息")}));
    EXPECT_EQ(view_.news[0].address, "");

    with_ads(2);
    service_.set_reply("ad", "");  // status 500: an empty reply
    notices_.load_ads();
    EXPECT_EQ(notices_.ads().size(), 2u);
}

TEST_F(Notices, AdsAreReadAcrossGapsOfUpToTenNumbers) {
    service_.set_reply(
        "ad",
        ads_reply(
            {{"one", "u1", 1}, {"", "u2", 2}, {"three", "u3", 3}, {"fourteen", "u14", 14}, {"twenty-six", "u26", 26}}));
    notices_.load_ads();
    ASSERT_EQ(notices_.ads().size(), 3u);
    EXPECT_EQ(notices_.ads()[2].text, "fourteen");
    EXPECT_EQ(notices_.ads()[2].address, "u14");
    EXPECT_EQ(service_.count("ad"), 1u);
}

TEST_F(Notices, LinksRotateEveryTenthTickAndThePollGoesOutAtTheFirstAndEveryFourth) {
    with_ads(7);
    ticks(9);
    EXPECT_EQ(view_.news_texts()[0], g("新闻信息"));
    ticks(1);
    EXPECT_EQ(view_.news_texts()[0], "ad1");
    ticks(10);
    EXPECT_EQ(view_.news_texts()[0], "ad6");

    // Polls at ticks 1, 5, 9, 13 and 17 of these 20, and at 21.
    EXPECT_EQ(service_.count(""), 5u);
    ticks(1);
    EXPECT_EQ(service_.count(""), 6u);
    ticks(3);
    EXPECT_EQ(service_.count(""), 6u);
    for (const auto& r : service_.log()) {
        if (r.action != "") continue;
        EXPECT_TRUE(r.has_lesson_keys);
        EXPECT_EQ(r.lesson_dir, "");
    }
}

TEST_F(Notices, UnreadMessagesBlinkTheNoticeLinkAndSetTheCaptionSuffix) {
    service_.set_reply("", "<new_msg>2</new_msg>");
    ticks(1);
    EXPECT_EQ(state_.new_message_count, 2);
    EXPECT_EQ(state_.status_suffix, g("  您有新信息!"));
    ticks(3);
    // Red and blue on alternate ticks, repainted every time.
    EXPECT_EQ(view_.notice.looks, (std::vector<looks>{blue_blue, red_blue, blue_blue, red_blue}));
    EXPECT_EQ(view_.repaints, 4);

    // A failed poll reads as no messages: the notice stops.
    service_.set_reply("", "");
    ticks(1);
    EXPECT_EQ(state_.new_message_count, 0);
    EXPECT_EQ(state_.status_suffix, "");
    ticks(4);
    EXPECT_EQ(view_.notice.looks.size(), 4u);
    EXPECT_EQ(view_.repaints, 4);
}

TEST_F(Notices, TheCaptionFollowsTheCountOnEveryTick) {
    view_.caption_text = g("在线人数:37 正在播放1");
    service_.set_reply("", "<new_msg>1</new_msg>");
    ticks(1);
    EXPECT_EQ(view_.caption_text, g("在线人数:37 正在播放1  您有新信息!"));
    ticks(3);
    EXPECT_EQ(view_.caption_sets, 1);  // unchanged captions are not set again
    // A movie starts and sets the caption with the suffix: it stays single.
    view_.caption_text = g("在线人数:37 正在播放2  您有新信息!");
    ticks(1);
    EXPECT_EQ(view_.caption_text, g("在线人数:37 正在播放2  您有新信息!"));
    service_.set_reply("", "<new_msg>0</new_msg>");
    ticks(4);
    EXPECT_EQ(view_.caption_text, g("在线人数:37 正在播放2"));
    EXPECT_EQ(view_.caption_sets, 2);
}

TEST_F(Notices, TheNoticeWindowComesEveryHundredTicksAndItsCountdownIsNotReset) {
    service_.set_reply("", "<new_msg>1</new_msg>");
    ticks(150);
    EXPECT_EQ(view_.shown_at, (std::vector<int>{1, 101}));

    // The count drops with the poll of tick 153 and comes back with that of
    // tick 157: the window waits for the countdown, which stood still
    // meanwhile, to come round.
    ticks(2);
    service_.set_reply("", "<new_msg>0</new_msg>");
    ticks(4);
    service_.set_reply("", "<new_msg>3</new_msg>");
    ticks(44);
    EXPECT_EQ(view_.shown_at, (std::vector<int>{1, 101}));
    ticks(100);
    EXPECT_EQ(view_.shown_at, (std::vector<int>{1, 101, 205}));
}

TEST_F(Notices, TheNoticeLinkLeadsToTheAnnouncementPageWithThePasswordAsTyped) {
    notices_.init_notice_link();
    EXPECT_EQ(view_.notice.looks, std::vector<looks>{blue_red});
    EXPECT_EQ(view_.notice.text, g("您有新信息!"));
    EXPECT_EQ(view_.notice.address, announcement());

    notices_.set_notice_link();
    EXPECT_EQ(view_.notice.text, g("交新朋友"));
    state_.new_message_count = 1;
    notices_.set_notice_link();
    EXPECT_EQ(view_.notice.text, g("您有新信息!"));

    // Values are percent-encoded: a password holding "&" or a blank cannot
    // add or end parameters of the page's address.
    session().user = g("小红");
    session().password = "a&b c";
    notices_.set_notice_link();
    EXPECT_EQ(view_.notice.address,
              service_.base_url() + "/login.aspx?user=%D0%A1%BA%EC&pw=a%26b%20c&page=gonggao.htm");
}

// The caption while a movie plays with unread messages: the playback tick
// runs the notices first.
class notice_ticking_window : public lesson_window {
public:
    lesson_notices* notices = nullptr;
    std::string caption;
    void set_caption(const std::string& text) override { caption = text; }
    void show_toolbar(bool) override {}
    void show_busy(bool) override {}
    void start_playback_timer() override {}
    void stop_playback_timer() override {}
    screen_point cursor_position() override { return {}; }
    bool keyboard_in_toolbar() override { return false; }
    void enter_lesson_view() override {}
    void leave_for_program() override {}
    void start_program(const std::string&) override {}
    void tick_notices() override { notices->tick_notices(); }
};

TEST_F(Notices, TheCaptionOfAPlayingMovieEndsWithTheNotice) {
    notice_ticking_window window;
    scripted_player_state player;
    lesson_playback playback(window, player);
    recording_view view;
    lesson_notices notices(view, playback.state());
    window.notices = &notices;

    service_.set_baselist(baselist_reply({{1, {"C", {{"S", {{"L", "l"}}}}}}}));
    service_.set_lesson("l", lesson_reply({{"a.swf", "0"}, {"b.swf", "0"}}));
    service_.set_reply("", "<new_msg>4</new_msg>");
    playback.load_catalogue();
    playback.play_selected("L");
    player.playing = true;
    playback.tick();
    EXPECT_EQ(window.caption, g("在线人数:37 正在播放1  您有新信息!"));
}

}  // namespace
}  // namespace mirvo
