#include "gui/qt_status.h"

namespace mirvo {

paint_pacer::paint_pacer(std::function<void()> paint, int frame_ms) : paint_(std::move(paint)), frame_ms_(frame_ms) {
    due_.setSingleShot(true);
    QObject::connect(&due_, &QTimer::timeout, [this] { paint_now(); });
}

void paint_pacer::request() {
    if (!since_last_.isValid() || since_last_.elapsed() >= frame_ms_) {
        paint_now();
    } else if (!due_.isActive()) {
        due_.start(static_cast<int>(frame_ms_ - since_last_.elapsed()));
    }
}

void paint_pacer::flush() {
    if (due_.isActive()) paint_now();
}

void paint_pacer::paint_now() {
    due_.stop();
    since_last_.start();
    paint_();
}

paced_label_status_line::paced_label_status_line(QLabel* label)
    : label_(label), pacer_([this] {
          if (!label_) return;
          if (text_ != shown_) {
              shown_ = text_;
              label_->setText(qstr(shown_));
          }
          label_->repaint();
      }) {}

paced_progress_bar::paced_progress_bar(QProgressBar* bar)
    : bar_(bar), pacer_([this] {
          if (!bar_) return;
          bar_->setValue(pos_);
          bar_->repaint();
      }) {}

void paced_progress_bar::set_range(int low, int high) {
    if (bar_) bar_->setRange(low, high);
}

void paced_progress_bar::set_visible(bool visible) {
    if (!bar_) return;
    // A bar that goes shows its last position if it comes back.
    if (!visible) flush();
    bar_->setVisible(visible);
}

}  // namespace mirvo
