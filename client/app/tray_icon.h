// CTrayIcon: the frame's icon in the notification area. Mouse presses on it
// open the tray menu (233) at the cursor; a double click opens the frame.
#pragma once

#include <QIcon>
#include <QPointer>

#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace mirvo {

class CMainFrame;

// The tray's id, also the id of the tray menu.
inline constexpr int tray_icon_id = 233;

// The mouse notifications HandleTrayMouse understands.
enum tray_mouse : int {
    tray_left_button_down = 0x201,
    tray_left_double_click = 0x203,
    tray_right_button_down = 0x204,
};

class CTrayIcon {
public:
    CTrayIcon();
    // Removes the icon from the notification area if it is there.
    virtual ~CTrayIcon();

    // Puts icon into the notification area with the tip "mirvo学习娱乐空间",
    // reporting its notifications to frame. False (and no icon) where the
    // desktop has no notification area or the frame is missing.
    bool PutIconInTray(CMainFrame* frame, const QIcon& icon);
    // Takes the icon out of the notification area.
    void remove();
    bool enabled() const { return enabled_; }

    // A mouse notification for icon id. 0 when the id is not ours or the
    // menu cannot be built; 1 otherwise.
    virtual int HandleTrayMouse(int id, int mouse_message);

    // The tray menu last opened by a press on the icon (for tests).
    QMenu* last_menu() const { return menu_.get(); }
    QSystemTrayIcon* system_icon() const { return icon_.get(); }

    // Lets tests behave as if the desktop had (or lacked) a notification area.
    static void set_tray_available_for_testing(int available);  // -1: ask the desktop

private:
    QPointer<CMainFrame> frame_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::unique_ptr<QMenu> menu_;
    bool enabled_ = false;
};

}  // namespace mirvo
