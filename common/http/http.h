// Page fetch and file download over libcurl. Both run on the calling (user
// interface) thread and pump its events while the network is quiet, so the
// windows stay painted and can be closed; a quit requested meanwhile, or a
// cancel (transfer_cancel), ends the transfer as failed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
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

// Bytes a downloaded file may have when its list names no size: far more
// than any file the service publishes, far less than a disk.
inline constexpr std::uint64_t default_download_cap = 512ull << 20;

// The bounds of one file download.
struct download_limits {
    // The file as stored (after any expansion of a compressed reply) has at
    // most this many bytes; a reply that declares or brings more is refused
    // and leaves nothing behind.
    std::uint64_t max_bytes = default_download_cap;
    // Asks for the bytes as the server keeps them: a file whose digest is
    // checked has nothing to gain from a compressed transfer, and an
    // expansion could only cost disk before the check refuses it.
    bool uncompressed = false;
    // A download that breaks off keeps what arrived beside the file
    // (partial_download_path), and the next one asks only for the rest
    // with a Range request. For files whose digest is checked once whole:
    // two pieces joined are taken only when the whole is what was asked for.
    bool resumable = false;
};

// Fetches base_url + "/" + remote_path into local_root + "\\" + remote_path,
// creating folders on the way, showing its texts on status and one progress
// step per read. A remote path that would climb out of local_root, or a
// folder on the way that is a link leading out of it, is refused.
int http_download_file(progress_bar* progress, const std::string& base_url, const std::string& remote_path,
                       const std::string& local_root, status_line* status,
                       download_variant variant = download_variant::client);
int http_download_file(progress_bar* progress, const std::string& base_url, const std::string& remote_path,
                       const std::string& local_root, status_line* status, download_variant variant,
                       const download_limits& limits);

// Where a resumable download of local_root + "\\" + remote_path keeps
// what it has so far.
std::string partial_download_path(const std::string& local_root, const std::string& remote_path);
// Removes every kept partial download below the folder: once an update is
// complete there is nothing left to resume. Links are not followed.
int remove_partial_downloads(const std::string& gbk_folder);

// Creates every missing level of path ("/" and "\\" both separate levels).
void make_directory_path(const std::string& path, status_line* status,
                         download_variant variant = download_variant::client);

// Every transfer gives up when it cannot connect within `connect` or when no
// byte arrives for `stall`; a page fetch after `total`, a file download
// after `download_total`, or sooner when its bytes come slower than
// `low_speed_bytes` a second over a whole `low_speed_window`. An expiry
// counts as a transport failure.
struct transfer_timeouts {
    std::chrono::milliseconds connect{30'000};
    std::chrono::milliseconds stall{30'000};
    std::chrono::milliseconds total{90'000};
    std::chrono::milliseconds download_total{60 * 60'000};
    std::uint32_t low_speed_bytes = 1024;
    std::chrono::milliseconds low_speed_window{60'000};
};
// Tests shorten them; the defaults are those above.
void set_transfer_timeouts_for_testing(const transfer_timeouts& timeouts);
void set_transfer_timeouts_for_testing(std::chrono::milliseconds connect, std::chrono::milliseconds stall,
                                       std::chrono::milliseconds total);
void restore_transfer_timeouts();

// While one lives, the transfers of this thread can be called off: after
// cancel() the running transfer fails at its next wait and every later one
// fails at once, as when the program ends. A window whose work fetches
// pages or files holds one and cancels it when the user closes the window.
// Scopes nest; a cancelled one calls off what runs inside the inner ones too.
class transfer_cancel {
public:
    transfer_cancel();
    ~transfer_cancel();
    transfer_cancel(const transfer_cancel&) = delete;
    transfer_cancel& operator=(const transfer_cancel&) = delete;
    void cancel() { cancelled_ = true; }
    bool cancelled() const { return cancelled_; }

private:
    friend bool transfers_cancelled();
    transfer_cancel* outer_;
    bool cancelled_ = false;
};
// True when a scope around the caller was cancelled.
bool transfers_cancelled();

}  // namespace mirvo
