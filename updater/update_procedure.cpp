#include "updater/update_procedure.h"

#include "common/fs/paths.h"
#include "common/http/http.h"
#include "common/text/gbk.h"
#include "common/xmltext/xmltext.h"
#include "updater/download_list.h"

#include <filesystem>
#include <system_error>

namespace mirvo {

namespace {

// The updater's texts, converted once from this file's UTF-8 into GBK.
struct update_texts {
    std::string no_folder = utf8_to_gbk("无法读取当前文件夹，程序无法启动。");
    std::string checking_connection = utf8_to_gbk("正在检查互联网连接......");
    std::string no_server = utf8_to_gbk("无法获取服务器信息！请检查您的互联网连接是否正确!");
    std::string checking_list = utf8_to_gbk("服务器连接正常.现在检查下载要求......");
    std::string no_list = utf8_to_gbk("Mirvo更新程序，没有发现更新信息。");
    std::string downloading_caption = utf8_to_gbk("正在从互联网上下载资料......");
    std::string downloading = utf8_to_gbk("正在下载......");
    std::string copy_failed = utf8_to_gbk("在拷贝文件时发生错误。升级失败.");
    std::string installed = utf8_to_gbk("升级成功");
    std::string installed_tail = utf8_to_gbk("个文件");
    std::string no_program = utf8_to_gbk("主运行程序不存在!");
    std::string done = utf8_to_gbk("下载处理完毕！");
};

const update_texts& texts() {
    static const update_texts t;
    return t;
}

constexpr const char* list_path = "\\dl\\download.xml";

bool is_plain_file(const std::string& path) { return file_exists(path) && !is_directory(path); }

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

class update_run {
public:
    update_run(update_window& window, const probe_candidates& candidates, const std::optional<public_key>& list_key)
        : window_(window), status_(window.status()), candidates_(candidates), list_key_(list_key) {}

    update_result run() {
        window_.show_now();
        set_program_folder({});
        say(texts().checking_connection);
        if (!take_program_folder() || !find_server() || !read_list()) return result_;
        window_.set_caption(texts().downloading_caption);
        say(texts().downloading);
        for (const list_entry& entry : list_.entries) install(entry);
        record_version();
        // Removed even after failures: the version file was not fetched then,
        // so the client's next login offers the update again.
        remove_file(folder_ + list_path);
        start_program();
        if (!list_.show_message.empty()) window_.message_box(texts().done + list_.show_message);
        return result_;
    }

private:
    void say(const std::string& text) {
        status_.set_text(text);
        status_.repaint();
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
        window_.message_box(texts().no_server);
        result_.end = update_end::no_server;
        return false;
    }

    bool read_list() {
        say(texts().checking_list);
        const std::string text = read_text_file(&status_, folder_ + list_path);
        status_.repaint();
        const bool trusted = !text.empty() && list_is_trusted();
        if (trusted) {
            list_ = read_download_list(text);
            return true;
        }
        // A list that anyone on the way may have written is no update: the
        // user hears the same as for no list, and nothing is touched.
        window_.message_box(texts().no_list);
        result_.end = text.empty() ? update_end::no_list : update_end::refused;
        return false;
    }

    bool list_is_trusted() const {
        return !list_key_ || check_list_signature(*list_key_, folder_ + list_path) == list_signature::valid;
    }

    // One entry: download it, then put it in place. An entry that cannot be
    // installed leaves the rest of the list to go on.
    void install(const list_entry& entry) {
        const name_parts parts = split_get_name(entry.get_name);
        const std::string local = folder_ + "\\" + parts.folder + "\\" + parts.file;
        const bool own_file = entry.save_as == updater_file_name;
        const std::optional<std::string> target =
            own_file ? folder_ + "\\" + parts.folder + "\\" + updater_file_name : join_confined(folder_, entry.save_as);
        // An entry that names its digest is checked before it replaces
        // anything; one downloaded right where it is to be saved would have
        // replaced the installed file by then, so it is not even fetched.
        const bool hashed = !entry.sha256.empty();
        if (hashed && (!target || same_path(local, *target))) {
            say(texts().copy_failed);
            ++result_.failed;
            return;
        }
        // A name that leaves the program folder is refused by the download
        // itself, with its own text, and counts as a failed download.
        http_download_file(&window_.progress(), base_url_, entry.get_name, folder_, &status_,
                           download_variant::updater);
        // The download keeps the file an earlier run left when it fails; such
        // a file is installed as if it had just arrived.
        if (!is_confined(entry.get_name) || !is_plain_file(local)) {
            ++result_.failed;
            return;
        }
        if (hashed && !digest_matches(entry.sha256, local)) {
            refuse(local);
            return;
        }
        if (own_file) {
            place_own_file(local, *target);
            return;
        }
        if (!target || !put_in_place(local, *target)) {
            say(texts().copy_failed);
            ++result_.failed;
            return;
        }
        ++result_.installed;
        ++installed_files_;
        say(texts().installed + entry.order + texts().installed_tail);
    }

    static bool digest_matches(const std::string& expected, const std::string& local) {
        const std::optional<std::string> digest = file_sha256_hex(local);
        return digest && same_digest(expected, *digest);
    }

    // Bytes that are not what the list says are no download to retry from.
    void refuse(const std::string& local) {
        remove_file(local);
        say(texts().copy_failed);
        ++result_.failed;
    }

    // The new updater waits beside its download; the client takes it over.
    void place_own_file(const std::string& local, const std::string& target) {
        if (put_in_place(local, target))
            ++result_.installed;
        else
            ++result_.failed;
    }

    // Replaces target by the downloaded file; the download is removed only
    // once its copy stands, so a failed copy can be retried from it.
    bool put_in_place(const std::string& local, const std::string& target) {
        if (same_file(local, target)) return true;
        if (!install_file_atomic(local, target)) return false;
        remove_file(local);
        return true;
    }

    // The version file records what is installed, so it is fetched only
    // when every entry of the list was: after a partial install the old
    // version stays recorded and the next login offers the update again.
    void record_version() {
        if (result_.failed > 0 || installed_files_ == 0 || list_.version_file.empty()) return;
        http_download_file(&window_.progress(), base_url_, list_.version_file, folder_, &status_,
                           download_variant::updater);
        result_.version_file_fetched = true;
    }

    void start_program() {
        const std::string& run = list_.run_after_download;
        if (run.empty()) return;
        const std::optional<std::string> path = join_confined(folder_, run);
        if (path && is_plain_file(*path)) {
            window_.start_program(*path, folder_);
            result_.program_started = true;
        } else {
            window_.message_box(texts().no_program);
        }
    }

    update_window& window_;
    status_line& status_;
    const probe_candidates& candidates_;
    const std::optional<public_key>& list_key_;
    std::string folder_;
    std::string base_url_;
    download_list list_;
    int installed_files_ = 0;  // entries other than the updater's own
    update_result result_;
};

}  // namespace

update_result run_update(update_window& window, const probe_candidates& candidates,
                         const std::optional<public_key>& list_key) {
    return update_run(window, candidates, list_key).run();
}

}  // namespace mirvo
