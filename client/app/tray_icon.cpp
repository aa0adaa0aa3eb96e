#include "client/app/tray_icon.h"

#include "client/app/main_frame.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

namespace mirvo {

namespace {
int tray_override = -1;

int mouse_message_for(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Context:
            return tray_right_button_down;
        case QSystemTrayIcon::Trigger:
            return tray_left_button_down;
        case QSystemTrayIcon::DoubleClick:
            return tray_left_double_click;
        default:
            return 0x207;  // middle button: nothing to do
    }
}
}  // namespace

void CTrayIcon::set_tray_available_for_testing(int available) { tray_override = available; }

CTrayIcon::CTrayIcon() = default;

CTrayIcon::~CTrayIcon() { remove(); }

bool CTrayIcon::PutIconInTray(CMainFrame* frame, const QIcon& icon) {
    if (!frame) return false;
    const bool available = tray_override >= 0 ? tray_override != 0 : QSystemTrayIcon::isSystemTrayAvailable();
    if (!available) return false;
    frame_ = frame;
    icon_ = std::make_unique<QSystemTrayIcon>(icon);
    icon_->setToolTip(QString::fromUtf8("mirvo学习娱乐空间"));
    QObject::connect(icon_.get(), &QSystemTrayIcon::activated, frame, [this](QSystemTrayIcon::ActivationReason reason) {
        HandleTrayMouse(tray_icon_id, mouse_message_for(reason));
    });
    icon_->show();
    enabled_ = icon_->isVisible();
    return enabled_;
}

void CTrayIcon::remove() {
    if (icon_) icon_->hide();
    icon_.reset();
    enabled_ = false;
}

int CTrayIcon::HandleTrayMouse(int id, int mouse_message) {
    if (id != tray_icon_id || !frame_) return 0;
    switch (mouse_message) {
        case tray_right_button_down:
        case tray_left_button_down: {
            menu_ = frame_->load_tray_menu();
            if (!menu_ || menu_->actions().isEmpty()) return 0;
            menu_->setDefaultAction(menu_->actions().first());  // shown bold
            const QPoint at = QCursor::pos();
            frame_->activateWindow();
            menu_->popup(at);
            return 1;
        }
        case tray_left_double_click: {
            std::unique_ptr<QMenu> menu = frame_->load_tray_menu();
            if (!menu || menu->actions().isEmpty()) return 0;
            frame_->activateWindow();
            frame_->on_command(menu->actions().first()->data().toInt());
            return 1;
        }
        default:
            return 1;
    }
}

}  // namespace mirvo
