// The one place that turns the programs' paths into native ones.
// The programs name local files as program folder + "\relative\path" in GBK;
// here "\" becomes "/" (stepping by GBK character) and the bytes become UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace mirvo {

// The process's program folder (GBK, no trailing separator), set once at start-up.
const std::string& program_folder();
void set_program_folder(std::string gbk);
// Reads the current directory (no length limit) as GBK. Empty when it cannot
// be read, or when its name has no exact GBK form.
std::string read_current_folder();

// A GBK path as the programs write it (either separator) -> native UTF-8 path.
// Doubled separators are accepted, as the original file system did.
std::string to_native(std::string_view gbk_path);

// True when rel (a relative path with "\" or "/" separators, optionally with
// one leading separator) stays inside the folder it is joined to: no ".."
// segment, no absolute path, no drive letter, no control byte.
bool is_confined(std::string_view rel);
// folder + "\" + rel when rel is confined; nullopt otherwise.
std::optional<std::string> join_confined(std::string_view folder, std::string_view rel);
// True when path, with the symbolic links of the part of it that exists
// followed, lies inside folder (or is folder): a name that is confined as
// text can still lead out through a link someone placed in the folder.
bool resolves_inside(std::string_view gbk_folder, std::string_view gbk_path);

// File operations on GBK paths.
bool file_exists(std::string_view gbk_path);  // file or folder
bool is_directory(std::string_view gbk_path);
bool remove_file(std::string_view gbk_path);
// One level, for its owner only: on a computer several accounts share, what
// the programs keep (download lists, installed programs) is nobody else's.
bool make_directory(std::string_view gbk_path);
// Every missing level of a native path, each made as make_directory does.
bool make_native_directories(const std::string& native_path);

// Who may read a file the programs write. The usual file keeps the rights of
// the file it replaces (a new one gets the umask's); an owner-only file (a
// saved password, the list of who logs in here) is created 0600, and one that
// had wider rights is narrowed as it is written.
enum class file_access { usual, owner_only };
// Writes bytes to a temporary file in the target's folder and renames it over
// the target: the target holds the old bytes or the new ones, never half.
bool write_file_atomic(std::string_view gbk_path, std::string_view bytes, file_access access = file_access::usual);
// The same for a native path that is none of the programs' own (a file in the
// user's configuration folder).
bool write_native_file_atomic(const std::string& native_path, std::string_view bytes,
                              file_access access = file_access::usual);
bool read_file(std::string_view gbk_path, std::string& bytes);
// The bytes of a plain file of at most max_bytes; nullopt for anything else
// (a larger file is not read at all).
std::optional<std::string> read_small_file(std::string_view gbk_path, std::uint64_t max_bytes);
// Copies src over dst by the same replace-and-rename, streaming (a file of
// any size costs no more memory than a small one). dst keeps its permissions
// when it existed.
bool copy_file_atomic(std::string_view src, std::string_view dst);
// copy_file_atomic for files an update installs: besides keeping the mode of
// the file it replaces, a file whose content begins as a program does (an
// ELF header or "#!") is made executable for whoever may read it, since
// downloads arrive without execute permission.
bool install_file_atomic(std::string_view src, std::string_view dst);

// Removes the plain files below folder whose names which() picks, never
// through a link. Returns how many went.
int remove_files_below(std::string_view gbk_folder, const std::function<bool(const std::string& name)>& which);
// Removes, below folder, the temporary files that a write or a download
// leaves when its program is killed half-way (name.<pid>.<n>.tmp of the
// writes here, .download.<pid>.<n>.part of downloads) and whose program no
// longer runs. Links are not followed. Returns how many went.
int remove_abandoned_temp_files(std::string_view gbk_folder);

}  // namespace mirvo
