// The new-message notice's slide, without its window: it rises one pixel per
// tick from behind the bottom of the work area until its bottom edge rests
// 32 pixels above it and 5 pixels from its right edge, rests there for 100
// ticks, sinks back and then hides.
#pragma once

namespace mirvo {

// A rectangle in screen pixels: the work area (the screen without the task
// bar) or a window's frame.
struct screen_rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const screen_rect&, const screen_rect&) = default;
};

class notice_slide {
public:
    static constexpr int period_ms = 30;
    static constexpr int rest_ticks = 100;
    static constexpr int right_margin = 5;
    static constexpr int bottom_margin = 32;

    // Where the window of size w by h stands before its first showing: its
    // top edge bottom_margin pixels above the bottom of the area.
    static screen_rect start_place(const screen_rect& area, int w, int h);

    // The window became visible: the slide starts again from the bottom.
    void start(int window_height);

    struct step {
        bool move = false;  // place the window at `place`
        screen_rect place;
        bool hide = false;  // the slide is over: stop the timer, hide the window
    };
    // One timer tick, with the current work area and window size.
    step tick(const screen_rect& area, int w, int h);

    int offset() const { return offset_; }
    bool resting() const { return offset_ == 0; }

private:
    int offset_ = 0;      // pixels still below the resting place
    int steps_left_ = 0;  // moving ticks before the window hides
    int rest_left_ = 0;   // ticks of the rest still to come
};

}  // namespace mirvo
