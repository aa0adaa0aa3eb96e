// The screen interfaces of long procedures, bound to real widgets: a label as
// the status line, a QProgressBar as the progress bar.
#pragma once

#include "common/ui/status.h"
#include "gui/qt_text.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>

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
