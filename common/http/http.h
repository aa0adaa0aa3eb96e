// Page fetch and file download over libcurl. Both run on the calling (user
// interface) thread and pump its events while the network is quiet, so the
// windows stay painted and can be closed; a quit requested meanwhile ends the
// transfer as failed.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace mirvo {

class status_line;
class progress_bar;

// Whole body of an http:// GET as text: the body on status 200, the empty text
// for any other status, a failed or cancelled transfer or a body larger than
// max_page_bytes; "0" for a URL that is not http.
std::string http_get_text(const std::string& url);
// The same, given up after time_limit (instead of the default overall cap).
std::string http_get_text(const std::string& url, std::chrono::milliseconds time_limit);

// No reply of the protocol comes near this; a body that does is read no
// further, so a hostile server cannot fill the memory.
inline constexpr std::size_t max_page_bytes = 64u << 20;

// Which program's download behaviour to use: the two differ in their header
// block and in how they report progress.
enum class download_variant { client, updater };

// Result codes of http_download_file. Whatever the result, the local path
// holds either its old content or the whole new file, never part of one.
enum download_result : int {
    download_ok = 0,
    download_bad_url_or_status = 1,  // not an http URL, or a status other than 200
    download_transport_failure = 2,  // connect/send/read failure, time-out, short or corrupt body
    download_local_failure = 3,      // the file could not be created, written or put in place
};

// Fetches base_url + "/" + remote_path into local_root + "\\" + remote_path,
// creating folders on the way, showing its texts on status and one progress
// step per read. A remote path that would climb out of local_root is refused.
int http_download_file(progress_bar* progress, const std::string& base_url, const std::string& remote_path,
                       const std::string& local_root, status_line* status,
                       download_variant variant = download_variant::client);

// Creates every missing level of path ("/" and "\\" both separate levels).
void make_directory_path(const std::string& path, status_line* status,
                         download_variant variant = download_variant::client);

// Every transfer gives up when it cannot connect within `connect`, when no
// byte arrives for `stall`, and (page fetches only) after `total`; an expiry
// counts as a transport failure. Tests shorten these; the defaults are 30 s,
// 30 s and 90 s.
void set_transfer_timeouts_for_testing(std::chrono::milliseconds connect, std::chrono::milliseconds stall,
                                       std::chrono::milliseconds total);
void restore_transfer_timeouts();

}  // namespace mirvo
