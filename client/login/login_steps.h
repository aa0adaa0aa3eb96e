// The login's conversation with the service, step by step, without windows:
// server selection, updater take-over, version check, the login request.
#pragma once

#include <string>
#include <vector>

namespace mirvo {

// Days a signed version document may be old before the client says so.
inline constexpr int update_max_age_days = MIRVO_UPDATE_MAX_AGE_DAYS;

// The updater's file name in the program folder ("\mupdate"), and where a
// freshly downloaded updater waits ("\dl\mupdate").
inline constexpr const char* updater_relative_path = "\\mupdate";
inline constexpr const char* waiting_updater_relative_path = "\\dl\\mupdate";

// The three server base URLs the program may use, decoded from their coded
// string resources, in the order they are tried.
std::vector<std::string> coded_server_candidates();

// The first candidate whose "/testinternet.txt" is exactly string 260, or the
// empty text when none answers that way.
std::string first_answering_server(const std::vector<std::string>& candidates);

// When folder\dl\mupdate exists it replaces folder\mupdate (replace-and-rename,
// so the old updater stays whole if the copy fails) and is then deleted. The
// copy in dl is kept when the copy failed, for the next login to try again.
// True when an updater was taken over.
bool take_over_updater(const std::string& folder);

class progress_bar;
class status_line;

// Fetches the download list base + remote_list (e.g. "/dl/download.xml")
// into folder + remote_list, in place of any list (and signature, and target
// note) there before. With an update key, its signature remote_list + ".sig"
// is fetched beside it and the list is kept only when it is signed with that
// key: an unsigned or altered list is removed, so the updater finds none and
// says so. True when a list stands (checked, or fetched without a key).
bool fetch_download_list(progress_bar* progress, status_line* status, const std::string& base_url,
                         const std::string& folder, const std::string& remote_list);

// Leaves beside the handed-over list (folder\dl\download.xml) the target
// the user agreed to update: the client, or a program by its file name. The
// updater refuses a signed list for any other.
void note_expected_target(const std::string& folder, const std::string& target);

// The installed client's version as folder\mirvo.xml records it (the updater
// writes it from the signed list it installed); a file grown beyond any
// version document's size is not read and records nothing.
std::string recorded_client_version(const std::string& folder);

struct version_check {
    bool newer = false;  // the server's version is above the installed one
    std::string prompt;  // the server document's show_message
    // With an update key: the server's document is not signed with it, or
    // was signed longer ago than the allowed age. Someone may be serving an
    // old one to keep newer releases from the user.
    bool stale = false;
    int age_days = -1;  // days since it was signed; -1 when it is not (validly) signed
};
// Compares the server's "/mirvo.xml" with the version recorded in
// folder\mirvo.xml, both read as single-precision numbers (1.10 reads as
// 1.1). With an update key, also checks "/mirvo.xml.sig" and the date the
// document carries against max_age_days.
version_check check_version(const std::string& base_url, const std::string& folder,
                            int max_age_days = update_max_age_days);

// A caption note for a stale check ("" when it is not stale).
std::string stale_versions_note(const version_check& check);

// base + "/" + page + "?user=" + the percent-encoded user + "&password=" +
// digit_encode(password) + "&action=login". Pumps events while the password
// is coded.
std::string login_request_url(const std::string& base_url, const std::string& request_page, const std::string& user,
                              const std::string& password);

enum class login_outcome {
    no_answer,  // no user_login in the reply (no reply, wrong page)
    accepted,   // user_login is exactly "ok"
    refused,    // any other user_login value
};
login_outcome read_login_reply(const std::string& reply);

}  // namespace mirvo
