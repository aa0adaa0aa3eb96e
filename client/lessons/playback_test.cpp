#include "client/lessons/playback.h"

#include "common/text/gbk.h"
#include "tests/support/lesson_test_service.h"

#include <gtest/gtest.h>

#include <functional>

namespace mirvo {
namespace {

using namespace mirvo::testing;

std::string g(const char* utf8) { return utf8_to_gbk(utf8); }

// Records what the logic asks of its window.
class recording_window : public lesson_window {
public:
    std::vector<std::string> captions;
    bool toolbar = true;
    int toolbar_hides = 0;
    bool busy = false;
    bool timer = false;
    int timer_starts = 0;
    screen_point cursor;
    bool keys_in_toolbar = false;
    int notice_ticks = 0;
    int lesson_views = 0;
    int program_leaves = 0;
    std::vector<std::string> programs;
    std::function<void()> during_busy;         // runs when the busy text appears
    std::function<void()> during_lesson_view;  // runs when the window maximises

    void set_caption(const std::string& text) override { captions.push_back(text); }
    void show_toolbar(bool show) override {
        toolbar = show;
        toolbar_hides += !show;
    }
    void show_busy(bool show) override {
        busy = show;
        if (show && during_busy) during_busy();
    }
    void start_playback_timer() override {
        timer = true;
        ++timer_starts;
    }
    void stop_playback_timer() override { timer = false; }
    screen_point cursor_position() override { return cursor; }
    bool keyboard_in_toolbar() override { return keys_in_toolbar; }
    void enter_lesson_view() override {
        ++lesson_views;
        show_toolbar(false);
        if (during_lesson_view) during_lesson_view();
    }
    void leave_for_program() override { ++program_leaves; }
    void start_program(const std::string& file) override { programs.push_back(file); }
    void tick_notices() override { ++notice_ticks; }

    const std::string& caption() const { return captions.back(); }
};

class Playback : public ::testing::Test {
protected:
    Playback() : session_(service_), playback_(window_, player_) {}

    // One category, one sub-category, the given entries.
    void catalogue_of(const std::vector<lesson_record>& entries) {
        service_.set_baselist(baselist_reply({{1, {"Cat", {{"Sub", entries}}}}}));
        playback_.load_catalogue();
    }
    // A lesson "L" in folder "l" with these files, selected and started.
    void play_lesson(const std::vector<file_record>& files) {
        catalogue_of({{"L", "l"}});
        service_.set_lesson("l", lesson_reply(files));
        playback_.play_selected("L");
    }
    std::string lesson_address(const std::string& name) const { return service_.base_url() + "/movies/l/0010/" + name; }

    lesson_service service_;
    lesson_session session_;
    recording_window window_;
    scripted_player_state player_;
    lesson_playback playback_;
};

TEST_F(Playback, DelayZeroMoviesFollowAsSoonAsThePlayerStops) {
    play_lesson({{"a.swf", "0"}, {"b.swf", "0"}, {"c.swf", "0"}});
    EXPECT_EQ(service_.lessons_asked(), std::vector<std::string>{"l"});
    EXPECT_TRUE(window_.timer);
    EXPECT_FALSE(window_.busy);
    EXPECT_EQ(window_.caption(), g("在线人数:37"));

    player_.playing = true;
    playback_.tick();  // the start's advance request
    ASSERT_EQ(player_.loaded, std::vector<std::string>{lesson_address("a.swf")});
    EXPECT_EQ(player_.colours, std::vector<std::int32_t>{0xFFFFFF});
    EXPECT_EQ(player_.plays, 1);
    EXPECT_EQ(window_.caption(), g("在线人数:37 正在播放1"));
    playback_.tick();
    EXPECT_EQ(player_.loaded.size(), 1u);  // still playing

    player_.playing = false;
    playback_.tick();
    playback_.tick();
    EXPECT_EQ(player_.loaded.back(), lesson_address("c.swf"));
    EXPECT_EQ(window_.caption(), g("在线人数:37 正在播放3"));
    EXPECT_EQ(window_.notice_ticks, 4);
}

TEST_F(Playback, PositiveDelayWaitsFourTicksAtTheLastFrameOfEveryMovie) {
    play_lesson({{"a.swf", "5"}, {"b.swf", "5"}, {"c.swf", "5"}, {"d.swf", "5"}});
    playback_.tick();
    // Every movie below stands at its last frame as soon as it is loaded.
    player_.stand_at_end();
    const auto four_ticks_at_the_end = [&](std::size_t movies) {
        for (int i = 0; i < 3; ++i) playback_.tick();
        EXPECT_EQ(player_.loaded.size(), movies);
        playback_.tick();
        EXPECT_EQ(player_.loaded.size(), movies + 1);
    };
    four_ticks_at_the_end(1);  // a gives way to b
    four_ticks_at_the_end(2);  // the count starts again for b

    // Ticks counted for a movie left with ">>" do not shorten the next one.
    for (int i = 0; i < 3; ++i) playback_.tick();
    playback_.next();
    playback_.tick();
    ASSERT_EQ(player_.loaded.back(), lesson_address("d.swf"));
    for (int i = 0; i < 3; ++i) playback_.tick();
    EXPECT_TRUE(window_.timer);
    playback_.tick();  // the list is used up and L is the last entry
    EXPECT_FALSE(window_.timer);
}

TEST_F(Playback, MovieStoppedHalfWayWaitsExceptBeforeTheFirstStart) {
    play_lesson({{"a.swf", "5"}, {"b.swf", "5"}});
    playback_.tick();
    player_.current = 3;  // stopped half-way, index 1
    for (int i = 0; i < 6; ++i) playback_.tick();
    EXPECT_EQ(player_.loaded.size(), 1u);

    // The next lesson starts by itself without an advance request: at index 0
    // a movie standing half-way lets the first movie start.
    ASSERT_TRUE(playback_.start_lesson("L"));
    EXPECT_EQ(playback_.state().file_index, 0);
    playback_.tick();
    EXPECT_EQ(player_.loaded.size(), 2u);
    EXPECT_EQ(player_.loaded.back(), lesson_address("a.swf"));
}

TEST_F(Playback, AMovieThatCannotBeLoadedWaitsForNextUnlessItsDelayIsZero) {
    // A player that could not load a movie reports no frames and not playing.
    play_lesson({{"a.swf", "5"}, {"b.swf", "5"}, {"c.swf", "0"}, {"d.swf", "5"}});
    playback_.tick();  // a
    player_.stand_at_end();
    for (int i = 0; i < 4; ++i) playback_.tick();
    ASSERT_EQ(player_.loaded.back(), lesson_address("b.swf"));
    player_.total = 0;
    player_.current = 0;
    for (int i = 0; i < 12; ++i) playback_.tick();
    EXPECT_EQ(player_.loaded.back(), lesson_address("b.swf"));
    playback_.next();
    playback_.tick();
    EXPECT_EQ(player_.loaded.back(), lesson_address("c.swf"));
    // With delay 0 a failed movie gives way at once.
    playback_.tick();
    EXPECT_EQ(player_.loaded.back(), lesson_address("d.swf"));
}

TEST_F(Playback, NegativeDelayStaysUntilNextIsPressed) {
    play_lesson({{"a.swf", "-1"}, {"b.swf", ""}, {"c.swf", "x"}});
    playback_.tick();
    player_.stand_at_end();
    for (int i = 0; i < 8; ++i) playback_.tick();
    EXPECT_EQ(player_.loaded.size(), 1u);
    playback_.next();
    playback_.tick();
    EXPECT_EQ(player_.loaded.back(), lesson_address("b.swf"));
    // An empty delay reads as 6, a non-numeric one as 0.
    EXPECT_EQ(playback_.state().delay_value, 6);
    player_.current = 2;
    playback_.next();
    playback_.tick();
    EXPECT_EQ(playback_.state().delay_value, 0);
}

TEST_F(Playback, PreviousStepsBackOneMovieOrRestartsTheFirst) {
    play_lesson({{"a.swf", "-1"}, {"b.swf", "-1"}, {"c.swf", "-1"}});
    playback_.tick();
    playback_.next();
    playback_.tick();
    ASSERT_EQ(playback_.state().file_index, 2);
    playback_.previous();
    EXPECT_EQ(playback_.state().file_index, 0);
    playback_.previous();  // at index 0 there is nothing to step back to
    playback_.tick();
    EXPECT_EQ(player_.loaded.back(), lesson_address("a.swf"));

    playback_.previous();  // during the first movie: it starts again
    EXPECT_EQ(playback_.state().file_index, 0);
    playback_.tick();
    EXPECT_EQ(player_.loaded, (std::vector<std::string>{lesson_address("a.swf"), lesson_address("b.swf"),
                                                        lesson_address("a.swf"), lesson_address("a.swf")}));

    // While a step is still to be made, "<<" does not change it.
    playback_.next();
    playback_.previous();
    EXPECT_EQ(playback_.state().file_index, 1);
    playback_.tick();
    EXPECT_EQ(player_.loaded.back(), lesson_address("b.swf"));
}

TEST_F(Playback, AdvertisementsCannotBeSkippedInEitherCaseButOnlyLowerCaseIsShort) {
    play_lesson({{"intro_AD.swf", "-1"}, {"x_ad.swf", "-1"}, {"after.swf", "-1"}});
    playback_.tick();
    // "_AD": the buttons refuse it, but the address is the long lesson form.
    EXPECT_EQ(player_.loaded.back(), lesson_address("intro_AD.swf"));
    playback_.next();
    playback_.previous();
    EXPECT_FALSE(playback_.state().advance_request);
    EXPECT_EQ(playback_.state().file_index, 1);

    playback_.state().advance_request = true;
    playback_.tick();
    EXPECT_EQ(player_.loaded.back(), service_.base_url() + "/movies/x_ad.swf");
    playback_.next();
    EXPECT_FALSE(playback_.state().advance_request);
}

TEST_F(Playback, HtmlNamesBecomeSwfOnlyInLowerCase) {
    play_lesson({{"one.html", "0"}, {"two.HTML", "0"}, {"a.html.html", "0"}});
    for (int i = 0; i < 3; ++i) playback_.tick();
    EXPECT_EQ(player_.loaded, (std::vector<std::string>{lesson_address("one.swf"), lesson_address("two.HTML"),
                                                        lesson_address("a.swf.swf")}));
}

TEST_F(Playback, FolderAndFileNamesArePercentEncodedWithSlashesKept) {
    const std::string folder = g("音乐/第 1 课");
    catalogue_of({{"L", folder}});
    service_.set_lesson(folder, lesson_reply({{g("片头&1.swf"), "0"}, {"a#_ad.swf", "0"}}, "swf lib/v#2?"));
    playback_.play_selected("L");
    playback_.tick();
    playback_.tick();
    ASSERT_EQ(player_.loaded.size(), 2u);
    const std::string movies = service_.base_url() + "/swf%20lib/v%232%3F/";
    EXPECT_EQ(player_.loaded[0],
              movies + url_encode_value(folder, true) + "/0010/" + url_encode_value(g("片头&1.swf")));
    EXPECT_NE(player_.loaded[0].find("/%D2%F4%C0%D6/"), std::string::npos);
    EXPECT_EQ(player_.loaded[1], movies + "a%23_ad.swf");
}

TEST_F(Playback, LessonsFollowInCatalogueOrderAndTheLastEndsPlayback) {
    catalogue_of({{"A", "a"}, {"B", "b"}});
    service_.set_lesson("a", lesson_reply({{"a1.swf", "0"}}));
    service_.set_lesson("b", lesson_reply({{"b1.swf", "0"}}, "movies", "40"));
    playback_.play_selected("A");
    playback_.tick();  // a1
    playback_.tick();  // list used up: lesson b starts
    EXPECT_EQ(service_.lessons_asked(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(window_.caption(), g("开始播放...在线人数:40"));
    playback_.tick();  // no request is pending, delay 0 and not playing: b1
    EXPECT_EQ(player_.loaded.back(), service_.base_url() + "/movies/b/0010/b1.swf");
    playback_.state().status_suffix = "  !";
    playback_.tick();  // the last entry: playback ends
    EXPECT_FALSE(window_.timer);
    EXPECT_TRUE(window_.toolbar);
    EXPECT_EQ(window_.caption(), g("在线人数:40") + "  !");
    EXPECT_EQ(window_.program_leaves, 0);
}

TEST_F(Playback, NextEntryAProgramLeavesTheLessonView) {
    catalogue_of({{"A", "a"}, {"Race", "games", "game", "race.exe"}, {"C", "c"}});
    service_.set_lesson("a", lesson_reply({{"a1.swf", "0"}}));
    playback_.play_selected("A");
    playback_.tick();
    playback_.tick();
    EXPECT_FALSE(window_.timer);
    EXPECT_TRUE(window_.toolbar);
    EXPECT_EQ(window_.program_leaves, 1);
    EXPECT_TRUE(window_.programs.empty());  // a program is never started by the tick
    EXPECT_EQ(window_.caption(), g("在线人数:37"));
    EXPECT_EQ(service_.count("lesson"), 1u);
}

TEST_F(Playback, GoingOnMovesPastTheEntryThatPlayedEvenWithRepeatedTitlesAndFolders) {
    catalogue_of({{"Same", "one"}, {"X", "x"}, {"Same", "two"}, {"Y", "one"}, {"Z", "z"}});
    for (const char* f : {"one", "two", "x", "z"}) service_.set_lesson(f, lesson_reply({{"m.swf", "0"}}));
    playback_.play_selected("X");
    for (int i = 0; i < 8; ++i) playback_.tick();
    // X, then the second "Same" (folder two), then Y (folder one again), then Z.
    EXPECT_EQ(service_.lessons_asked(), (std::vector<std::string>{"x", "two", "one", "z"}));
    EXPECT_FALSE(window_.timer);
}

TEST_F(Playback, MouseIdleHidesTheToolbarUnlessTheCursorRestsWhereAButtonWasPressed) {
    play_lesson({{"a.swf", "-1"}, {"b.swf", "-1"}});
    window_.cursor = {10, 10};
    playback_.tick();
    EXPECT_TRUE(window_.toolbar);
    for (int i = 0; i < 3; ++i) playback_.tick();
    EXPECT_TRUE(window_.toolbar);
    playback_.tick();  // the fourth tick without movement
    EXPECT_FALSE(window_.toolbar);
    const int hides = window_.toolbar_hides;
    playback_.tick();
    EXPECT_EQ(window_.toolbar_hides, hides + 1);  // repeated while idle

    window_.cursor = {50, 5};
    playback_.tick();
    EXPECT_TRUE(window_.toolbar);
    playback_.next();  // pressed here: the toolbar stays while the cursor rests
    const int before = window_.toolbar_hides;
    for (int i = 0; i < 10; ++i) playback_.tick();
    EXPECT_EQ(player_.loaded.back(), lesson_address("b.swf"));
    EXPECT_TRUE(window_.toolbar);
    EXPECT_EQ(window_.toolbar_hides, before);
    EXPECT_EQ(playback_.state().idle_count, 2);  // reset on the fourth idle tick
}

TEST_F(Playback, FailedLessonReplyKeepsTheErrorAndNeverReplaysOldMoviesUnderTheNewFolder) {
    catalogue_of({{"A", "a"}, {"B", "b"}, {"C", "c"}});
    // First lesson fails: the timer stays stopped and the toolbar comes back.
    playback_.play_selected("A");
    EXPECT_EQ(window_.caption(), g("读取网络信息出错！在线人数:"));
    EXPECT_TRUE(window_.toolbar);
    EXPECT_FALSE(window_.busy);
    EXPECT_FALSE(window_.timer);

    // A lesson plays; the next one fails while the timer runs.
    service_.set_lesson("a", lesson_reply({{"a1.swf", "0"}, {"a2.swf", "0"}}));
    service_.set_lesson("c", lesson_reply({{"c1.swf", "0"}}));
    playback_.play_selected("A");
    playback_.tick();
    playback_.tick();
    playback_.tick();  // a's list used up: B is asked for and fails
    EXPECT_EQ(window_.caption(), g("读取网络信息出错！在线人数:"));
    EXPECT_TRUE(window_.timer);
    playback_.tick();  // B counts as used up: C starts
    EXPECT_EQ(service_.lessons_asked(), (std::vector<std::string>{"a", "a", "b", "c"}));
    playback_.tick();
    EXPECT_EQ(player_.loaded.back(), service_.base_url() + "/movies/c/0010/c1.swf");

    // While C plays the user picks B, which fails: C's movies are not
    // played again from the start under B's folder; C's next entry follows.
    service_.set_lesson("c", lesson_reply({{"c1.swf", "0"}, {"c2.swf", "0"}}));
    ASSERT_TRUE(playback_.start_lesson("C"));
    playback_.tick();  // c1
    playback_.play_selected("B");
    EXPECT_EQ(window_.caption(), g("读取网络信息出错！在线人数:"));
    for (int i = 0; i < 3; ++i) playback_.tick();
    for (const auto& address : player_.loaded) EXPECT_EQ(address.find("/b/"), std::string::npos) << address;
    EXPECT_EQ(service_.lessons_asked().back(), "c");  // B's successor
}

TEST_F(Playback, AfterAFailedLessonReplyTheButtonsCannotBringTheOldMoviesBack) {
    catalogue_of({{"A", "a"}, {"B", "b"}, {"C", "c"}});
    service_.set_lesson("a", lesson_reply({{"a1.swf", "-1"}, {"a2.swf", "-1"}, {"a3.swf", "-1"}}));
    service_.set_lesson("c", lesson_reply({{"c1.swf", "-1"}}));
    playback_.play_selected("A");
    playback_.tick();  // a1
    playback_.next();
    playback_.tick();              // a2: "<<" would now go back to a1
    playback_.play_selected("B");  // fails
    const std::size_t loaded = player_.loaded.size();
    for (int i = 0; i < 2; ++i) {
        playback_.previous();
        playback_.tick();
    }
    EXPECT_EQ(player_.loaded.size(), loaded);
    EXPECT_EQ(window_.caption(), g("读取网络信息出错！在线人数:"));

    // ">>" goes on past the lesson that failed, not into A's list.
    playback_.next();
    playback_.tick();
    EXPECT_EQ(service_.lessons_asked(), (std::vector<std::string>{"a", "b", "c"}));
    playback_.next();
    playback_.tick();
    EXPECT_EQ(player_.loaded.back(), service_.base_url() + "/movies/c/0010/c1.swf");
    for (const auto& address : player_.loaded) EXPECT_EQ(address.find("/b/"), std::string::npos) << address;
}

TEST_F(Playback, APickThatFailsWhileAMoviePlaysKeepsTheErrorUntilTheMovieEnds) {
    catalogue_of({{"A", "a"}, {"B", "b"}, {"C", "c"}});
    service_.set_lesson("a", lesson_reply({{"a1.swf", "0"}}));
    service_.set_lesson("c", lesson_reply({{"c1.swf", "0"}}));
    playback_.play_selected("A");
    playback_.tick();
    player_.playing = true;
    playback_.play_selected("B");  // its advance request goes with the failure
    playback_.tick();
    EXPECT_EQ(window_.caption(), g("读取网络信息出错！在线人数:"));
    EXPECT_EQ(service_.lessons_asked(), (std::vector<std::string>{"a", "b"}));
    player_.playing = false;
    playback_.tick();
    EXPECT_EQ(service_.lessons_asked(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(Playback, EmptyCatalogueStartsNothing) {
    service_.set_baselist("");
    playback_.state().status_suffix = "  !";
    playback_.load_catalogue();
    EXPECT_EQ(window_.caption(), g("在线人数:") + "  !");
    playback_.play_selected("");
    EXPECT_TRUE(window_.programs.empty());
    EXPECT_EQ(window_.lesson_views, 0);
    EXPECT_EQ(service_.count("lesson"), 0u);
    EXPECT_EQ(window_.caption(), g("在线人数:") + "  !");
}

TEST_F(Playback, SelectingUnknownTitlesPlaysEntryZeroAndProgramsGoToTheirSeam) {
    catalogue_of({{"Race", "games", "game", "race.exe"}, {"L", "l"}});
    playback_.play_selected("Cat.");  // a category item
    EXPECT_EQ(window_.programs, std::vector<std::string>{"race.exe"});
    EXPECT_EQ(service_.count("lesson"), 0u);
    EXPECT_EQ(playback_.state().lesson_folder, "games");
}

TEST_F(Playback, PlaySelectedIgnoresAStartOfAnotherEntryFromInsideItself) {
    catalogue_of({{"L", "l"}, {"Race", "games", "game", "race.exe"}});
    service_.set_lesson("l", lesson_reply({{"a.swf", "0"}}));
    // Maximising and the lesson request both let events through.
    int nested = 0;
    const auto pick_the_program = [&] {
        ++nested;
        const int views = window_.lesson_views;
        const bool request = playback_.state().advance_request;
        playback_.play_selected("Race");
        EXPECT_TRUE(window_.programs.empty());
        EXPECT_EQ(playback_.state().lesson_folder, "l");
        EXPECT_EQ(playback_.state().advance_request, request);
        EXPECT_EQ(window_.lesson_views, views);
    };
    window_.during_lesson_view = [&] {
        window_.during_lesson_view = nullptr;
        pick_the_program();
    };
    window_.during_busy = [&] {
        window_.during_busy = nullptr;
        pick_the_program();
    };
    playback_.play_selected("L");
    EXPECT_EQ(nested, 2);
    EXPECT_EQ(service_.lessons_asked(), std::vector<std::string>{"l"});
    playback_.tick();
    EXPECT_EQ(player_.loaded.back(), lesson_address("a.swf"));
}

TEST_F(Playback, StartsAndTicksAreNotReenteredWhileALessonStarts) {
    play_lesson({{"a.swf", "0"}, {"b.swf", "0"}});
    int inner = 0;
    window_.during_busy = [&] {
        ++inner;
        window_.during_busy = nullptr;  // one nested attempt of each
        playback_.tick();
        playback_.play_selected("L");
        EXPECT_FALSE(playback_.start_lesson("L"));
    };
    const int notices = window_.notice_ticks;
    EXPECT_TRUE(playback_.start_lesson("L"));
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(window_.notice_ticks, notices);
    EXPECT_TRUE(player_.loaded.empty());
    EXPECT_EQ(service_.count("lesson"), 2u);
}

}  // namespace
}  // namespace mirvo
