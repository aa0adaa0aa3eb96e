#include "tests/support/ui_fakes.h"

#include <chrono>
#include <thread>

namespace mirvo::testing {

std::vector<std::size_t> event_log::find(const std::string& e) const {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < events.size(); ++i)
        if (events[i] == e) at.push_back(i);
    return at;
}

void recording_status_line::set_text(const std::string& gbk) {
    texts.push_back(gbk);
    if (log_) log_->add("text:" + gbk);
}

void recording_status_line::repaint() {
    ++repaints;
    painted = texts.empty() ? std::string() : texts.back();
    if (log_) log_->add("repaint:status");
}

void recording_progress_bar::set_range(int lo, int hi) {
    low = lo;
    high = hi;
    if (log_) log_->add("range:" + std::to_string(lo) + "," + std::to_string(hi));
}

void recording_progress_bar::set_pos(int p) {
    if (p == pos_ + 1) ++steps;
    pos_ = p;
    if (log_) log_->add("pos:" + std::to_string(p));
}

void recording_progress_bar::set_visible(bool v) {
    visible = v;
    if (log_) log_->add(v ? "show" : "hide");
}

void recording_progress_bar::repaint() {
    ++repaints;
    if (log_) log_->add("repaint:bar");
}

recording_pump::recording_pump(event_log* log, bool sleeps) : log_(log), sleeps_(sleeps) { set_message_pump(this); }

recording_pump::~recording_pump() { set_message_pump(nullptr); }

bool recording_pump::drain() {
    ++drains;
    if (log_) log_->add("pump");
    if (on_drain) on_drain();
    return !ending();
}

void recording_pump::wait(double ms) {
    waits.push_back(ms);
    if (sleeps_) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

}  // namespace mirvo::testing
