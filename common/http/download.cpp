#include "common/fs/paths.h"
#include "common/http/http.h"
#include "common/http/transfer.h"
#include "common/text/gbk.h"
#include "common/ui/status.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string_view>

namespace mirvo {
namespace {

constexpr const char* client_header_block = "Accept: */*\r\nUser-Agent: MFC_Tear_Sample\r\n";
constexpr const char* updater_header_block =
    "Accept: image/gif, image/x-xbitmap, image/jpeg,image/pjpeg, image/png, */*\r\n"
    "Accept-Encoding: gzip\r\n"
    "Accept-Language:en, bg\r\n"
    "Accept-Charset: iso-8859-1,*,utf-8\r\n";
// The same for a file that must arrive as the server keeps it.
constexpr const char* updater_plain_header_block =
    "Accept: image/gif, image/x-xbitmap, image/jpeg,image/pjpeg, image/png, */*\r\n"
    "Accept-Encoding: identity\r\n"
    "Accept-Language:en, bg\r\n"
    "Accept-Charset: iso-8859-1,*,utf-8\r\n";

const char* header_block(download_variant variant, const download_limits& limits) {
    if (variant == download_variant::client) return client_header_block;
    return limits.uncompressed ? updater_plain_header_block : updater_header_block;
}
// Small reads keep the window responsive: events are pumped and the progress
// advances between any two of them.
constexpr std::size_t read_unit = 99;
constexpr std::size_t write_buffer_bytes = 256 * 1024;
constexpr std::uint64_t writeback_step = 4u << 20;

// Status texts, converted once from this file's UTF-8 into the programs' GBK.
// The updater says in Chinese what the client says in English.
struct download_texts {
    std::string folder_failed = utf8_to_gbk("创建目录失败!");
    std::string last_folder_failed = utf8_to_gbk("创建目录时发生错误!");
    std::string folders_done = utf8_to_gbk("完成创建目录!");
    std::string downloading_file = "Downloading file:";
    std::string updater_downloading_file = utf8_to_gbk("准备下载文件:");
    std::string downloading_tail = " ...... ";
    std::string not_http = "Error: can only use URLs beginning with http://";
    std::string updater_not_http = utf8_to_gbk("错误：只能使用以 http:// 开头的地址");
    std::string opening = "Opening Internet...";
    std::string updater_opening = utf8_to_gbk("正在连接互联网...");
    std::string too_big = utf8_to_gbk("文件超过了允许的大小: ");
    std::string connect_failed = utf8_to_gbk("连接互联网失败。");
    std::string connected = utf8_to_gbk("连接互联网成功. ");
    std::string downloading = utf8_to_gbk("正在下载文件: ");
    std::string create_failed = utf8_to_gbk("创建文件失败: ");
    std::string reading = utf8_to_gbk("正在从互联网读取数据......");
    std::string finished = utf8_to_gbk("完成下载文件:");
    std::string internet_error = utf8_to_gbk("发生互联网错误. ");
};

const download_texts& texts() {
    static const download_texts t;
    return t;
}

// The updater repaints after every text so that each one is seen, the
// folder-creation failures included; the client leaves painting to its loop.
class reporter {
public:
    reporter(status_line* line, download_variant variant) : line_(line), variant_(variant) {}
    void say(const std::string& text) const {
        if (!line_) return;
        line_->set_text(text);
        if (variant_ == download_variant::updater) line_->repaint();
    }

private:
    status_line* line_;
    download_variant variant_;
};

bool is_separator_char(std::string_view s, std::size_t i) {
    return (s[i] == '\\' || s[i] == '/') && gbk_char_len(s, i) == 1;
}

bool ensure_directory(const std::string& path) {
    return is_directory(path) || make_directory(path) || is_directory(path);
}

// The body on its way to disk: a temporary file beside the target, renamed
// over it only when the whole body has arrived, so the target never holds
// half a file. A compressed reply (gzip or deflate) is stored expanded.
class download_sink {
public:
    enum class outcome { ok, local_failure, bad_data, too_big };

    explicit download_sink(std::uint64_t max_bytes) : max_bytes_(max_bytes) {}
    ~download_sink() { discard(); }

    // Writes into a fresh temporary file; with a partial file (native path)
    // instead, into that one from resume_from on, keeping what it holds
    // before that point.
    bool open(const std::string& target, const std::string& content_encoding, const std::string& partial = {},
              std::uint64_t resume_from = 0) {
        target_ = target;
        std::size_t slash = target.rfind('/');
        std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
        // Keep the permissions of the file being replaced (a program stays executable).
        mode_t mode = 0666;
        struct stat st;
        if (::stat(target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) return false;
            mode = st.st_mode & 07777;
            keep_mode_ = true;
        }
        mode_ = mode;
        if (!partial.empty()) {
            temp_ = partial;
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode);
            if (fd_ < 0 || ::ftruncate(fd_, off_t(resume_from)) != 0 ||
                ::lseek(fd_, off_t(resume_from), SEEK_SET) != off_t(resume_from))
                return false;
            written_ = synced_ = resume_from;
        }
        static std::mt19937_64 rng{std::random_device{}()};
        for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, ".download.%d.%llx.part", int(::getpid()),
                          static_cast<unsigned long long>(rng()));
            temp_ = folder + name;
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) return false;
        buffer_ = std::make_unique<char[]>(write_buffer_bytes);

        std::string encoding = gbk_to_lower(content_encoding);
        if (encoding == "gzip" || encoding == "x-gzip") codec_ = codec::gzip;
        if (encoding == "deflate") codec_ = codec::deflate;
        return true;
    }

    outcome write(const char* data, std::size_t size) {
        if (codec_ == codec::none) return store(data, size);
        return expand(data, size);
    }

    // Checks that a compressed body was complete.
    outcome finish_body() {
        if (codec_ != codec::none && !stream_ended_) return outcome::bad_data;
        return outcome::ok;
    }

    // A broken-off download keeps what arrived, for the next one to go on
    // from; nothing is put in place.
    void keep() {
        flush();
        ::close(fd_);
        fd_ = -1;
        temp_.clear();
    }

    // Flushes, syncs and renames the file into place.
    bool commit() {
        bool ok = flush();
        ok = (::fsync(fd_) == 0) && ok;
        ok = (::close(fd_) == 0) && ok;
        fd_ = -1;
        if (ok && keep_mode_) ::chmod(temp_.c_str(), mode_);
        if (ok) ok = ::rename(temp_.c_str(), target_.c_str()) == 0;
        if (ok) temp_.clear();
        return ok;
    }

private:
    enum class codec { none, gzip, deflate };

    outcome store(const char* data, std::size_t size) {
        if (written_ + used_ + size > max_bytes_) return outcome::too_big;
        if (used_ + size > write_buffer_bytes) {
            if (!flush()) return outcome::local_failure;
            if (size > write_buffer_bytes) return write_through(data, size);
        }
        std::memcpy(buffer_.get() + used_, data, size);
        used_ += size;
        return outcome::ok;
    }

    outcome write_through(const char* data, std::size_t size) {
        while (size > 0) {
            ssize_t n = ::write(fd_, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return outcome::local_failure;
            data += n;
            size -= std::size_t(n);
        }
        return outcome::ok;
    }

    bool flush() {
        if (write_through(buffer_.get(), used_) != outcome::ok) return false;
        written_ += used_;
        used_ = 0;
        // Start the disk writes while the rest is still arriving, so that the
        // final fsync has little left to wait for.
        if (written_ - synced_ >= writeback_step) {
            ::sync_file_range(fd_, off_t(synced_), off_t(written_ - synced_), SYNC_FILE_RANGE_WRITE);
            synced_ = written_;
        }
        return true;
    }

    outcome expand(const char* data, std::size_t size) {
        if (!inflating_) {
            // gzip and zlib wrappers are told apart by their headers; some
            // servers send "deflate" as a bare stream without either.
            int bits = 15 + 32;
            if (codec_ == codec::deflate && !(size >= 2 && (data[0] & 0x0F) == 8 &&
                                              ((unsigned char)data[0] * 256 + (unsigned char)data[1]) % 31 == 0))
                bits = -15;
            if (inflateInit2(&z_, bits) != Z_OK) return outcome::local_failure;
            inflating_ = true;
        }
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        z_.avail_in = uInt(size);
        char out[16384];
        while (z_.avail_in > 0) {
            if (stream_ended_) {
                // Another gzip member may follow; anything else is trailing junk.
                if (codec_ != codec::gzip || inflateReset(&z_) != Z_OK) return outcome::ok;
                stream_ended_ = false;
            }
            z_.next_out = reinterpret_cast<Bytef*>(out);
            z_.avail_out = sizeof out;
            int rc = inflate(&z_, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return outcome::bad_data;
            std::size_t produced = sizeof out - z_.avail_out;
            if (produced > 0)
                if (const outcome stored = store(out, produced); stored != outcome::ok) return stored;
            if (rc == Z_STREAM_END)
                stream_ended_ = true;
            else if (rc == Z_BUF_ERROR && produced == 0)
                break;
        }
        return outcome::ok;
    }

    void discard() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!temp_.empty()) ::unlink(temp_.c_str());
        temp_.clear();
        if (inflating_) inflateEnd(&z_);
        inflating_ = false;
    }

    std::uint64_t max_bytes_;
    std::string target_, temp_;
    int fd_ = -1;
    mode_t mode_ = 0666;
    bool keep_mode_ = false;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t written_ = 0, synced_ = 0;
    codec codec_ = codec::none;
    z_stream z_{};
    bool inflating_ = false;
    bool stream_ended_ = false;
};

// Reads the body of a 200 reply into the local file, with the status texts,
// progress steps and event pumping of a download.
// Where the body goes: the local file, and for a resumable download the
// partial file it grows in (empty for none) and how much of it is kept.
struct body_target {
    std::string local_file;
    std::string partial;
    std::uint64_t resume_from = 0;
};

int receive_body(http_detail::transfer& request, const http_detail::parsed_url& url, const std::string& file_name,
                 const body_target& into, progress_bar* progress, status_line* status, download_variant variant,
                 const download_limits& limits) {
    const download_texts& t = texts();
    reporter out(status, variant);
    out.say(t.connected);
    long long size = request.content_length().value_or(0);
    // Refused before a byte is written: the length alone is too much.
    if (size > 0 && into.resume_from + static_cast<std::uint64_t>(size) > limits.max_bytes) {
        if (!into.partial.empty()) remove_file(into.partial);
        out.say(t.too_big + file_name);
        return download_transport_failure;
    }
    out.say(t.downloading + file_name);
    if (progress) {
        progress->set_range(0, int(std::min<long long>(size / 100, INT_MAX)));
        progress->set_pos(0);
    }

    download_sink file(limits.max_bytes);
    // Only bytes stored as they came can be continued later.
    const std::string encoding = request.header("Content-Encoding");
    const bool resumable = !into.partial.empty() && (encoding.empty() || gbk_to_lower(encoding) == "identity");
    if (!file.open(to_native(into.local_file), encoding, resumable ? to_native(into.partial) : std::string(),
                   resumable ? into.resume_from : 0)) {
        out.say(t.create_failed + url.object.substr(1));
        return download_local_failure;
    }

    out.say(t.reading);
    // The client shows the count after its reading text, the updater alone.
    std::string line = variant == download_variant::client ? t.reading : std::string();
    const std::size_t prefix = line.size();
    char piece[read_unit];
    long long reads = 0;
    for (;;) {
        // A quit or a cancel while the bytes flow ends the download as well
        // as one while the server is quiet. What arrived of a resumable one
        // is kept for the next try.
        const long n = drain_message_queue() && !transfers_cancelled() ? request.read(piece, read_unit) : -1;
        if (n < 0) {
            if (resumable) file.keep();
            out.say(t.internet_error);
            return download_transport_failure;
        }
        if (n > 0) {
            auto written = file.write(piece, std::size_t(n));
            if (written == download_sink::outcome::local_failure) {
                // The disk refused the bytes (full, or over a size limit).
                out.say(t.create_failed + url.object.substr(1));
                return download_local_failure;
            }
            if (written == download_sink::outcome::bad_data) {
                out.say(t.internet_error);
                return download_transport_failure;
            }
            if (written == download_sink::outcome::too_big) {
                out.say(t.too_big + file_name);
                return download_transport_failure;
            }
        }
        ++reads;
        if (status) {
            char digits[24];
            auto end = std::to_chars(digits, digits + sizeof digits, reads).ptr;
            line.resize(prefix);
            line.append(digits, end);
            status->set_text(line);
            status->repaint();
        }
        if (progress) {
            progress->set_pos(progress->pos() + 1);
            progress->repaint();
        }
        if (n == 0) break;
    }
    if (file.finish_body() != download_sink::outcome::ok) {
        out.say(t.internet_error);
        return download_transport_failure;
    }
    out.say(t.finished + file_name);
    if (file.commit()) return download_ok;
    // The file could not be put in place: the last word must not be that
    // the download finished.
    out.say(t.create_failed + url.object.substr(1));
    return download_local_failure;
}

// Where a download lands below its local root.
struct local_place {
    std::string folder;     // local root + "\\" + the remote path's folder part
    std::string file_name;  // the remote path's last part
};

local_place local_place_of(const std::string& local_root, const std::string& remote_path) {
    // "/dl/download.xml" -> folder "/dl", file "download.xml"; a "/" at the
    // very start does not split.
    std::size_t split = gbk_rfind_char(remote_path, '/');
    if (split == std::string::npos) split = 0;
    return {local_root + "\\" + (split ? remote_path.substr(0, split) : std::string()),
            split ? remote_path.substr(split + 1) : remote_path};
}

// A kept partial download: hidden beside the file it is to become, and
// named apart from the temporary files a killed run leaves, which are
// cleared away.
constexpr const char* partial_prefix = ".download.";
constexpr const char* partial_suffix = ".resume";

std::uint64_t partial_size(const std::string& gbk_path) {
    struct stat st;
    if (::lstat(to_native(gbk_path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

std::string range_header(std::uint64_t from) {
    return from > 0 ? "Range: bytes=" + std::to_string(from) + "-\r\n" : std::string();
}

// True when a Content-Range ("bytes FIRST-LAST/TOTAL") begins at first.
bool range_starts_at(const std::string& content_range, std::uint64_t first) {
    const std::string head = "bytes " + std::to_string(first) + "-";
    return content_range.compare(0, head.size(), head) == 0;
}

}  // namespace

void make_directory_path(const std::string& path, status_line* status, download_variant variant) {
    const download_texts& t = texts();
    reporter out(status, variant);
    // Every level is created in turn; "/" and "\" both separate levels, and a
    // doubled separator adds no level.
    bool after_separator = false;
    for (std::size_t i = path.empty() ? 0 : gbk_char_len(path, 0); i < path.size(); i += gbk_char_len(path, i)) {
        bool separator = is_separator_char(path, i);
        if (separator && !after_separator && !ensure_directory(path.substr(0, i))) {
            out.say(t.folder_failed);
            out.say(t.folders_done);
            return;
        }
        after_separator = separator;
    }
    if (!ensure_directory(path)) out.say(t.last_folder_failed);
    out.say(t.folders_done);
}

int http_download_file(progress_bar* progress, const std::string& base_url, const std::string& remote_path,
                       const std::string& local_root, status_line* status, download_variant variant) {
    return http_download_file(progress, base_url, remote_path, local_root, status, variant, download_limits{});
}

int http_download_file(progress_bar* progress, const std::string& base_url, const std::string& remote_path,
                       const std::string& local_root, status_line* status, download_variant variant,
                       const download_limits& limits) {
    const download_texts& t = texts();
    const bool updater = variant == download_variant::updater;
    reporter out(status, variant);
    if (progress) {
        progress->set_pos(0);
        progress->set_visible(true);
        progress->repaint();
    }

    // The remote path comes from the server; it must not lead outside the local root.
    if (!is_confined(remote_path)) {
        out.say(t.create_failed + remote_path);
        if (progress) progress->set_visible(false);
        return download_local_failure;
    }
    const local_place place = local_place_of(local_root, remote_path);
    const std::string& file_name = place.file_name;
    const std::string& local_folder = place.folder;
    const std::string local_file = local_folder + "\\" + file_name;
    // A folder of the way that is a link out of the local root would take
    // the file (and the folders made below it) elsewhere.
    if (!resolves_inside(local_root, local_folder)) {
        out.say(t.create_failed + remote_path);
        if (progress) progress->set_visible(false);
        return download_local_failure;
    }

    make_directory_path(local_folder, status, variant);
    out.say((updater ? t.updater_downloading_file : t.downloading_file) + file_name + t.downloading_tail);

    auto url = http_detail::parse_http_url(base_url + "/" + remote_path);
    if (!url) {
        out.say(updater ? t.updater_not_http : t.not_http);
        return download_bad_url_or_status;
    }
    out.say(updater ? t.updater_opening : t.opening);
    const std::string partial = limits.resumable ? partial_download_path(local_root, remote_path) : std::string();
    int result = download_transport_failure;
    // A kept partial file asks for the rest; a server that cannot give it
    // from there gets one more request for the whole file.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::uint64_t have = partial.empty() ? 0 : partial_size(partial);
        http_detail::transfer request(*url, {.header_block = header_block(variant, limits) + range_header(have),
                                             .cap_total_time = true,
                                             .total_time = http_detail::current_timeouts().download_total,
                                             .low_speed_limit = true,
                                             .pump_while_waiting = true});
        if (!request.start()) {
            out.say(t.internet_error);
            result = download_transport_failure;
            break;
        }
        const long code = request.status();
        if (have > 0 && (code == 416 || (code == 206 && !range_starts_at(request.header("Content-Range"), have)))) {
            remove_file(partial);
            continue;
        }
        if (code != 200 && !(code == 206 && have > 0)) {
            out.say(t.connect_failed);
            return download_bad_url_or_status;  // the bar stays up, as after a bad URL
        }
        const body_target into{local_file, partial, code == 206 ? have : 0};
        result = receive_body(request, *url, file_name, into, progress, status, variant, limits);
        break;
    }
    if (progress) progress->set_visible(false);
    return result;
}

std::string partial_download_path(const std::string& local_root, const std::string& remote_path) {
    const local_place place = local_place_of(local_root, remote_path);
    return place.folder + "\\" + partial_prefix + place.file_name + partial_suffix;
}

int remove_partial_downloads(const std::string& gbk_folder) {
    return remove_files_below(gbk_folder, [](const std::string& name) {
        return name.starts_with(partial_prefix) && name.ends_with(partial_suffix);
    });
}

}  // namespace mirvo
