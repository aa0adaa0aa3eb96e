// The updater's work, from the window's first paint to its end: find a server,
// read the download list the client left, install the listed files (the
// updater's own file apart), remove the list, start the client again and
// report. Qt-free: it talks to its window through update_window, so tests run
// it against a fake one.
#pragma once

#include "common/sign/sign.h"
#include "common/ui/status.h"
#include "updater/probe.h"

#include <optional>
#include <string>

namespace mirvo {

// The updater's own file in the program folder on this platform. An entry to
// be saved under this name is the updater's self-update: the running program
// cannot be replaced, so the new one waits in the entry's download folder
// until the client's next login takes it over.
#ifdef _WIN32
inline constexpr const char* updater_file_name = "mupdate.exe";
#else
inline constexpr const char* updater_file_name = "mupdate";
#endif

// What the procedure asks of its window. Texts are GBK.
class update_window {
public:
    virtual ~update_window() = default;
    virtual status_line& status() = 0;
    virtual progress_bar& progress() = 0;
    // Shows the window and paints it at once: the long work that follows
    // paints only what it changes.
    virtual void show_now() = 0;
    virtual void set_caption(const std::string& text) = 0;
    // A modal box with an OK button and the program's name as its caption.
    virtual void message_box(const std::string& text) = 0;
    // Starts a program without arguments, in the program folder. False when
    // it could not be started.
    virtual bool start_program(const std::string& path, const std::string& program_folder) = 0;
};

enum class update_end {
    no_folder,      // the current folder could not be read: nothing touched
    no_server,      // no candidate answered: the list is kept, nothing started
    no_list,        // the list is missing or empty: nothing started
    refused,        // the list is not signed with the key, or is broken: nothing started
    wrong_target,   // a signed list for another program than the one handed over
    older_version,  // a signed list of an older version than the one installed
    cancelled,      // the user closed the window: what was installed is whole
    processed,      // the list was worked through and removed
};

struct update_result {
    update_end end = update_end::processed;
    std::string server_base_url;  // empty when no candidate answered
    int installed = 0;            // entries put in place, the updater's own included
    int failed = 0;               // entries not installed, the three kinds below together
    int failed_downloads = 0;     // no file arrived (or none of a sane size, in time)
    int failed_checks = 0;        // the file is not the one the list's digest names
    int failed_copies = 0;        // the file could not be put where the list says
    bool version_file_fetched = false;
    bool version_recorded = false;  // a signed list's version stands in its version record
    bool program_started = false;
};

// Runs the whole procedure once. The program folder is the current folder.
// With a list key, the list is read only when dl/download.xml.sig beside it
// holds that key's signature of it; an unsigned or altered list is reported
// as no update at all. A signed list must name its target and version: one
// for another target than dl/download.xml.target names, or older than the
// version recorded for its target, is refused; once every entry is in place
// its version is recorded from the list (the version file only confirms
// it). A file entry's sha256, when the list gives one, is checked before
// the file is put in place, key or no key. A transfer_cancel around the call
// that is cancelled ends the work after the entry in hand.
update_result run_update(update_window& window, const probe_candidates& candidates,
                         const std::optional<public_key>& list_key = std::nullopt);

}  // namespace mirvo
