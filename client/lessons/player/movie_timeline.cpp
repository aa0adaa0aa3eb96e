#include "client/lessons/player/movie_timeline.h"

#include <algorithm>
#include <cmath>

namespace mirvo::player {

void movie_timeline::loading() {
    phase_ = phase::fetching;
    total_ = 0;
    loaded_ = false;
    have_marker_ = false;
    latest_ = 0;
}

void movie_timeline::failed() {
    phase_ = phase::failed;
    total_ = 0;
    loaded_ = false;
    have_marker_ = false;
    latest_ = 0;
}

namespace {

// Flash plays a rate of 0 as fast as it can; clamp to what players run.
double usable_rate(double frame_rate) {
    return std::isfinite(frame_rate) && frame_rate > 0 ? std::clamp(frame_rate, 0.1, 120.0) : 12.0;
}

}  // namespace

double movie_timeline::quiet_ms(double frame_rate) {
    return std::max(quiet_intervals * 1000.0 / usable_rate(frame_rate), min_quiet_ms);
}

double movie_timeline::watch_ms(int total_frames, double frame_rate, follow mode) {
    if (mode == follow::markers) return start_timeout_ms;
    const double run_ms = (std::max(total_frames, 1) - 1) * 1000.0 / usable_rate(frame_rate);
    return std::max(start_timeout_ms, run_ms + quiet_ms(frame_rate));
}

void movie_timeline::handed_over(int total_frames, double frame_rate, follow mode) {
    phase_ = phase::started;
    mode_ = mode;
    total_ = std::max(total_frames, 0);
    rate_ = usable_rate(frame_rate);
    handed_at_ = page_now_;
    taken_over_ = false;
    loaded_ = false;
    have_marker_ = false;
    latest_ = 0;
}

void movie_timeline::see(double page_ms) {
    if (!have_page_time_ || page_ms > page_now_) page_now_ = page_ms;
    have_page_time_ = true;
}

void movie_timeline::page_took_over(double page_ms) {
    if (phase_ != phase::started || taken_over_) return;
    taken_over_ = true;
    handed_at_ = std::max(handed_at_, page_ms);
    see(page_ms);
}

void movie_timeline::page_loaded(double page_ms) {
    see(page_ms);
    if (phase_ != phase::started) return;
    loaded_ = true;
    loaded_at_ = page_ms;
}

void movie_timeline::marker(int index, double page_ms) {
    see(page_ms);
    if (phase_ != phase::started || mode_ != follow::markers || index < 0) return;
    // Ruffle may run several frames in one burst at start-up: the latest
    // marker is the frame on screen.
    have_marker_ = true;
    latest_ = total_ > 0 ? std::min(index, total_ - 1) : index;
    latest_at_ = page_ms;
}

void movie_timeline::heartbeat(double page_ms) { see(page_ms); }

void movie_timeline::page_restarted() {
    have_page_time_ = false;
    page_now_ = 0;
}

double movie_timeline::interval_ms() const { return 1000.0 / rate_; }

bool movie_timeline::playing() const {
    switch (phase_) {
        case phase::idle:
        case phase::failed:
            return false;
        case phase::fetching:
            return true;
        case phase::started:
            break;
    }
    const double quiet = quiet_ms(rate_);
    if (mode_ == follow::markers) {
        if (!have_marker_) return page_now_ - handed_at_ < start_timeout_ms;
        return page_now_ - latest_at_ < quiet;
    }
    if (!loaded_) return page_now_ - handed_at_ < start_timeout_ms;
    // Clock: the movie plays its frames once and stands on the last one.
    const double last_entered_ms = (std::max(total_, 1) - 1) * interval_ms();
    return page_now_ - loaded_at_ < last_entered_ms + quiet;
}

int movie_timeline::current_frame() const {
    if (phase_ != phase::started) return 0;
    if (mode_ == follow::markers) return have_marker_ ? latest_ : 0;
    if (!loaded_ || total_ <= 0) return 0;
    const double frames = std::floor((page_now_ - loaded_at_) / interval_ms());
    return static_cast<int>(std::clamp(frames, 0.0, static_cast<double>(total_ - 1)));
}

}  // namespace mirvo::player
