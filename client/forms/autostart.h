// The settings form's one setting: whether the client starts when its user
// logs on. The setting is the presence of an XDG autostart entry in the
// user's own autostart folder (the program folder belongs to one user, so a
// system-wide entry would start it for everybody). Paths here are native.
#pragma once

#include <string>

namespace mirvo {

// The entry's file name (UTF-8).
inline constexpr char autostart_file_name[] = "Mirvo学习娱乐空间.desktop";

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when that variable is
// unset, empty or not absolute; empty when not even the home folder is known.
std::string autostart_folder();
// The entry's full path; empty when the folder is unknown.
std::string autostart_entry_path();
bool autostart_entry_exists();

// One argument of an Exec line, quoted and escaped as desktop entries want it.
std::string desktop_exec_argument(const std::string& arg);
// The entry that starts executable in folder.
std::string autostart_entry_text(const std::string& executable, const std::string& folder);
// The entry an installation puts into the desktop's menus: the same start,
// with the icon (a theme icon's name), a comment and the menu's category.
std::string application_entry_text(const std::string& executable, const std::string& folder, const std::string& icon);

struct autostart_result {
    bool saved = false;  // the entry was written or removed as asked
    std::string folder;  // where it was to be written or removed
};
// Writes the entry (on) or removes it (off; a missing entry is no error).
autostart_result save_autostart(bool on, const std::string& executable, const std::string& folder);

}  // namespace mirvo
