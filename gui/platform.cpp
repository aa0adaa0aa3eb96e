#include "gui/platform.h"

#include <cstdlib>
#include <string_view>
#include <vector>

namespace mirvo {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The plugin names of a list such as "wayland-egl:option;xcb".
std::vector<std::string> plugin_names(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        std::string item = list.substr(start, end - start);
        item = item.substr(0, item.find(':'));
        if (!item.empty()) names.push_back(item);
        start = end + 1;
    }
    return names;
}

bool is_wayland(std::string_view name) { return name.substr(0, 7) == "wayland"; }

}  // namespace

platform_environment read_platform_environment() {
    return {env("QT_QPA_PLATFORM"), env("WAYLAND_DISPLAY"), env("DISPLAY"), env("XDG_SESSION_TYPE")};
}

std::string choose_platform(const platform_environment& e) {
    if (!e.qt_qpa_platform.empty()) {
        bool x11 = false, wayland = false;
        for (const std::string& name : plugin_names(e.qt_qpa_platform)) {
            x11 = x11 || name == "xcb";
            wayland = wayland || is_wayland(name);
        }
        if (x11 && !wayland) return e.qt_qpa_platform + ";wayland";
        if (wayland && !x11) return e.qt_qpa_platform + ";xcb";
        return e.qt_qpa_platform;
    }
    const bool wayland_session = !e.wayland_display.empty() || e.session_type == "wayland";
    if (!wayland_session) return {};
    // Without Xwayland there is no X display to go to.
    return e.x_display.empty() ? "wayland;xcb" : "xcb;wayland";
}

platform_choice::platform_choice() {
    const platform_environment e = read_platform_environment();
    had_value_ = std::getenv("QT_QPA_PLATFORM") != nullptr;
    user_value_ = e.qt_qpa_platform;
    const std::string chosen = choose_platform(e);
    if (!chosen.empty()) setenv("QT_QPA_PLATFORM", chosen.c_str(), 1);
}

void platform_choice::restore_environment() {
    if (restored_) return;
    restored_ = true;
    if (had_value_)
        setenv("QT_QPA_PLATFORM", user_value_.c_str(), 1);
    else
        unsetenv("QT_QPA_PLATFORM");
}

}  // namespace mirvo
