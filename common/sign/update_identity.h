// What a signed download list says it installs (the client or a catalogue
// program, and which version), where each of them records the version
// installed, and the date a signed version document carries. With these the
// updater refuses a list for another program or an older version, and the
// client can tell a version document that has gone stale.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace mirvo {

// The target the client's own lists name; a catalogue program's lists name
// its file name (e.g. "mdemo.exe").
inline constexpr const char* client_target = "mirvo";

struct list_identity {
    std::string target;   // client_target or a program's file name
    std::string version;  // digits and dots, e.g. "3.9"
};

// A version as the service writes one: digits with dots between them.
bool is_version_text(std::string_view text);

// The list's update_target and update_version elements; nullopt when one is
// missing or the version is no version text. Older updaters do not look for
// these elements, so lists that carry them work there as before.
std::optional<list_identity> read_list_identity(const std::string& list_text);
// The elements that name identity in a list.
std::string list_identity_elements(const list_identity& identity);

// The client hands the target the user agreed to update over beside the
// list: dl\download.xml + this suffix holds it.
inline constexpr const char* expected_target_suffix = ".target";

// Where a target keeps its installed version: the client in "\mirvo.xml",
// element mirvo; a program "name.ext" in "\name.xml", element version.
struct version_record {
    std::string path;     // below the program folder, beginning with "\"
    std::string element;  // the element holding the version
};
version_record version_record_of(const std::string& target);
// The record's text for version, as the service's version documents have it.
std::string version_record_text(const version_record& record, const std::string& version);

// A signed version document carries the time it was signed in this element
// ("2026-05-01T08:00:00Z", UTC); a document older than the client allows may
// be one someone keeps serving to hold newer releases back.
inline constexpr const char* signed_date_element = "published";
std::string signed_date_text(std::time_t when);
// The time of a signed_date_text; nullopt for anything else.
std::optional<std::time_t> parse_signed_date(std::string_view text);

}  // namespace mirvo
