#include "client/forms/autostart.h"

#include "common/fs/paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace mirvo {

namespace {

namespace fs = std::filesystem;

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// A value of type string: backslashes and line breaks escaped. (Both values
// written here begin with "/" or a quote, never with a blank.)
std::string escape_string_value(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string autostart_folder() {
    std::string config = environment("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') {
        const std::string home = environment("HOME");
        if (home.empty()) return {};
        config = home + "/.config";
    }
    return config + "/autostart";
}

std::string autostart_entry_path() {
    const std::string folder = autostart_folder();
    return folder.empty() ? std::string() : folder + "/" + autostart_file_name;
}

bool autostart_entry_exists() {
    const std::string path = autostart_entry_path();
    std::error_code ec;
    return !path.empty() && fs::exists(path, ec);
}

std::string desktop_exec_argument(const std::string& arg) {
    // Quoted, with the characters the quoting reserves escaped; "%" starts a
    // field code anywhere in the line.
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
        if (c == '%') quoted += '%';
    }
    quoted += '"';
    // The line is a string value too, unescaped before the quoting is read.
    return escape_string_value(quoted);
}

std::string autostart_entry_text(const std::string& executable, const std::string& folder) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=Mirvo学习娱乐空间\n"
           "Exec=" +
           desktop_exec_argument(executable) +
           "\n"
           "Path=" +
           escape_string_value(folder) +
           "\n"
           "Terminal=false\n";
}

std::string application_entry_text(const std::string& executable, const std::string& folder, const std::string& icon) {
    // The class the client's windows carry, so the desktop groups them
    // under this entry.
    return autostart_entry_text(executable, folder) + "Icon=" + escape_string_value(icon) +
           "\n"
           "Comment=在线学习与娱乐：课程动画和益智游戏\n"
           "Categories=Education;\n"
           "StartupWMClass=mirvo\n";
}

autostart_result save_autostart(bool on, const std::string& executable, const std::string& folder) {
    autostart_result r;
    r.folder = autostart_folder();
    if (r.folder.empty()) return r;
    const std::string path = r.folder + "/" + autostart_file_name;
    std::error_code ec;
    if (on) {
        r.saved = make_native_directories(r.folder) &&
                  write_native_file_atomic(path, autostart_entry_text(executable, folder));
    } else {
        fs::remove(path, ec);
        r.saved = !ec;
    }
    return r;
}

}  // namespace mirvo
