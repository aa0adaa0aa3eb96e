#include "client/forms/notice_slide.h"

#include <gtest/gtest.h>

#include <vector>

namespace mirvo {
namespace {

// A work area that does not start at the screen's origin (a panel at the
// top and one at the bottom), so positions are checked against its edges.
const screen_rect area{0, 24, 1280, 740};  // bottom edge at 764
constexpr int w = 249, h = 115;

struct run {
    std::vector<int> ys;  // y of every move, in order
    int moves = 0;
    int ticks = 0;  // ticks up to and including the one that hid the window
    int first_rest_tick = 0;
};

run slide_once(notice_slide& slide) {
    run r;
    slide.start(h);
    for (int t = 1; t < 10000; ++t) {
        const notice_slide::step s = slide.tick(area, w, h);
        if (s.move) {
            EXPECT_EQ(s.place.x, 1280 - w - 5);
            EXPECT_EQ(s.place.width, w);
            EXPECT_EQ(s.place.height, h);
            r.ys.push_back(s.place.y);
            ++r.moves;
        } else if (!r.first_rest_tick) {
            r.first_rest_tick = t;
        }
        if (s.hide) {
            r.ticks = t;
            break;
        }
    }
    return r;
}

TEST(NoticeSlide, RisesOnePixelPerTickRestsAHundredTicksAndSinksBackBeforeHiding) {
    const screen_rect start = notice_slide::start_place(area, w, h);
    EXPECT_EQ(start, (screen_rect{1026, 764 - 32, w, h}));

    notice_slide slide;
    const run r = slide_once(slide);
    const int rest_y = 764 - 32 - h;  // the bottom edge 32 pixels above the work area's
    ASSERT_EQ(r.moves, 2 * h);
    EXPECT_EQ(r.ticks, 2 * h + notice_slide::rest_ticks);
    EXPECT_EQ(r.first_rest_tick, h + 1);
    // Up: from one pixel above the start to one pixel below the resting
    // place; down: from there back to the start.
    EXPECT_EQ(r.ys.front(), rest_y + h);
    EXPECT_EQ(r.ys[h - 1], rest_y + 1);
    EXPECT_EQ(r.ys[h], rest_y + 1);
    EXPECT_EQ(r.ys.back(), rest_y + h);
    for (int i = 1; i < h; ++i) EXPECT_EQ(r.ys[i], r.ys[i - 1] - 1);
    for (int i = h + 1; i < 2 * h; ++i) EXPECT_EQ(r.ys[i], r.ys[i - 1] + 1);
    // At 30 ms a tick, a window 115 pixels high is up for about ten seconds.
    EXPECT_NEAR(r.ticks * notice_slide::period_ms / 1000.0, 9.9, 0.1);
}

TEST(NoticeSlide, ARestartBeginsAgainAtTheBottomAndTheAreaIsReadOnEveryTick) {
    notice_slide slide;
    slide.start(h);
    for (int i = 0; i < h + 10; ++i) slide.tick(area, w, h);
    EXPECT_TRUE(slide.resting());
    slide.start(h);
    EXPECT_EQ(slide.offset(), h);

    // The work area shrinks (a panel appears) while the window rises.
    const screen_rect smaller{0, 24, 1000, 600};
    const notice_slide::step s = slide.tick(smaller, w, h);
    ASSERT_TRUE(s.move);
    EXPECT_EQ(s.place.x, 1000 - w - 5);
    EXPECT_EQ(s.place.y, 624 - h - 32 + h);
}

TEST(NoticeSlide, NeverStartedOrEmptyItHidesAtOnce) {
    notice_slide idle;
    EXPECT_TRUE(idle.tick(area, w, h).hide);
    notice_slide flat;
    flat.start(0);
    EXPECT_TRUE(flat.tick(area, w, 0).hide);
}

}  // namespace
}  // namespace mirvo
