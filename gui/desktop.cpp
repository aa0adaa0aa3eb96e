#include "gui/desktop.h"

#include "common/fs/paths.h"
#include "common/text/gbk.h"
#include "gui/qt_text.h"
#include "gui/web_address.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

#include <cstdlib>

namespace mirvo {

namespace {
desktop real_desktop;
desktop* current = nullptr;

std::string& title_storage() {
    static std::string title = "mirvo";
    return title;
}

bool looks_like_address(const std::string& s) {
    auto colon = s.find("://");
    return colon != std::string::npos && colon > 0 && s.find_first_of("\\/") > colon;
}
}  // namespace

box_answer desktop::message_box(QWidget* owner, const std::string& text, const std::string& caption, box_kind kind) {
    QMessageBox box(owner);
    box.setWindowTitle(qstr(caption));
    box.setText(qstr(text));
    if (kind == box_kind::yes_no) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? box_answer::yes : box_answer::no;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return box_answer::ok;
}

bool desktop::open(const std::string& path_or_url) {
    QUrl url = looks_like_address(path_or_url) ? QUrl(qstr(path_or_url))
                                               : QUrl::fromLocalFile(QString::fromStdString(to_native(path_or_url)));
    return QDesktopServices::openUrl(url);
}

bool desktop::start_program(const std::string& program, const QStringList& args, const std::string& working_folder) {
    return QProcess::startDetached(QString::fromStdString(to_native(program)), args,
                                   QString::fromStdString(to_native(working_folder)));
}

bool open_web_address(const std::string& address) {
    if (!is_web_address(address)) return false;
    desktop& d = the_desktop();
    if (d.open(address)) return true;
    // No desktop opener here (a bare window manager, a missing handler): the
    // programs the user named, then the freedesktop opener itself.
    const char* browser = std::getenv("BROWSER");
    for (const auto& argv : browser_commands(browser ? utf8_to_gbk(browser) : std::string(), address)) {
        QStringList args;
        for (std::size_t i = 1; i < argv.size(); ++i) args << qstr(argv[i]);
        if (d.start_program(argv[0], args, "")) return true;
    }
    return false;
}

desktop& the_desktop() { return current ? *current : real_desktop; }
void set_desktop(desktop* d) { current = d; }

std::string application_title() { return title_storage(); }
void set_application_title(std::string title) { title_storage() = std::move(title); }

}  // namespace mirvo
