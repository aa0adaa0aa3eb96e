#include "client/lessons/player/movie_timeline.h"

#include <gtest/gtest.h>

namespace mirvo::player {
namespace {

// At 10 fps a frame comes every 100 ms; the floor of 400 ms of quiet applies.
movie_timeline started(int frames, double rate, movie_timeline::follow mode, double page_ms = 1000) {
    movie_timeline t;
    t.heartbeat(page_ms);
    t.loading();
    t.handed_over(frames, rate, mode);
    return t;
}

TEST(movie_timeline, nothing_loaded_or_failed_is_not_playing) {
    movie_timeline t;
    EXPECT_FALSE(t.playing());
    EXPECT_EQ(t.total_frames(), 0);
    t.loading();
    EXPECT_TRUE(t.playing()) << "a movie being fetched counts as playing, or a delay-0 lesson skips it";
    t.failed();
    EXPECT_FALSE(t.playing());
    EXPECT_EQ(t.total_frames(), 0);
    EXPECT_EQ(t.current_frame(), 0);
}

TEST(movie_timeline, markers_follow_the_root_and_a_quiet_root_stands) {
    auto t = started(20, 10, movie_timeline::follow::markers);
    EXPECT_EQ(t.total_frames(), 20);
    EXPECT_TRUE(t.playing());
    t.page_loaded(1010);
    // A start-up burst: several frames at once, the latest counts.
    t.marker(0, 1100);
    t.marker(1, 1100);
    t.marker(2, 1101);
    EXPECT_EQ(t.current_frame(), 2);
    for (int i = 3; i < 20; ++i) {
        t.marker(i, 1100 + 100 * (i - 2));
        t.heartbeat(1150 + 100 * (i - 2));
        EXPECT_TRUE(t.playing()) << i;
        EXPECT_EQ(t.current_frame(), i);
    }
    const double last = 1100 + 100 * 17;
    t.heartbeat(last + 390);
    EXPECT_TRUE(t.playing()) << "within the quiet time";
    t.heartbeat(last + 410);
    EXPECT_FALSE(t.playing());
    EXPECT_EQ(t.current_frame(), 19);
    // Starting again (a loop, or Play) brings it back.
    t.marker(0, last + 300);
    EXPECT_TRUE(t.playing());
    EXPECT_EQ(t.current_frame(), 0);
}

TEST(movie_timeline, slow_movies_wait_longer_and_fast_ones_not_less_than_the_floor) {
    auto slow = started(5, 2, movie_timeline::follow::markers);  // 500 ms per frame
    slow.marker(0, 1000);
    slow.heartbeat(2200);
    EXPECT_TRUE(slow.playing()) << "1.2 s is less than 2.5 frames of 500 ms";
    slow.heartbeat(2300);
    EXPECT_FALSE(slow.playing());

    auto fast = started(100, 60, movie_timeline::follow::markers);
    fast.marker(0, 1000);
    fast.heartbeat(1350);
    EXPECT_TRUE(fast.playing()) << "rendering jitter at 60 fps is not a stop";
    fast.heartbeat(1450);
    EXPECT_FALSE(fast.playing());
}

TEST(movie_timeline, a_page_that_is_not_running_never_looks_stopped) {
    auto t = started(20, 10, movie_timeline::follow::markers);
    t.marker(4, 1100);
    // No heartbeat arrives (page suspended, or our thread was busy): however
    // long that lasts in our own time, the page's clock has not moved.
    EXPECT_TRUE(t.playing());
    EXPECT_EQ(t.current_frame(), 4);
    // Late messages from before a suspension do not move the clock back.
    t.heartbeat(1050);
    EXPECT_TRUE(t.playing());
}

TEST(movie_timeline, a_restarted_page_brings_its_own_clock) {
    auto t = started(20, 10, movie_timeline::follow::markers, 50000);
    t.marker(3, 50100);
    t.failed();
    t.page_restarted();
    // The new page counts from zero again; its times must still count.
    t.heartbeat(200);
    t.loading();
    t.handed_over(20, 10, movie_timeline::follow::markers);
    t.marker(0, 300);
    t.heartbeat(500);
    EXPECT_TRUE(t.playing());
    t.heartbeat(800);
    EXPECT_FALSE(t.playing());
}

TEST(movie_timeline, a_movie_that_never_shows_a_frame_stops_counting_as_playing) {
    auto t = started(20, 10, movie_timeline::follow::markers, 5000);
    t.page_loaded(5100);
    t.heartbeat(5000 + movie_timeline::start_timeout_ms - 1);
    EXPECT_TRUE(t.playing());
    t.heartbeat(5000 + movie_timeline::start_timeout_ms + 1);
    EXPECT_FALSE(t.playing());
}

TEST(movie_timeline, a_movie_handed_to_a_page_that_was_quiet_long_gets_its_whole_start_time) {
    // The page said nothing for a minute (its movie stood); the next movie's
    // start time-out counts from the page's first word about it, not from
    // the last time we heard the page.
    auto t = started(20, 10, movie_timeline::follow::markers, 1000);
    t.page_took_over(61000);
    t.heartbeat(61100);
    EXPECT_TRUE(t.playing());
    t.heartbeat(61000 + movie_timeline::start_timeout_ms + 1);
    EXPECT_FALSE(t.playing());
    // The page's heartbeat covers what the judgement needs.
    EXPECT_EQ(movie_timeline::quiet_ms(10), movie_timeline::min_quiet_ms);
    EXPECT_EQ(movie_timeline::quiet_ms(2), 1250);
    EXPECT_EQ(movie_timeline::watch_ms(100, 10, movie_timeline::follow::clock), 9900 + 400);
}

TEST(movie_timeline, markers_of_a_new_movie_start_from_scratch_and_stray_indexes_are_capped) {
    auto t = started(20, 10, movie_timeline::follow::markers);
    t.marker(15, 1100);
    t.loading();
    t.handed_over(5, 10, movie_timeline::follow::markers);
    EXPECT_EQ(t.current_frame(), 0);
    EXPECT_EQ(t.total_frames(), 5);
    t.marker(9, 1200);
    EXPECT_EQ(t.current_frame(), 4);
    t.marker(-1, 1300);
    EXPECT_EQ(t.current_frame(), 4);
}

TEST(movie_timeline, clock_mode_plays_the_frames_once_at_the_header_rate) {
    auto t = started(10, 10, movie_timeline::follow::clock, 0);
    EXPECT_TRUE(t.playing());
    EXPECT_EQ(t.current_frame(), 0);
    t.marker(7, 50);  // markers mean nothing here
    EXPECT_EQ(t.current_frame(), 0);
    t.page_loaded(100);
    t.heartbeat(100 + 450);
    EXPECT_EQ(t.current_frame(), 4);
    EXPECT_TRUE(t.playing());
    t.heartbeat(100 + 900 + 390);
    EXPECT_EQ(t.current_frame(), 9);
    EXPECT_TRUE(t.playing());
    t.heartbeat(100 + 900 + 410);
    EXPECT_EQ(t.current_frame(), 9);
    EXPECT_FALSE(t.playing());
}

TEST(movie_timeline, odd_header_rates_do_not_break_the_arithmetic) {
    auto zero = started(3, 0, movie_timeline::follow::clock, 0);
    zero.page_loaded(0);
    zero.heartbeat(100);
    EXPECT_TRUE(zero.playing());
    EXPECT_GE(zero.current_frame(), 0);
    auto empty = started(0, 10, movie_timeline::follow::clock, 0);
    empty.page_loaded(0);
    empty.heartbeat(10000);
    EXPECT_EQ(empty.current_frame(), 0);
    EXPECT_FALSE(empty.playing());
}

}  // namespace
}  // namespace mirvo::player
