// new_message_form: the new-message notice. An always-on-top box with two
// links (the user's messages, the friend search) that slides up from the
// bottom-right corner of the work area, rests for three seconds and slides
// back down. The lesson window creates it once and shows it whenever messages
// wait; it hides itself.
#pragma once

#include "client/forms/notice_slide.h"

#include <QBasicTimer>
#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class new_message_form;
}

namespace mirvo {

class CHtmlStatic;

// The screen's work area (tests give their own).
using work_area_source = std::function<screen_rect()>;

class new_message_form : public QDialog {
    Q_OBJECT
public:
    explicit new_message_form(QWidget* owner, work_area_source work_area = {});
    ~new_message_form() override;

    // One tick of the slide (timer 1 calls it every 30 ms).
    void slide_tick();
    bool sliding() const { return slide_timer_.isActive(); }

    CHtmlStatic* message_link() const;
    CHtmlStatic* friends_link() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    screen_rect area() const;

    std::unique_ptr<Ui::new_message_form> ui_;
    work_area_source work_area_;
    notice_slide slide_;
    QBasicTimer slide_timer_;
};

}  // namespace mirvo
