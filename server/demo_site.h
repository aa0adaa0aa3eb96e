// The demo: a site folder with generated movies, pages, version documents and
// download lists, and a database with users, messages and the catalogue.
#pragma once

#include "common/sign/sign.h"
#include "common/sign/update_identity.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mirvo::server {

struct demo_options {
    std::string site;                        // native path; created when missing
    std::string db;                          // the database: a file's native path or a postgresql:// URI
    std::string program_path;                // the demo program's binary; empty: look beside this program
    std::string base_url;                    // the address the service is reached at, for ad links
    unsigned iterations = 0;                 // PBKDF2 iterations; 0 = default
    std::optional<private_key> signing_key;  // signs the download lists; none: unsigned
};

struct demo_user {
    std::string name;      // UTF-8, as printed
    std::string password;  // as typed at the login
};
const std::vector<demo_user>& demo_users();

// The demo program of the catalogue and its installed version.
constexpr const char* demo_program_file = "mdemo.exe";
constexpr const char* demo_program_version = "1.0";

// The movies (site paths) that the demo's lessons list but the site leaves
// out: a lesson waits at such a movie until ">>" is pressed.
std::vector<std::string> demo_missing_movies();

// Lays out the site and fills the database. say gets progress lines (UTF-8).
bool init_demo(const demo_options& o, std::string& error, const std::function<void(const std::string&)>& say);

// Writes a file below the site, atomically. rel uses "/" separators.
bool write_site_file(const std::string& site, const std::string& rel, const std::string& bytes);

// Puts the client's release files on the site (dl/client/mirvo,
// dl/client/help/help.htm and the updater as dl/mupdate.new), taken from a
// built program folder (native path), for publish_client_version to list.
bool stage_client_files(const std::string& site, const std::string& client_folder, std::string& error);

// Publishes client version `version` (e.g. "3.9") on the site: the version
// document "/mirvo.xml" with message (UTF-8) as its prompt text, and the
// download list "/dl/download.xml" that starts the client again. When the
// site holds the client's release files the list installs them, offers the
// updater's self-update and records the version by fetching "/mirvo.xml"
// once everything is in place; otherwise it installs only the version
// document. The list is written first, so a client that sees the new
// version always finds the list. Every entry carries its file's digest and
// size, the list names the client and the version; with a key the list and
// the version document are signed ("/dl/download.xml.sig",
// "/mirvo.xml.sig"), without one signatures left from before are removed.
// The version document carries the time it was published.
bool publish_client_version(const std::string& site, const std::string& version, const std::string& message,
                            const std::optional<private_key>& key, std::string& error);

// Publishes version `version` of the demo program: its version document
// "/mdemo.xml" and the download list "/dl/download_mdemo.xml" that installs
// the program and then records the version, with digests, sizes, target,
// version and signatures as for the client. A client with an older version offers the update when the
// program is started.
bool publish_program_version(const std::string& site, const std::string& version, const std::optional<private_key>& key,
                             std::string& error);

// One file of a download list.
struct list_file {
    std::string get_name;  // below the site, "/"-separated
    std::string save_as;   // below the program folder, "\"-separated
    std::string sha256;    // the file's digest; empty: none given
    std::string size;      // the file's size in bytes; empty: none given
};
// The download list text for these files, naming what it installs. The
// digest and size are the last attributes of their tag, and the target and
// version elements of their own, so an updater that does not know them
// reads the rest as ever.
std::string download_list(const list_identity& identity, const std::vector<list_file>& files,
                          const std::string& version_file, const std::string& run_after,
                          const std::string& message_gbk);

}  // namespace mirvo::server
