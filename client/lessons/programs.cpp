#include "client/lessons/programs.h"

#include "client/login/login_steps.h"
#include "client/login/session.h"
#include "client/res/string_ids.h"
#include "client/res/string_table.h"
#include "common/fs/paths.h"
#include "common/http/http.h"
#include "common/sign/sign.h"
#include "common/sign/update_identity.h"
#include "common/xmltext/xmltext.h"

namespace mirvo {

namespace {

// Programs read the credentials from their command line. With one command
// line the blank before each parameter separated it from the one before;
// given as an argument vector each parameter is an argument of its own.
constexpr const char* user_name_parameter = " user_name=";
constexpr const char* user_password_parameter = " user_password=";

constexpr std::uint64_t max_version_document_bytes = 64u << 10;

std::string without_leading_blank(const char* parameter) { return std::string(parameter + 1); }

bool is_installed(const std::string& path) { return file_exists(path) && !is_directory(path); }

// The server's version against the installed one, both as single-precision
// numbers; a missing document reads as 0.
bool newer_version_offered(const program_names& names) {
    const std::string remote_doc = http_get_text(session().server_base_url + "/" + names.version_document);
    const float remote = version_number(xml_get_value(remote_doc, "version"));
    // The installed version as the updater recorded it; a document grown
    // beyond any version document's size says nothing.
    const std::optional<std::string> local_doc =
        read_small_file(program_folder() + "\\" + names.version_document, max_version_document_bytes);
    const float local = version_number(local_doc ? xml_get_value(*local_doc, "version") : std::string());
    return remote > local;
}

// The password goes as typed: the programs read it there (and any local
// user can see it in the process list while the program runs).
void launch_program(program_window& window, const std::string& path) {
    window.launch(path,
                  {without_leading_blank(user_name_parameter) + session().user,
                   without_leading_blank(user_password_parameter) + session().password},
                  program_folder());
}

// Fetches the program's download list into dl\download.xml and starts the
// updater; the client keeps running. An earlier list is removed first, so a
// failed fetch, or a list that is not signed as the build requires, leaves
// the updater with no list rather than a stale one. The signature goes
// along: the updater checks it again.
program_start hand_over_to_updater(program_window& window, const std::string& file_name, const program_names& names) {
    const std::string& folder = program_folder();
    const std::string list = folder + "\\dl\\" + names.list_name;
    const std::string handed = folder + "\\dl\\download.xml";
    remove_file(handed);
    remove_file(handed + signature_suffix);
    remove_file(handed + expected_target_suffix);
    if (fetch_download_list(nullptr, nullptr, session().server_base_url, folder, "/dl/" + names.list_name)) {
        copy_file_atomic(list, handed);
        if (update_key()) copy_file_atomic(list + signature_suffix, handed + signature_suffix);
        note_expected_target(folder, file_name);
    }
    // Called off while the list came: the user wants nothing started.
    if (transfers_cancelled()) return program_start::cancelled;
    window.launch(folder + updater_relative_path, {}, folder);
    return program_start::handed_over;
}

program_start run_or_hand_over(program_window& window, const std::string& file_name) {
    // The name comes from the server: it names a file in the program folder
    // or nothing at all.
    if (program_folder().empty() || file_name.empty() || !is_confined(file_name)) return program_start::refused;
    const program_names names = names_of_program(file_name);
    const std::string path = *join_confined(program_folder(), file_name);
    if (is_installed(path)) {
        const bool offered = newer_version_offered(names);
        if (transfers_cancelled()) return program_start::cancelled;
        if (!offered || !window.ask_yes_no(load_string(str::new_program_version))) {
            launch_program(window, path);
            return program_start::started;
        }
    }
    return hand_over_to_updater(window, file_name, names);
}

}  // namespace

program_names names_of_program(const std::string& file_name) {
    const std::string base = file_name.size() > 4 ? file_name.substr(0, file_name.size() - 4) : std::string();
    return {base, base + ".xml", "download_" + base + ".xml"};
}

program_start start_program(program_window& window, const std::string& file_name, const std::string& online_text) {
    window.set_caption(join_strings({str::please_wait, str::online}) + online_text);
    // The service learns of every start; its reply says nothing.
    http_get_text(build_request_url("game", &file_name));
    const program_start outcome =
        transfers_cancelled() ? program_start::cancelled : run_or_hand_over(window, file_name);
    window.set_caption(load_string(str::online) + online_text);
    return outcome;
}

}  // namespace mirvo
