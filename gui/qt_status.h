// The screen interfaces of long procedures, bound to real widgets: a label as
// the status line, a QProgressBar as the progress bar; painted at once, or
// at most once per frame for procedures that report every small read.
#pragma once

#include "common/ui/status.h"
#include "gui/qt_text.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>

#include <functional>
#include <string>

namespace mirvo {

class label_status_line final : public status_line {
public:
    explicit label_status_line(QLabel* label) : label_(label) {}
    void set_text(const std::string& text) override {
        if (label_) label_->setText(qstr(text));
    }
    void repaint() override {
        if (label_) label_->repaint();
    }

private:
    QPointer<QLabel> label_;
};

class widget_progress_bar final : public progress_bar {
public:
    explicit widget_progress_bar(QProgressBar* bar) : bar_(bar) {}
    void set_range(int low, int high) override {
        if (bar_) bar_->setRange(low, high);
    }
    void set_pos(int pos) override {
        if (bar_) bar_->setValue(pos);
    }
    int pos() const override { return bar_ ? bar_->value() : 0; }
    void set_visible(bool visible) override {
        if (bar_) bar_->setVisible(visible);
    }
    void repaint() override {
        if (bar_) bar_->repaint();
    }

private:
    QPointer<QProgressBar> bar_;
};

}  // namespace mirvo

namespace mirvo {

// Paints a widget at most once per frame. A download sets a status text and
// a progress step per read, thousands of times a second; painting each one
// would cost more than the transfer. A paint asked for within a frame of the
// last is made when the frame is due, by a timer that any event pumping
// serves, so what was set last is always what ends up painted.
class paint_pacer {
public:
    explicit paint_pacer(std::function<void()> paint, int frame_ms = 16);
    // Paints at once when a frame has passed since the last paint, else
    // when it has.
    void request();
    // Paints now if a paint is waiting.
    void flush();

private:
    void paint_now();

    std::function<void()> paint_;
    int frame_ms_;
    QElapsedTimer since_last_;
    QTimer due_;
};

// A status line on a label, painted at the pace of paint_pacer. The label
// takes the text when it is painted.
class paced_label_status_line final : public status_line {
public:
    explicit paced_label_status_line(QLabel* label);
    void set_text(const std::string& text) override { text_ = text; }
    void repaint() override { pacer_.request(); }
    void flush() { pacer_.flush(); }

private:
    QPointer<QLabel> label_;
    std::string text_;
    std::string shown_;
    paint_pacer pacer_;
};

// A progress bar on a QProgressBar, painted at the pace of paint_pacer. The
// widget takes the position when it is painted; range and visibility apply
// at once.
class paced_progress_bar final : public progress_bar {
public:
    explicit paced_progress_bar(QProgressBar* bar);
    void set_range(int low, int high) override;
    void set_pos(int pos) override { pos_ = pos; }
    int pos() const override { return pos_; }
    void set_visible(bool visible) override;
    void repaint() override { pacer_.request(); }
    void flush() { pacer_.flush(); }

private:
    QPointer<QProgressBar> bar_;
    int pos_ = 0;
    paint_pacer pacer_;
};

}  // namespace mirvo
