#include "client/forms/new_message_form.h"

#include "client/controls/html_static.h"
#include "client/login/session.h"
#include "client/res/string_ids.h"
#include "client/res/string_table.h"
#include "gui/window_roles.h"
#include "ui_new_message_form.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QShowEvent>
#include <QTimerEvent>

namespace mirvo {

new_message_form::new_message_form(QWidget* owner, work_area_source work_area)
    : QDialog(owner), ui_(std::make_unique<Ui::new_message_form>()), work_area_(std::move(work_area)) {
    ui_->setupUi(this);
    // It comes up every 70 s while a message is unread, over a lesson or
    // the catalogue the user is typing in: it must never take the keyboard
    // or the activation from anyone. Clicks on its links and its close box
    // still reach it. A tool window, which window managers do not hand the
    // focus as they map it, as many do with a dialog.
    Qt::WindowFlags flags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
    // A window manager that cannot keep a window above the others (weston's
    // for X programs) places windows itself and ignores every move: the box
    // would sit still wherever it put it. Past the window manager the box
    // stands where it is put, slides and stays on top, without the caption
    // the window manager would draw.
    if (!window_manager_keeps_windows_on_top()) flags |= Qt::BypassWindowManagerHint;
    setWindowFlags(flags);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(size());
    setModal(false);

    const screen_rect start = notice_slide::start_place(area(), frameGeometry().width(), frameGeometry().height());
    move(start.x, start.y);

    const std::string& base = session().server_base_url;
    message_link()->SetLinkColours(colour_blue, true, colour_blue);
    message_link()->SetHyperlinkText(load_string(str::new_messages), base + "/gonggao.htm");
    friends_link()->SetLinkColours(colour_blue, true, colour_blue);
    friends_link()->SetHyperlinkText(load_string(str::make_friends), base + "/searchfriend.aspx");
}

new_message_form::~new_message_form() = default;

CHtmlStatic* new_message_form::message_link() const { return ui_->message_link; }
CHtmlStatic* new_message_form::friends_link() const { return ui_->friends_link; }

screen_rect new_message_form::area() const {
    if (work_area_) return work_area_();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    const QRect r = screen->availableGeometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

void new_message_form::showEvent(QShowEvent* event) {
    // Every showing starts the slide again from the bottom; a show while the
    // window is up reaches no handler at all.
    if (!event->spontaneous()) {
        slide_timer_.start(notice_slide::period_ms, this);
        slide_.start(frameGeometry().height());
    }
    QDialog::showEvent(event);
}

void new_message_form::hideEvent(QHideEvent* event) {
    // Closed by the user: the next showing starts afresh.
    if (!event->spontaneous()) slide_timer_.stop();
    QDialog::hideEvent(event);
}

void new_message_form::timerEvent(QTimerEvent* event) {
    if (event->timerId() != slide_timer_.timerId()) {
        QDialog::timerEvent(event);
        return;
    }
    slide_tick();
}

void new_message_form::keyPressEvent(QKeyEvent* event) {
    // Enter ends the box like Escape does, though it has no button to press.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void new_message_form::slide_tick() {
    const QRect frame = frameGeometry();
    const notice_slide::step s = slide_.tick(area(), frame.width(), frame.height());
    if (s.move) move(s.place.x, s.place.y);
    if (s.hide) {
        slide_timer_.stop();
        hide();
    }
}

}  // namespace mirvo
