#include "updater/update_procedure.h"

#include "common/fs/paths.h"
#include "common/http/http.h"
#include "common/sign/update_identity.h"
#include "common/text/gbk.h"
#include "common/xmltext/xmltext.h"
#include "updater/download_list.h"
#include "updater/updater_texts.h"

#include <charconv>
#include <filesystem>
#include <system_error>

namespace mirvo {

namespace {

constexpr const char* list_path = "\\dl\\download.xml";
// Where the version file waits for its check before it replaces anything.
constexpr const char* staging_folder = "\\dl\\.version";
// No list, version document or hand-over note comes near these.
constexpr std::uint64_t max_list_bytes = 4u << 20;
constexpr std::uint64_t max_version_file_bytes = 64u << 10;
constexpr std::uint64_t max_note_bytes = 4u << 10;

const updater_texts& texts() { return updater_text(); }

bool is_plain_file(const std::string& path) { return file_exists(path) && !is_directory(path); }

// A path as the person reading a message knows it on this system.
std::string shown_path(const std::string& path) { return gbk_replace_char(path, '\\', '/'); }

// Two names of one file (a list that saves a file where it downloads it).
bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(to_native(a), to_native(b), ec) && !ec;
}

// The same, also for a file that does not exist yet.
bool same_path(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    return fs::path(to_native(a)).lexically_normal() == fs::path(to_native(b)).lexically_normal() || same_file(a, b);
}

// The folder part of a path below the program folder.
std::string folder_of(const std::string& path) { return split_get_name(path).folder; }

std::uint64_t size_cap(const list_entry& entry) {
    std::uint64_t size = 0;
    const char* end = entry.size.data() + entry.size.size();
    const auto parsed = std::from_chars(entry.size.data(), end, size);
    if (entry.size.empty() || parsed.ec != std::errc() || parsed.ptr != end) return default_download_cap;
    return size;
}

class update_run {
public:
    update_run(update_window& window, const probe_candidates& candidates, const std::optional<public_key>& list_key)
        : window_(window), status_(window.status()), candidates_(candidates), list_key_(list_key) {}

    update_result run() {
        window_.show_now();
        set_program_folder({});
        say(texts().checking_connection);
        if (!take_program_folder()) return result_;
        // What a run that was killed half-way left is no use to anyone.
        remove_abandoned_temp_files(folder_);
        if (!find_server() || !read_list() || !list_fits()) return result_;
        window_.set_caption(texts().downloading_caption);
        say(texts().downloading);
        for (const list_entry& entry : list_.entries) {
            if (cancelled()) break;
            install(entry);
        }
        if (cancelled()) return end_cancelled();
        record_version();
        // Removed even after failures: the version was not recorded then, so
        // the client's next login offers the update again. What downloads
        // kept to resume stays for that one, unless nothing is left to do.
        remove_list();
        if (result_.failed == 0) remove_partial_downloads(folder_);
        finish();
        return result_;
    }

private:
    void say(const std::string& text) {
        status_.set_text(text);
        status_.repaint();
    }

    bool cancelled() const { return transfers_cancelled(); }

    update_result end_cancelled() {
        remove_list();
        result_.end = update_end::cancelled;
        window_.message_box(texts().cancelled);
        return result_;
    }

    bool take_program_folder() {
        folder_ = read_current_folder();
        set_program_folder(folder_);
        if (!folder_.empty()) return true;
        // Every path is built on the folder: without it nothing may be touched.
        window_.message_box(texts().no_folder);
        result_.end = update_end::no_folder;
        return false;
    }

    bool find_server() {
        base_url_ = probe_server(candidates_).value_or(std::string());
        result_.server_base_url = base_url_;
        if (!base_url_.empty()) return true;
        if (cancelled()) {
            end_cancelled();
            return false;
        }
        window_.message_box(texts().no_server);
        result_.end = update_end::no_server;
        return false;
    }

    bool read_list() {
        say(texts().checking_list);
        const std::string path = folder_ + list_path;
        const std::optional<std::string> bytes = read_small_file(path, max_list_bytes);
        if (!bytes) say(texts().list_unreadable + shown_path(path));
        const std::string text = bytes ? read_text_file(nullptr, path) : std::string();
        if (text.empty()) return refuse(update_end::no_list, texts().no_list);
        // A list that anyone on the way may have written is no update: the
        // user hears the same as for no list, and nothing is touched.
        if (!list_is_trusted()) return refuse(update_end::refused, texts().no_list);
        // The list is read by searching its text, which ends at a zero byte:
        // what follows one would silently not count.
        if (text.find('\0') != std::string::npos) return refuse(update_end::refused, texts().broken_list);
        list_ = read_download_list(text);
        if (list_key_) identity_ = read_list_identity(text);
        return true;
    }

    bool refuse(update_end why, const std::string& text) {
        window_.message_box(text);
        result_.end = why;
        return false;
    }

    bool list_is_trusted() const {
        return !list_key_ || check_list_signature(*list_key_, folder_ + list_path) == list_signature::valid;
    }

    // A signed list says what it installs. It is for the program the client
    // handed over, and not older than what is installed of it: a list signed
    // long ago cannot take anyone back to its version.
    bool list_fits() {
        if (!list_key_) return true;
        if (!identity_) return refuse(update_end::refused, texts().no_identity);
        const std::optional<std::string> expected =
            read_small_file(folder_ + list_path + expected_target_suffix, max_note_bytes);
        if (expected && !expected->empty() && *expected != identity_->target)
            return refuse(update_end::wrong_target, texts().wrong_target);
        const std::string installed = recorded_version();
        if (version_number(identity_->version) < version_number(installed))
            return refuse(update_end::older_version, texts().older_version_head + identity_->version +
                                                         texts().older_version_mid + installed +
                                                         texts().older_version_tail);
        return true;
    }

    std::string recorded_version() const {
        const version_record record = version_record_of(identity_->target);
        const std::optional<std::string> text = read_small_file(folder_ + record.path, max_version_file_bytes);
        return text ? xml_get_value(*text, record.element) : std::string();
    }

    // One entry: download it, then put it in place. An entry that cannot be
    // installed leaves the rest of the list to go on.
    void install(const list_entry& entry) {
        const name_parts parts = split_get_name(entry.get_name);
        const std::string local = folder_ + "\\" + parts.folder + "\\" + parts.file;
        const std::optional<std::string> named = join_confined(folder_, entry.save_as);
        // The updater's own file, however the list spells it, waits in dl
        // for the client to take it over: the running one cannot be replaced.
        const bool own_file = named && same_path(*named, folder_ + "\\" + updater_file_name);
        const std::optional<std::string> target = own_file ? folder_ + "\\dl\\" + updater_file_name : named;
        // An entry that names its digest is checked before it replaces
        // anything; one downloaded right where it is to be saved would have
        // replaced the installed file by then, so it is not even fetched.
        // Nor is one whose file is in place already.
        const bool hashed = !entry.sha256.empty();
        if (hashed && target && already_in_place(entry, *target, own_file)) return count_installed(entry, own_file);
        if (hashed && (!target || same_path(local, *target))) return fail_copy();
        const fetched got = download(entry, local, hashed);
        // The download keeps the file an earlier run left when it fails; such
        // a file is installed as if it had just arrived. A cancel ends here.
        if (cancelled()) return;
        if (!is_confined(entry.get_name) || !is_plain_file(local) || !resolves_inside(folder_, local))
            return count_failure(result_.failed_downloads);
        if (hashed && !got.checked && !digest_matches(entry.sha256, local))
            return refuse_file(local, got.result == download_ok ? result_.failed_checks : result_.failed_downloads);
        if (!target || !put_in_place(local, *target)) return fail_copy();
        count_installed(entry, own_file);
    }

    void count_installed(const list_entry& entry, bool own_file) {
        ++result_.installed;
        if (own_file) return;
        ++installed_files_;
        say(texts().installed + entry.order + texts().installed_tail);
    }

    // A file with the listed digest where it belongs needs no download; the
    // updater's own may also be the one running already.
    bool already_in_place(const list_entry& entry, const std::string& target, bool own_file) const {
        if (is_plain_file(target) && digest_matches(entry.sha256, target)) return true;
        const std::string running = folder_ + "\\" + updater_file_name;
        return own_file && is_plain_file(running) && digest_matches(entry.sha256, running);
    }

    // What a download came to: its result, and whether the file it left has
    // been found to have the listed digest already.
    struct fetched {
        int result;
        bool checked = false;
    };

    // A name that leaves the program folder is refused by the download
    // itself, with its own text, and counts as a failed download. A file
    // checked by digest goes on from what an earlier try kept of it; when
    // the pieces joined are not the file, it is fetched once more whole.
    fetched download(const list_entry& entry, const std::string& local, bool hashed) {
        const download_limits limits{.max_bytes = size_cap(entry), .uncompressed = hashed, .resumable = hashed};
        const bool resuming = hashed && file_exists(partial_download_path(folder_, entry.get_name));
        const int got = http_download_file(&window_.progress(), base_url_, entry.get_name, folder_, &status_,
                                           download_variant::updater, limits);
        if (!resuming || got != download_ok || cancelled()) return {got};
        if (digest_matches(entry.sha256, local)) return {got, true};
        return {http_download_file(&window_.progress(), base_url_, entry.get_name, folder_, &status_,
                                   download_variant::updater, {.max_bytes = limits.max_bytes, .uncompressed = true})};
    }

    void count_failure(int& kind) {
        ++kind;
        ++result_.failed;
    }

    void fail_copy() {
        say(texts().copy_failed);
        count_failure(result_.failed_copies);
    }

    static bool digest_matches(const std::string& expected, const std::string& local) {
        const std::optional<std::string> digest = file_sha256_hex(local);
        return digest && same_digest(expected, *digest);
    }

    // Bytes that are not what the list says are no download to retry from.
    void refuse_file(const std::string& local, int& kind) {
        remove_file(local);
        say(texts().copy_failed);
        count_failure(kind);
    }

    // Makes the folders of a destination below the program folder, never
    // through a link that leads out of it.
    bool make_folders_for(const std::string& target) {
        const std::string folder = folder_of(target);
        if (!resolves_inside(folder_, folder)) return false;
        make_directory_path(folder, nullptr, download_variant::updater);
        return is_directory(folder) && resolves_inside(folder_, folder);
    }

    // Replaces target by the downloaded file; the download is removed only
    // once its copy stands, so a failed copy can be retried from it.
    bool put_in_place(const std::string& local, const std::string& target) {
        if (same_file(local, target)) return true;
        if (!make_folders_for(target) || !install_file_atomic(local, target)) return false;
        remove_file(local);
        return true;
    }

    // What is installed is recorded once every entry is: after a partial
    // install the old version stays recorded and the next login offers the
    // update again.
    void record_version() {
        if (result_.failed > 0 || installed_files_ == 0) return;
        if (!identity_) {
            fetch_version_file_in_place();
            return;
        }
        confirm_version_file();
        const version_record record = version_record_of(identity_->target);
        const std::string path = folder_ + record.path;
        if (recorded_version() != identity_->version &&
            (!make_folders_for(path) || !write_file_atomic(path, version_record_text(record, identity_->version)))) {
            fail_copy();
            return;
        }
        result_.version_recorded = true;
    }

    // Lists nobody signed keep what they always did: the version file is
    // downloaded where it belongs, bounded like any document.
    void fetch_version_file_in_place() {
        if (list_.version_file.empty()) return;
        http_download_file(&window_.progress(), base_url_, list_.version_file, folder_, &status_,
                           download_variant::updater, {.max_bytes = max_version_file_bytes});
        result_.version_file_fetched = true;
    }

    // A signed list's version file may only say what the list says: it is
    // fetched aside and put in place when its version is the list's.
    void confirm_version_file() {
        if (list_.version_file.empty() || !is_confined(list_.version_file)) return;
        const std::string staging = folder_ + staging_folder;
        const name_parts parts = split_get_name(list_.version_file);
        const std::string staged = staging + "\\" + parts.folder + "\\" + parts.file;
        const std::string target = folder_ + "\\" + parts.folder + "\\" + parts.file;
        if (!make_folders_for(staging + "\\")) return;
        const int got =
            http_download_file(&window_.progress(), base_url_, list_.version_file, staging, &status_,
                               download_variant::updater, {.max_bytes = max_version_file_bytes, .uncompressed = true});
        const std::optional<std::string> text =
            got == download_ok ? read_small_file(staged, max_version_file_bytes) : std::nullopt;
        const std::string element = version_record_of(identity_->target).element;
        if (text && version_number(xml_get_value(*text, element)) == version_number(identity_->version) &&
            make_folders_for(target) && install_file_atomic(staged, target))
            result_.version_file_fetched = true;
        std::error_code ec;
        std::filesystem::remove_all(to_native(staging), ec);
    }

    void remove_list() {
        const std::string list = folder_ + list_path;
        remove_file(list);
        remove_file(list + signature_suffix);
        remove_file(list + expected_target_suffix);
    }

    // The program is started, and the list's message shown, only after a
    // complete install; otherwise the user hears what did not go in.
    void finish() {
        if (result_.failed > 0) {
            window_.message_box(failure_summary());
            return;
        }
        start_program();
        if (!list_.show_message.empty()) window_.message_box(texts().done + list_.show_message);
    }

    std::string failure_summary() const {
        const updater_texts& t = texts();
        std::string text = t.failed_head + std::to_string(result_.failed) + t.failed_tail;
        const std::pair<const std::string*, int> kinds[] = {{&t.failed_downloads, result_.failed_downloads},
                                                            {&t.failed_checks, result_.failed_checks},
                                                            {&t.failed_copies, result_.failed_copies}};
        for (const auto& [what, count] : kinds)
            if (count > 0) text += "\n" + *what + std::to_string(count) + t.failed_count_tail;
        return text;
    }

    void start_program() {
        const std::string& run = list_.run_after_download;
        if (run.empty()) return;
        const std::optional<std::string> path = join_confined(folder_, run);
        if (!path || !is_plain_file(*path) || !resolves_inside(folder_, *path)) {
            window_.message_box(texts().no_program);
            return;
        }
        result_.program_started = window_.start_program(*path, folder_);
        if (!result_.program_started) window_.message_box(texts().program_not_started);
    }

    update_window& window_;
    status_line& status_;
    const probe_candidates& candidates_;
    const std::optional<public_key>& list_key_;
    std::string folder_;
    std::string base_url_;
    download_list list_;
    std::optional<list_identity> identity_;
    int installed_files_ = 0;  // entries other than the updater's own
    update_result result_;
};

}  // namespace

update_result run_update(update_window& window, const probe_candidates& candidates,
                         const std::optional<public_key>& list_key) {
    return update_run(window, candidates, list_key).run();
}

}  // namespace mirvo
