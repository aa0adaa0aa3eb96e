#include "common/fs/paths.h"

#include "common/text/gbk.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
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
// The whole of src into out_fd from where both stand: in the kernel where the
// file systems allow it, through a buffer where they do not.
bool copy_contents(int src_fd, int out_fd) {
    for (;;) {
        ssize_t n = ::copy_file_range(src_fd, nullptr, out_fd, nullptr, 1 << 30, 0);
        if (n == 0) return true;
        if (n > 0) continue;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
        break;
    }
    std::vector<char> buf(256 * 1024);
    for (;;) {
        ssize_t n = ::read(src_fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!write_all(out_fd, buf.data(), static_cast<std::size_t>(n))) return false;
    }
}

// True when the file's first bytes are those of an ELF program or a script.
bool starts_as_program(int fd) {
    char head[4] = {};
    ssize_t n = ::pread(fd, head, sizeof head, 0);
    if (n >= 4 && head[0] == '\x7f' && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') return true;
    return n >= 2 && head[0] == '#' && head[1] == '!';
}

// "<pid>.<hex>" at the end of name (after its suffix is taken off), with
// the process id; nullopt when the name is not of that form.
std::optional<pid_t> temp_owner(std::string_view name) {
    // The random part has 16 hexadecimal digits but for leading zeros; a
    // name of the user's with a short one is none of ours.
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot - 1 < 8) return std::nullopt;
    for (char c : name.substr(dot + 1))
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const std::string_view head = name.substr(0, dot);
    const std::size_t pid_dot = head.rfind('.');
    const std::string_view digits = pid_dot == std::string_view::npos ? head : head.substr(pid_dot + 1);
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    pid_t pid = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// The process that made a temporary file by this name, when it is one.
std::optional<pid_t> temp_file_owner(const std::string& name) {
    constexpr std::string_view download_head = ".download.", download_tail = ".part", write_tail = ".tmp";
    std::string_view n = name;
    if (n.starts_with(download_head) && n.ends_with(download_tail) &&
        n.size() > download_head.size() + download_tail.size())
        return temp_owner(n.substr(download_head.size(), n.size() - download_head.size() - download_tail.size()));
    if (n.ends_with(write_tail) && n.size() > write_tail.size()) {
        std::optional<pid_t> pid = temp_owner(n.substr(0, n.size() - write_tail.size()));
        // A write's temporary name follows the name of the file it replaces.
        const std::size_t dots = std::count(n.begin(), n.end(), '.');
        if (pid && dots >= 3) return pid;
    }
    return std::nullopt;
}

bool process_runs(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

bool copy_replacing(std::string_view src, std::string_view dst, bool executable_programs) {
    int in = ::open(to_native(src).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat src_st;
    if (::fstat(in, &src_st) != 0 || S_ISDIR(src_st.st_mode)) {
        ::close(in);
        return false;
    }
    std::string target = to_native(dst);
    struct stat st;
    bool existed = ::stat(target.c_str(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode)) {
        ::close(in);
        return false;
    }
    std::string temp = temp_name_for(target);
    // Created as any new file is (the umask applies), then given the mode it must have.
    int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = copy_contents(in, out);
    struct stat made;
    if (ok && ::fstat(out, &made) == 0) {
        mode_t mode = existed ? (st.st_mode & 07777) : (made.st_mode & 07777);
        if (executable_programs && starts_as_program(in)) mode |= (mode & 0444) >> 2;
        if (mode != (made.st_mode & 07777)) ok = ::fchmod(out, mode) == 0;
    }
    ::close(in);
    ok = ok && ::fsync(out) == 0;
    ok = (::close(out) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
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

bool resolves_inside(std::string_view gbk_folder, std::string_view gbk_path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path folder = fs::canonical(to_native(gbk_folder), ec);
    if (ec) return false;
    const fs::path path = fs::weakly_canonical(to_native(gbk_path), ec);
    if (ec) return false;
    auto f = folder.begin();
    auto p = path.begin();
    for (; f != folder.end(); ++f, ++p)
        if (p == path.end() || *p != *f) return false;
    return true;
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

namespace {
constexpr mode_t private_folder_mode = 0700;
constexpr mode_t owner_only_mode = 0600;
}  // namespace

bool make_directory(std::string_view gbk_path) {
    return ::mkdir(to_native(gbk_path).c_str(), private_folder_mode) == 0;
}

bool make_native_directories(const std::string& native_path) {
    for (std::size_t i = 1; i <= native_path.size(); ++i) {
        if (i < native_path.size() && native_path[i] != '/') continue;
        const std::string level = native_path.substr(0, i);
        struct stat st;
        if (::stat(level.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return false;
            continue;
        }
        if (::mkdir(level.c_str(), private_folder_mode) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool write_file_atomic(std::string_view gbk_path, std::string_view bytes, file_access access) {
    return write_native_file_atomic(to_native(gbk_path), bytes, access);
}

bool write_native_file_atomic(const std::string& target, std::string_view bytes, file_access access) {
    // Keep the permissions of the file being replaced.
    mode_t mode = 0666;
    struct stat st;
    bool existed = ::stat(target.c_str(), &st) == 0;
    if (existed) {
        if (S_ISDIR(st.st_mode)) return false;
        mode = st.st_mode & 07777;
    }
    const bool owner_only = access == file_access::owner_only;
    if (owner_only) mode = owner_only_mode;
    std::string temp = temp_name_for(target);
    // An owner-only file is never readable by others, not even while it is
    // being written.
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed || owner_only ? mode : 0666);
    if (fd < 0) return false;
    bool ok = write_all(fd, bytes.data(), bytes.size());
    ok = (::fsync(fd) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    if (ok && owner_only)
        ok = ::chmod(temp.c_str(), mode) == 0;
    else if (ok && existed)
        ::chmod(temp.c_str(), mode);
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

std::optional<std::string> read_small_file(std::string_view gbk_path, std::uint64_t max_bytes) {
    struct stat st;
    if (::stat(to_native(gbk_path).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > max_bytes)
        return std::nullopt;
    std::string bytes;
    if (!read_file(gbk_path, bytes) || bytes.size() > max_bytes) return std::nullopt;
    return bytes;
}

bool copy_file_atomic(std::string_view src, std::string_view dst) { return copy_replacing(src, dst, false); }

bool install_file_atomic(std::string_view src, std::string_view dst) { return copy_replacing(src, dst, true); }

int remove_files_below(std::string_view gbk_folder, const std::function<bool(const std::string& name)>& which) {
    namespace fs = std::filesystem;
    // A program folder holds a few hundred files; a bound keeps a strange
    // one from holding the program up for long.
    constexpr int max_entries = 100000;
    std::error_code ec;
    fs::recursive_directory_iterator it(to_native(gbk_folder), fs::directory_options::skip_permission_denied, ec);
    int removed = 0, seen = 0;
    for (; !ec && it != fs::recursive_directory_iterator() && ++seen <= max_entries; it.increment(ec)) {
        std::error_code type_ec;
        if (!it->is_regular_file(type_ec) || it->is_symlink(type_ec) || !which(it->path().filename().string()))
            continue;
        if (fs::remove(it->path(), type_ec)) ++removed;
    }
    return removed;
}

int remove_abandoned_temp_files(std::string_view gbk_folder) {
    return remove_files_below(gbk_folder, [](const std::string& name) {
        const std::optional<pid_t> owner = temp_file_owner(name);
        return owner && *owner != ::getpid() && !process_runs(*owner);
    });
}

}  // namespace mirvo
