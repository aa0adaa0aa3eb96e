// The client's ways out to the desktop: message boxes, opening documents and
// addresses, starting programs. Everything goes through one object that tests
// replace to answer boxes and record starts instead of showing or launching.
#pragma once

#include <QStringList>

#include <string>

class QWidget;

namespace mirvo {

enum class box_kind { ok, yes_no };
enum class box_answer { ok, yes, no };

class desktop {
public:
    virtual ~desktop() = default;
    // A modal message box; texts in GBK.
    virtual box_answer message_box(QWidget* owner, const std::string& text, const std::string& caption, box_kind kind);
    // Opens a local file (GBK path in the programs' form) or an address with
    // the desktop's opener: one argument, never a shell.
    virtual bool open(const std::string& path_or_url);
    // Starts a program with an argument vector, never through a shell.
    virtual bool start_program(const std::string& program, const QStringList& args, const std::string& working_folder);
};

desktop& the_desktop();
// Replaces the desktop (nullptr restores the real one). Not owned.
void set_desktop(desktop* d);

// Opens address (GBK) when it is a web address (gui/web_address.h): with the
// desktop's opener, and when that fails with the BROWSER variable's programs
// and then xdg-open. A local file, another scheme or a program is refused.
// True when something was started.
bool open_web_address(const std::string& address);

// The application's title, the caption of its message boxes: "mirvo" unless
// the program sets its own at start-up (the updater is "mupdate").
std::string application_title();
void set_application_title(std::string title);

}  // namespace mirvo
