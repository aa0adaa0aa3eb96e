#include "common/fs/paths.h"

#include "common/text/gbk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <vector>

namespace mirvo {

namespace {
std::string& folder_storage() {
    static std::string folder;
    return folder;
}

// A temporary name next to target, so the final rename never crosses file systems.
std::string temp_name_for(const std::string& native_target) {
    static std::mt19937_64 rng{std::random_device{}()};
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%d.%llx.tmp", static_cast<int>(getpid()),
                  static_cast<unsigned long long>(rng()));
    return native_target + suffix;
}

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
}  // namespace

const std::string& program_folder() { return folder_storage(); }
void set_program_folder(std::string gbk) { folder_storage() = std::move(gbk); }

std::string read_current_folder() {
    std::vector<char> buf(256);
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) {
            // A folder whose name has no GBK form would come back with "?" in
            // it: another folder. Such a folder counts as unreadable.
            std::string gbk = utf8_to_gbk(buf.data());
            return gbk_to_utf8(gbk) == buf.data() ? gbk : std::string();
        }
        if (errno != ERANGE || buf.size() > (1u << 20)) return {};
        buf.resize(buf.size() * 2);
    }
}

std::string to_native(std::string_view gbk_path) { return gbk_to_utf8(gbk_replace_char(gbk_path, '\\', '/')); }

bool is_confined(std::string_view rel) {
    if (rel.empty()) return true;
    for (unsigned char c : rel)
        if (c < 0x20 || c == 0x7F) return false;
    std::string_view body = rel;
    if (body.front() == '\\' || body.front() == '/') body.remove_prefix(1);
    if (body.empty()) return true;
    // A second leading separator would make the path absolute (or a UNC name).
    if (body.front() == '\\' || body.front() == '/') return false;
    if (body.size() >= 2 && body[1] == ':') return false;  // drive letter
    for (const std::string& seg : gbk_split(body, "\\/")) {
        if (seg.empty()) continue;
        if (seg.find_first_not_of('.') == std::string::npos) {
            if (seg.size() >= 2) return false;  // "..", "...": leaves or is ambiguous
        }
    }
    return true;
}

std::optional<std::string> join_confined(std::string_view folder, std::string_view rel) {
    if (!is_confined(rel)) return std::nullopt;
    std::string out(folder);
    if (rel.empty() || (rel.front() != '\\' && rel.front() != '/')) out.push_back('\\');
    out.append(rel);
    return out;
}

bool file_exists(std::string_view gbk_path) {
    struct stat st;
    return ::stat(to_native(gbk_path).c_str(), &st) == 0;
}

bool is_directory(std::string_view gbk_path) {
    struct stat st;
    return ::stat(to_native(gbk_path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool remove_file(std::string_view gbk_path) { return ::unlink(to_native(gbk_path).c_str()) == 0; }

bool make_directory(std::string_view gbk_path) { return ::mkdir(to_native(gbk_path).c_str(), 0777) == 0; }

bool write_file_atomic(std::string_view gbk_path, std::string_view bytes) {
    return write_native_file_atomic(to_native(gbk_path), bytes);
}

bool write_native_file_atomic(const std::string& target, std::string_view bytes) {
    // Keep the permissions of the file being replaced.
    mode_t mode = 0666;
    struct stat st;
    bool existed = ::stat(target.c_str(), &st) == 0;
    if (existed) {
        if (S_ISDIR(st.st_mode)) return false;
        mode = st.st_mode & 07777;
    }
    std::string temp = temp_name_for(target);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? mode : 0666);
    if (fd < 0) return false;
    bool ok = write_all(fd, bytes.data(), bytes.size());
    ok = (::fsync(fd) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    if (ok && existed) ::chmod(temp.c_str(), mode);
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool read_file(std::string_view gbk_path, std::string& bytes) {
    bytes.clear();
    int fd = ::open(to_native(gbk_path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            bytes.clear();
            return false;
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

bool copy_file_atomic(std::string_view src, std::string_view dst) {
    std::string bytes;
    if (!read_file(src, bytes)) return false;
    return write_file_atomic(dst, bytes);
}

}  // namespace mirvo
