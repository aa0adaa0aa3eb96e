#include "client/forms/notice_slide.h"

namespace mirvo {

namespace {
int right_place(const screen_rect& area, int w) { return area.x + area.width - w - notice_slide::right_margin; }
int area_bottom(const screen_rect& area) { return area.y + area.height; }
}  // namespace

screen_rect notice_slide::start_place(const screen_rect& area, int w, int h) {
    return {right_place(area, w), area_bottom(area) - bottom_margin, w, h};
}

void notice_slide::start(int window_height) {
    offset_ = window_height;
    steps_left_ = 2 * window_height;
    rest_left_ = rest_ticks;
}

notice_slide::step notice_slide::tick(const screen_rect& area, int w, int h) {
    step s;
    if (steps_left_ <= 0) {
        s.hide = true;
        return s;
    }
    if (offset_ == 0) {
        // Resting at the top; the last tick of the rest starts the way down.
        if (--rest_left_ <= 0) offset_ = 1;
        return s;
    }
    s.move = true;
    s.place = {right_place(area, w), area_bottom(area) - h - bottom_margin + offset_, w, h};
    if (rest_left_ != 0)
        --offset_;
    else
        ++offset_;
    if (--steps_left_ <= 0) s.hide = true;
    return s;
}

}  // namespace mirvo
