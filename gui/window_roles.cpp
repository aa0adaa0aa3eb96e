#include "gui/window_roles.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace mirvo {

namespace {
// Qt's X11 window type override, read when the window's flags are applied:
// its bit for _NET_WM_WINDOW_TYPE_NORMAL, put before the type the flags give.
const char* const x11_window_type_property = "_q_xcb_wm_window_type";
constexpr int x11_normal_window = 0x000001;

struct free_reply {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using reply = std::unique_ptr<T, free_reply>;

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    reply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return r ? r->atom : XCB_ATOM_NONE;
}
}  // namespace

bool window_manager_keeps_windows_on_top() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return true;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t supported = atom(c, "_NET_SUPPORTED");
    const xcb_atom_t above = atom(c, "_NET_WM_STATE_ABOVE");
    if (!screen || supported == XCB_ATOM_NONE || above == XCB_ATOM_NONE) return false;
    reply<xcb_get_property_reply_t> list(
        xcb_get_property_reply(c, xcb_get_property(c, 0, screen->root, supported, XCB_ATOM_ATOM, 0, 4096), nullptr));
    if (!list || list->format != 32) return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(list.get()));
    const int n = xcb_get_property_value_length(list.get()) / 4;
    for (int i = 0; i < n; ++i)
        if (atoms[i] == above) return true;
    return false;
}

void present_as_main_window(QWidget* window) {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
    window->winId();  // the native window, not yet shown
    QWindow* handle = window->windowHandle();
    if (!handle) return;
    handle->setProperty(x11_window_type_property, x11_normal_window);
    // The override takes effect when flags are applied; Qt skips setting
    // flags that did not change.
    const Qt::WindowFlags flags = handle->flags();
    handle->setFlags(flags ^ Qt::WindowContextHelpButtonHint);
    handle->setFlags(flags);
}

}  // namespace mirvo
