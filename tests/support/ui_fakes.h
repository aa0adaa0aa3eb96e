// Recording stand-ins for the status line, the progress bar and the message
// pump. They share one event log so tests can check what happened in which
// order (a pump before every read, a repaint after every text...).
#pragma once

#include "common/ui/status.h"

#include <functional>
#include <string>
#include <vector>

namespace mirvo::testing {

// Events as short texts: "text:<gbk>", "repaint:status", "range:<lo>,<hi>",
// "pos:<n>", "show", "hide", "repaint:bar", "pump".
struct event_log {
    std::vector<std::string> events;
    void add(std::string e) { events.push_back(std::move(e)); }
    // Indices of events equal to e.
    std::vector<std::size_t> find(const std::string& e) const;
    std::size_t count(const std::string& e) const { return find(e).size(); }
};

class recording_status_line : public status_line {
public:
    explicit recording_status_line(event_log* log = nullptr) : log_(log) {}
    void set_text(const std::string& gbk) override;
    void repaint() override;

    // The text set last, empty before the first.
    std::string last() const { return texts.empty() ? std::string() : texts.back(); }

    std::vector<std::string> texts;  // every text set, in order (GBK)
    int repaints = 0;
    std::string painted;  // the text shown at the last repaint

private:
    event_log* log_;
};

class recording_progress_bar : public progress_bar {
public:
    explicit recording_progress_bar(event_log* log = nullptr) : log_(log) {}
    void set_range(int low, int high) override;
    void set_pos(int pos) override;
    int pos() const override { return pos_; }
    void set_visible(bool visible) override;
    void repaint() override;

    int low = 0, high = 100;
    int pos_ = 0;
    bool visible = false;
    int repaints = 0;
    int steps = 0;  // set_pos calls that moved the bar forward by exactly one

private:
    event_log* log_;
};

// Counts drains and records waits; installs itself as the process's pump for
// its lifetime. A wait sleeps unless sleeps is false.
class recording_pump : public message_pump {
public:
    explicit recording_pump(event_log* log = nullptr, bool sleeps = true);
    ~recording_pump() override;
    bool drain() override;
    void wait(double ms) override;
    bool ending() const override { return quit_after_drains >= 0 && drains >= quit_after_drains; }

    int drains = 0;
    std::vector<double> waits;  // the milliseconds asked for, in order
    // From this many drains on, drain() says a quit was requested (never when
    // negative).
    int quit_after_drains = -1;
    // Runs at every drain, as an event handler would (a click on a close box).
    std::function<void()> on_drain;

private:
    event_log* log_;
    bool sleeps_;
};

}  // namespace mirvo::testing
