#include "client/forms/message_form.h"

#include "gui/qt_text.h"
#include "ui_message_form.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

namespace mirvo {

message_form::message_form(QWidget* owner) : QDialog(owner), ui_(new Ui::message_form) {
    ui_->setupUi(this);
    // A caption but no system menu and no close box; above all other windows.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setFixedSize(size());
    setModal(false);
}

message_form::~message_form() = default;

QLabel* message_form::status() const { return ui_->status_label; }

void message_form::set_status_text(const std::string& gbk) { ui_->status_label->setText(qstr(gbk)); }

void message_form::show_now() {
    // Centred on the screen, not over the owner: the frame is still hidden
    // at start-up and already hidden when it closes.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    activateWindow();
    repaint();
}

void message_form::set_cancel_handler(std::function<void()> cancel) {
    cancel_ = std::move(cancel);
    setWindowFlags(windowFlags() | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

void message_form::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (cancel_) cancel_();
}

void message_form::reject() {
    if (cancel_) cancel_();
}

}  // namespace mirvo
