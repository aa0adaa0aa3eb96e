// The update procedure against a scripted server on 127.0.0.1 and a fake
// window, in a program folder of its own: what is installed where, which
// texts, boxes and starts the window sees and in which order.
#include "updater/update_procedure.h"

#include "common/fs/paths.h"
#include "common/http/http.h"
#include "common/sign/sign.h"
#include "common/sign/update_identity.h"
#include "common/text/gbk.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_http_server.h"
#include "tests/support/ui_fakes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace mirvo {
namespace {

namespace fs = std::filesystem;
using testing::scripted_response;

std::string G(const char* utf8) { return utf8_to_gbk(utf8); }

// Records what the procedure does to its window in one log with the status
// line and the progress bar.
class fake_update_window : public update_window {
public:
    testing::event_log log;
    testing::recording_status_line status_line_{&log};
    testing::recording_progress_bar bar{&log};
    std::vector<std::string> boxes;
    std::vector<std::pair<std::string, std::string>> starts;  // path, folder
    std::function<void()> on_show;

    status_line& status() override { return status_line_; }
    progress_bar& progress() override { return bar; }
    void show_now() override {
        log.add("show");
        if (on_show) on_show();
    }
    void set_caption(const std::string& text) override { log.add("caption:" + text); }
    void message_box(const std::string& text) override {
        boxes.push_back(text);
        log.add("box:" + text);
    }
    bool start_program(const std::string& path, const std::string& folder) override {
        starts.push_back({path, folder});
        log.add("start:" + path);
        return starts_succeed;
    }
    bool starts_succeed = true;

    std::size_t first(const std::string& event) const {
        auto at = log.find(event);
        return at.empty() ? std::string::npos : at.front();
    }
};

struct entry {
    std::string order, get_name, save_as;
    std::string sha256 = {};
    std::string size = {};
};

std::string list_text(const std::vector<entry>& entries, const std::string& version_file, const std::string& run,
                      const std::string& message, const std::optional<list_identity>& identity = std::nullopt) {
    std::string t = "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<download>\r\n";
    if (identity) t += list_identity_elements(*identity);
    for (const entry& e : entries)
        t += "<file order=\"" + e.order + "\" get_name=\"" + e.get_name + "\" save_as=\"" + e.save_as + "\"" +
             (e.sha256.empty() ? "" : " sha256=\"" + e.sha256 + "\"") +
             (e.size.empty() ? "" : " size=\"" + e.size + "\"") + " />\r\n";
    if (!version_file.empty()) t += "<version_file>" + version_file + "</version_file>\r\n";
    if (!run.empty()) t += "<run_after_download>" + run + "</run_after_download>\r\n";
    if (!message.empty()) t += "<show_message>" + message + "</show_message>\r\n";
    return t + "</download>\r\n";
}

class UpdateProcedure : public ::testing::Test {
protected:
    UpdateProcedure() {
        fs::create_directories(prog / "dl");
        saved_cwd = fs::current_path();
        fs::current_path(prog);
        server.on("/testinternet.txt", scripted_response::text(200, "your internet is ok!"));
        server.on("/files/ver.xml", scripted_response::text(200, "<version>2.0</version>"));
    }
    ~UpdateProcedure() override { fs::current_path(saved_cwd); }

    // The folder the program works in, and what lies around it.
    testing::temp_folder outer;
    fs::path prog = fs::path(outer.path()) / "prog";
    fs::path saved_cwd;
    testing::short_transfer_timeouts timeouts;
    testing::test_http_server server;
    fake_update_window window;

    void serve(const std::string& name, const std::string& bytes) {
        server.on("/" + name, scripted_response::text(200, bytes));
    }
    void put(const std::string& rel, const std::string& bytes) {
        fs::create_directories((prog / rel).parent_path());
        testing::write_bytes((prog / rel).string(), bytes);
    }
    std::string at(const std::string& rel) const { return testing::read_bytes((prog / rel).string()); }
    bool exists(const std::string& rel) const { return fs::exists(prog / rel); }
    void leave_list(const std::vector<entry>& entries, const std::string& version_file = "files/ver.xml",
                    const std::string& run = "", const std::string& message = "",
                    const std::optional<list_identity>& identity = std::nullopt) {
        put("dl/download.xml", list_text(entries, version_file, run, message, identity));
    }
    update_result run() { return run_update(window, {{server.base_url(), "", ""}, {}}); }

    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const auto& r : server.requests()) out.push_back(r.target);
        return out;
    }
    std::size_t asked(const std::string& target) const {
        auto t = targets();
        return std::count(t.begin(), t.end(), target);
    }
    // The procedure's own texts, each painted at once.
    void expect_painted_at_once(const std::string& text) const {
        auto at = window.log.find("text:" + text);
        ASSERT_FALSE(at.empty()) << gbk_to_utf8(text);
        for (std::size_t i : at) {
            ASSERT_LT(i + 1, window.log.events.size());
            EXPECT_EQ(window.log.events[i + 1], "repaint:status") << gbk_to_utf8(text);
        }
    }
    std::string installed(const std::string& order) const { return G("升级成功") + order + G("个文件"); }
};

TEST_F(UpdateProcedure, InstallsEveryEntryThenRecordsTheVersionStartsTheClientAndReports) {
    std::size_t requests_at_show = 99;
    window.on_show = [&] { requests_at_show = server.request_count(); };
    serve("files/a.bin", "aaa");
    serve("files/sub/b.sh", "#!/bin/sh\necho b\n");
    // Downloaded right where it is to be saved: nothing to copy, nothing to remove.
    serve("c.xml", "<c/>");
    put("sub/keep.txt", "the folder exists");
    put("mirvo", "old client");
    leave_list({{"1", "files/a.bin", "a.bin"}, {"2", "files/sub/b.sh", "sub\\b.sh"}, {"3", "c.xml", "\\c.xml"}},
               "files/ver.xml", "mirvo", G("新版本"));

    const update_result r = run();

    EXPECT_EQ(r.end, update_end::processed);
    EXPECT_EQ(r.installed, 3);
    EXPECT_EQ(r.failed, 0);
    EXPECT_EQ(requests_at_show, 0u);
    EXPECT_EQ(at("a.bin"), "aaa");
    EXPECT_EQ(at("sub/b.sh"), "#!/bin/sh\necho b\n");
    EXPECT_EQ(at("c.xml"), "<c/>");
    struct stat st {};
    ASSERT_EQ(::stat((prog / "sub/b.sh").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR) << "a script must be able to run";
    // The downloads are gone once copied; the version file stays where it
    // was downloaded, and the list is removed.
    EXPECT_FALSE(exists("files/a.bin"));
    EXPECT_FALSE(exists("files/sub/b.sh"));
    EXPECT_EQ(at("files/ver.xml"), "<version>2.0</version>");
    EXPECT_FALSE(exists("dl/download.xml"));

    // The version file once, after the last entry.
    EXPECT_EQ(targets(), (std::vector<std::string>{"/testinternet.txt", "/files/a.bin", "/files/sub/b.sh", "/c.xml",
                                                   "/files/ver.xml"}));
    const auto& log = window.log;
    EXPECT_LT(window.first("text:" + installed("1")), window.first("text:" + installed("2")));
    EXPECT_LT(window.first("text:" + installed("2")), window.first("text:" + installed("3")));
    for (const char* text : {"正在检查互联网连接......", "服务器连接正常.现在检查下载要求......", "正在下载......"})
        expect_painted_at_once(G(text));
    for (const char* order : {"1", "2", "3"}) expect_painted_at_once(installed(order));
    EXPECT_EQ(log.events.front(), "show");
    EXPECT_LT(window.first("caption:" + G("正在从互联网上下载资料......")),
              window.first("text:" + G("正在下载......")));

    // The client starts in the program folder, before the final box.
    ASSERT_EQ(window.starts.size(), 1u);
    EXPECT_EQ(window.starts[0].first, prog.string() + "\\mirvo");
    EXPECT_EQ(window.starts[0].second, prog.string());
    EXPECT_EQ(window.boxes, std::vector<std::string>{G("下载处理完毕！新版本")});
    EXPECT_LT(window.first("start:" + prog.string() + "\\mirvo"), window.first("box:" + window.boxes[0]));
}

TEST_F(UpdateProcedure, EntriesEndAtTheFirstMissingNumberAndTheFirstOfTwiceTheSameNumberCounts) {
    for (const char* name : {"files/1.bin", "files/2.bin", "files/4.bin", "files/1b.bin"}) serve(name, name);
    leave_list({{"1", "files/1.bin", "one"},
                {"1", "files/1b.bin", "one_again"},
                {"2", "files/2.bin", "two"},
                {"4", "files/4.bin", "four"}});
    const update_result r = run();
    EXPECT_EQ(r.installed, 2);
    EXPECT_EQ(at("one"), "files/1.bin");
    EXPECT_EQ(at("two"), "files/2.bin");
    EXPECT_FALSE(exists("one_again"));
    EXPECT_FALSE(exists("four"));
    EXPECT_EQ(asked("/files/4.bin"), 0u);
    EXPECT_EQ(asked("/files/1b.bin"), 0u);
}

TEST_F(UpdateProcedure, AFailedDownloadInstallsTheFileAnEarlierRunLeft) {
    server.on("/files/old.bin", scripted_response::text(404, "gone"));
    put("files/old.bin", "left by an earlier run");
    leave_list({{"1", "files/old.bin", "old.bin"}});
    const update_result r = run();
    EXPECT_EQ(asked("/files/old.bin"), 1u);
    EXPECT_EQ(at("old.bin"), "left by an earlier run");
    EXPECT_FALSE(exists("files/old.bin"));
    EXPECT_EQ(r.installed, 1);
    EXPECT_EQ(window.status_line_.texts.back(), G("完成下载文件:") + "ver.xml");
}

TEST_F(UpdateProcedure, TheUpdatersOwnFileWaitsInItsDownloadFolder) {
    const std::string program = std::string(
                                    "\x7f"
                                    "ELF",
                                    4) +
                                "new updater";
    serve("dl/mupdate.new", program);
    put(updater_file_name, "running updater");
    leave_list({{"1", "dl/mupdate.new", updater_file_name}});
    const update_result r = run();

    EXPECT_EQ(at(updater_file_name), "running updater");
    EXPECT_EQ(at(std::string("dl/") + updater_file_name), program);
    EXPECT_FALSE(exists("dl/mupdate.new"));
    struct stat st {};
    ASSERT_EQ(::stat((prog / "dl" / updater_file_name).c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    EXPECT_EQ(r.installed, 1);
    // No success text and no version file for it.
    EXPECT_TRUE(window.log.find("text:" + installed("1")).empty());
    EXPECT_EQ(asked("/files/ver.xml"), 0u);
    EXPECT_FALSE(r.version_file_fetched);
}

TEST_F(UpdateProcedure, AnEntryThatFailsLeavesTheVersionUnrecordedAndTheListGone) {
    serve("files/1.bin", "1");
    serve("files/3.bin", "3");
    serve("files/4.bin", "4");
    put("kept.bin", "old kept");
    put("a_folder/inside", "a folder where a file is to go");
    leave_list({{"1", "files/1.bin", "one"},
                {"2", "files/2.bin", "two"},
                {"3", "files/3.bin", "a_folder"},
                {"4", "files/4.bin", "kept.bin"}});
    const update_result r = run();

    EXPECT_EQ(r.installed, 2);
    EXPECT_EQ(r.failed, 2);
    EXPECT_EQ(at("one"), "1");
    EXPECT_EQ(at("kept.bin"), "4");
    EXPECT_FALSE(exists("two"));
    // The copy failure says so and keeps the download for another try.
    EXPECT_FALSE(window.log.find("text:" + G("在拷贝文件时发生错误。升级失败.")).empty());
    expect_painted_at_once(G("在拷贝文件时发生错误。升级失败."));
    EXPECT_EQ(at("files/3.bin"), "3");
    EXPECT_FALSE(r.version_file_fetched);
    EXPECT_EQ(asked("/files/ver.xml"), 0u);
    EXPECT_FALSE(exists("dl/download.xml"));
}

TEST_F(UpdateProcedure, AFailedCopyLeavesTheOldFileWhole) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    serve("files/new.bin", "new");
    put("ro/app.bin", "old and whole");
    leave_list({{"1", "files/new.bin", "ro\\app.bin"}});
    fs::permissions(prog / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    const update_result r = run();
    fs::permissions(prog / "ro", fs::perms::owner_all);
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(at("ro/app.bin"), "old and whole");
    EXPECT_EQ(at("files/new.bin"), "new");
    EXPECT_EQ(window.status_line_.texts.back(), G("在拷贝文件时发生错误。升级失败."));
}

TEST_F(UpdateProcedure, TheProgramToRunMustBeThereAndInsideTheFolder) {
    serve("files/a.bin", "a");
    struct run_case {
        std::string run, message;
        std::vector<std::string> boxes;
    };
    const std::string missing = G("主运行程序不存在!");
    const std::string done = G("下载处理完毕！") + "ok";
    put("outside_target", "x");
    fs::rename(prog / "outside_target", fs::path(outer.path()) / "mirvo");
    for (const run_case& c : {run_case{"", "ok", {done}}, run_case{"", "", {}}, run_case{"gone", "ok", {missing, done}},
                              run_case{"..\\mirvo", "", {missing}}, run_case{"dl", "", {missing}}}) {
        window.boxes.clear();
        window.starts.clear();
        leave_list({{"1", "files/a.bin", "a.bin"}}, "files/ver.xml", c.run, c.message);
        const update_result r = run();
        EXPECT_EQ(r.end, update_end::processed) << c.run;
        EXPECT_TRUE(window.starts.empty()) << c.run;
        EXPECT_EQ(window.boxes, c.boxes) << c.run;
        EXPECT_FALSE(exists("dl/download.xml")) << c.run;
    }
}

TEST_F(UpdateProcedure, AnEmptyOrMissingListEndsWithTheSameMessageAndStartsNothing) {
    const std::string none = G("Mirvo更新程序，没有发现更新信息。");
    put("dl/download.xml", "");
    EXPECT_EQ(run().end, update_end::no_list);
    EXPECT_EQ(window.boxes, std::vector<std::string>{none});
    EXPECT_TRUE(exists("dl/download.xml"));

    fs::remove(prog / "dl/download.xml");
    window.boxes.clear();
    EXPECT_EQ(run().end, update_end::no_list);
    EXPECT_EQ(window.boxes, std::vector<std::string>{none});
    // The updater's own words, and the path as this system writes it.
    expect_painted_at_once(G("无法读取更新信息文件：") + prog.string() + "/dl/download.xml");
    EXPECT_TRUE(window.starts.empty());
    EXPECT_EQ(targets(), (std::vector<std::string>{"/testinternet.txt", "/testinternet.txt"}));
}

TEST_F(UpdateProcedure, WithoutAServerTheListStaysAndNothingStarts) {
    testing::test_http_server closed;
    const std::string closed_url = closed.base_url();
    closed.stop();
    leave_list({{"1", "files/a.bin", "a.bin"}}, "files/ver.xml", "mirvo", "msg");
    put("mirvo", "client");
    const update_result r = run_update(window, {{closed_url, closed_url + "/xinxi50", "https://127.0.0.1:1"}, {}});
    EXPECT_EQ(r.end, update_end::no_server);
    EXPECT_EQ(r.server_base_url, "");
    EXPECT_EQ(window.boxes, std::vector<std::string>{G("无法获取服务器信息！请检查您的互联网连接是否正确!")});
    EXPECT_TRUE(window.starts.empty());
    EXPECT_TRUE(exists("dl/download.xml"));
    EXPECT_EQ(window.status_line_.texts, std::vector<std::string>{G("正在检查互联网连接......")});
}

TEST_F(UpdateProcedure, NoPathFromTheListLeadsOutOfTheProgramFolder) {
    serve("files/ok.bin", "ok");
    serve("../evil.bin", "evil");
    server.otherwise(scripted_response::text(200, "anything"));
    leave_list({{"1", "../evil.bin", "evil.bin"},
                {"2", "files/ok.bin", "..\\evil2.bin"},
                {"3", "files/ok.bin", "C:\\evil3.bin"},
                {"4", "//etc/evil4.bin", "evil4.bin"},
                {"5", "files/ok.bin", "\\\\host\\evil5.bin"},
                {"6", "files/ok.bin", "dl\\..\\..\\evil6.bin"}},
               "../ver.xml", "..\\..\\bin\\sh");
    const update_result r = run();

    EXPECT_EQ(r.failed, 6);
    EXPECT_EQ(r.installed, 0);
    // Nothing was asked for a refused name, nothing written beside the folder.
    EXPECT_EQ(asked("/../evil.bin"), 0u);
    EXPECT_EQ(asked("//etc/evil4.bin"), 0u);
    std::vector<std::string> around;
    for (const auto& e : fs::directory_iterator(outer.path())) around.push_back(e.path().filename().string());
    EXPECT_EQ(around, std::vector<std::string>{"prog"});
    EXPECT_FALSE(exists("evil.bin"));
    EXPECT_EQ(at("files/ok.bin"), "ok");
    EXPECT_EQ(window.boxes, std::vector<std::string>{G("升级没有完成：有6个文件没有更新，已经安装的文件都是完整的。\n"
                                                       "下载失败：2个\n在拷贝文件时发生错误：4个")});
    EXPECT_TRUE(window.starts.empty());
}

TEST_F(UpdateProcedure, AFileWhoseDigestDiffersIsRefusedAndTheRestGoesOn) {
    serve("files/a.bin", "tampered");
    serve("files/b.bin", "bbb");
    serve("dl/mupdate.new", "tampered updater");
    put("a.bin", "old and whole");
    put(updater_file_name, "running updater");
    std::string upper_b = sha256_hex("bbb");
    for (char& c : upper_b) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    leave_list({{"1", "files/a.bin", "a.bin", sha256_hex("what the service published")},
                {"2", "files/b.bin", "b.bin", upper_b},
                {"3", "dl/mupdate.new", updater_file_name, sha256_hex("new updater")}});
    const update_result r = run();

    EXPECT_EQ(r.installed, 1);
    EXPECT_EQ(r.failed, 2);
    EXPECT_EQ(at("a.bin"), "old and whole");
    EXPECT_EQ(at("b.bin"), "bbb");
    EXPECT_FALSE(exists(std::string("dl/") + updater_file_name));
    EXPECT_EQ(at(updater_file_name), "running updater");
    // What is not the published file is not kept to be installed later.
    EXPECT_FALSE(exists("files/a.bin"));
    EXPECT_FALSE(exists("dl/mupdate.new"));
    expect_painted_at_once(G("在拷贝文件时发生错误。升级失败."));
    EXPECT_FALSE(r.version_file_fetched);
}

TEST_F(UpdateProcedure, AHashedEntryIsNeverDownloadedOverItsDestination) {
    serve("c.xml", "<c/>");
    put("c.xml", "installed");
    leave_list({{"1", "c.xml", "\\c.xml", sha256_hex("<c/>")}});
    const update_result r = run();
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(at("c.xml"), "installed");
    EXPECT_EQ(asked("/c.xml"), 0u);
    EXPECT_EQ(window.status_line_.texts.back(), G("在拷贝文件时发生错误。升级失败."));
}

// A download is bounded by the list's size (and a version document by a
// small one of its own), a file checked by digest comes uncompressed, and
// closing the window ends the work with every installed file whole.
TEST_F(UpdateProcedure, DownloadsAreBoundedAndACancelLeavesEveryFileWhole) {
    serve("files/big.bin", std::string(1000, 'b'));
    serve("files/plain.bin", "plain");
    server.on("/files/ver.xml", scripted_response::gzip("<version>" + std::string(1 << 20, '9') + "</version>"));
    put("big.bin", "old big");
    put("files/ver.xml", "<version>1.0</version>");
    leave_list(
        {{"1", "files/big.bin", "big.bin", "", "999"}, {"2", "files/plain.bin", "plain.bin", sha256_hex("plain")}});
    update_result r = run();
    EXPECT_EQ(r.failed_downloads, 1);
    EXPECT_EQ(at("big.bin"), "old big");
    EXPECT_EQ(at("plain.bin"), "plain");
    for (const auto& request : server.requests())
        if (request.target == "/files/plain.bin") EXPECT_EQ(request.header("Accept-Encoding"), "identity");
    // Everything in place this time: the version document may not be a
    // gigabyte, whatever its compressed size.
    serve("files/big.bin", "small");
    leave_list({{"1", "files/big.bin", "big.bin", "", "999"}});
    r = run();
    EXPECT_EQ(r.failed, 0);
    EXPECT_EQ(at("files/ver.xml"), "<version>1.0</version>");

    // Closed during the second of three downloads.
    scripted_response slow = scripted_response::text(200, "");
    for (int i = 0; i < 100; ++i) slow.pieces.push_back({std::string(1000, 's'), 20});
    server.on("/files/slow.bin", slow);
    serve("files/third.bin", "third");
    put("mirvo", "client");
    put("slow.bin", "old slow");
    leave_list({{"1", "files/plain.bin", "one.bin"},
                {"2", "files/slow.bin", "slow.bin"},
                {"3", "files/third.bin", "third.bin"}},
               "files/ver.xml", "mirvo", G("新版本"));
    testing::recording_pump pump(nullptr, false);
    transfer_cancel closed_box;
    pump.on_drain = [&] {
        if (server.request_count() > 0 && server.requests().back().target == "/files/slow.bin") closed_box.cancel();
    };
    const std::size_t asked_before = server.request_count();
    window.boxes.clear();
    r = run();
    EXPECT_EQ(r.end, update_end::cancelled);
    EXPECT_EQ(at("one.bin"), "plain");
    EXPECT_EQ(at("slow.bin"), "old slow");
    EXPECT_FALSE(exists("third.bin"));
    EXPECT_EQ(server.request_count(), asked_before + 3);  // the test page, one.bin and slow.bin
    EXPECT_EQ(window.boxes,
              std::vector<std::string>{G("您取消了更新。已经安装的文件都是完整的，其余的文件保持原样。")});
    EXPECT_TRUE(window.starts.empty());
    EXPECT_FALSE(exists("dl/download.xml"));
    for (const auto& e : fs::recursive_directory_iterator(prog))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

// Anything short of a complete install is said, with how many files and
// why, and neither the list's success message nor its program follows.
TEST_F(UpdateProcedure, AnIncompleteInstallSaysWhatFailedAndStartsNothing) {
    serve("files/a.bin", "a");
    serve("files/b.bin", "not what the list says");
    put("mirvo", "client");
    leave_list({{"1", "files/a.bin", "new_folder\\deep\\a.bin"},
                {"2", "files/gone.bin", "gone.bin"},
                {"3", "files/b.bin", "b.bin", sha256_hex("b")}},
               "files/ver.xml", "mirvo", G("已更新到版本 2.0"));
    update_result r = run();
    EXPECT_EQ(at("new_folder/deep/a.bin"), "a");
    EXPECT_EQ(r.failed, 2);
    EXPECT_EQ(window.boxes, std::vector<std::string>{G("升级没有完成：有2个文件没有更新，已经安装的文件都是完整的。\n"
                                                       "下载失败：1个\n内容与更新信息不符：1个")});
    EXPECT_TRUE(window.starts.empty());
    EXPECT_FALSE(r.version_file_fetched);

    // A program that is there but cannot be started is said too.
    window.boxes.clear();
    window.starts_succeed = false;
    leave_list({{"1", "files/a.bin", "a.bin"}}, "files/ver.xml", "mirvo", G("已更新"));
    r = run();
    EXPECT_EQ(r.failed, 0);
    EXPECT_FALSE(r.program_started);
    EXPECT_EQ(window.boxes, (std::vector<std::string>{G("主运行程序无法启动!"), G("下载处理完毕！已更新")}));
}

// Nothing is written or run through a link out of the program folder, the
// updater's own file waits in dl however the list spells it, a list with a
// zero byte is refused whole, and what killed runs left is cleared away.
TEST_F(UpdateProcedure, LinksOwnNameBrokenListsAndLeftoversCannotMisleadIt) {
    testing::temp_folder elsewhere;
    fs::create_directory_symlink(elsewhere.path(), prog / "linked");
    testing::write_bytes(elsewhere.path() + "/run.sh", "#!/bin/sh\n");
    fs::create_symlink(fs::path(elsewhere.path()) / "run.sh", prog / "run");
    serve("files/x.bin", "x");
    serve("files/new_updater", "new updater");
    put(updater_file_name, "running updater");
    const std::string dotted = std::string(".\\") + updater_file_name;
    const std::string rooted = std::string("\\") + updater_file_name;
    leave_list(
        {{"1", "files/x.bin", "linked\\x.bin"}, {"2", "files/new_updater", dotted}, {"3", "files/new_updater", rooted}},
        "", "run");
    update_result r = run();
    EXPECT_FALSE(fs::exists(fs::path(elsewhere.path()) / "x.bin"));
    EXPECT_EQ(r.failed_copies, 1);
    EXPECT_EQ(at(updater_file_name), "running updater");
    EXPECT_EQ(at(std::string("dl/") + updater_file_name), "new updater");
    EXPECT_TRUE(window.starts.empty());

    // After a complete install, a program to run that links out is none.
    window.boxes.clear();
    leave_list({{"1", "files/x.bin", "x.bin"}}, "", "run");
    r = run();
    EXPECT_EQ(r.failed, 0);
    EXPECT_TRUE(window.starts.empty());
    EXPECT_EQ(window.boxes, std::vector<std::string>{G("主运行程序不存在!")});

    window.boxes.clear();
    put("x.bin", "old");
    std::string broken = list_text({{"1", "files/x.bin", "x.bin"}}, "", "", "");
    broken.insert(broken.find("<file"), std::string(1, '\0'));
    put("dl/download.xml", broken);
    r = run();
    EXPECT_EQ(r.end, update_end::refused);
    EXPECT_EQ(window.boxes, std::vector<std::string>{G("Mirvo更新程序：更新信息已经损坏，没有安装任何文件。")});
    EXPECT_EQ(at("x.bin"), "old");

    // Temporary files of programs that no longer run go; a file of the
    // user's that merely looks alike stays.
    const std::string dead = "99999999";  // above any process id
    const std::vector<std::string> leftovers = {"dl/.download." + dead + ".0123456789abcdef.part",
                                                "sub/mirvo_user.xml." + dead + ".fedcba9876543210.tmp"};
    for (const std::string& f : leftovers) put(f, "half");
    put("notes.1.tmp", "mine");
    put("dl/.download." + std::to_string(::getpid()) + ".0123456789abcdef.part", "a running program's");
    leave_list({});
    run();
    for (const std::string& f : leftovers) EXPECT_FALSE(exists(f)) << f;
    EXPECT_TRUE(exists("notes.1.tmp"));
    EXPECT_TRUE(exists("dl/.download." + std::to_string(::getpid()) + ".0123456789abcdef.part"));
}

// Only what changed is fetched: a file already in place with the listed
// digest (the running updater included) is not. A download that broke off
// goes on from what it kept; when the joined pieces are not the file it is
// fetched whole once more.
TEST_F(UpdateProcedure, OnlyWhatChangedIsFetchedAndABrokenDownloadGoesOn) {
    put("same.bin", "unchanged");
    put(updater_file_name, "running updater");
    serve("files/changed.bin", "new bytes");
    const std::string whole = std::string(5000, 'w');
    std::vector<std::string> ranges;
    server.on("/files/resumed.bin", [&](const testing::recorded_request& r) {
        const std::string range = r.header("Range").value_or("");
        ranges.push_back(range);
        if (range.empty()) return scripted_response::text(200, whole);
        const std::size_t from = std::stoul(range.substr(6));
        scripted_response reply = scripted_response::text(206, whole.substr(from));
        reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-4999/5000");
        return reply;
    });
    // Kept from a download of another version of the file.
    const std::string partial = partial_download_path(prog.string(), "files/resumed.bin");
    fs::create_directories(fs::path(to_native(partial)).parent_path());
    testing::write_bytes(to_native(partial), "other version's first bytes");
    leave_list({{"1", "files/same.bin", "same.bin", sha256_hex("unchanged")},
                {"2", "files/changed.bin", "changed.bin", sha256_hex("new bytes")},
                {"3", "dl/mupdate.new", updater_file_name, sha256_hex("running updater")},
                {"4", "files/resumed.bin", "resumed.bin", sha256_hex(whole)}});
    const update_result r = run();
    EXPECT_EQ(r.installed, 4);
    EXPECT_EQ(r.failed, 0);
    EXPECT_EQ(asked("/files/same.bin"), 0u);
    EXPECT_EQ(asked("/dl/mupdate.new"), 0u);
    EXPECT_EQ(at("changed.bin"), "new bytes");
    EXPECT_TRUE(at("resumed.bin") == whole);
    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=27-", ""}));
    EXPECT_FALSE(fs::exists(to_native(partial)));
    for (const char* order : {"1", "2", "4"}) EXPECT_FALSE(window.log.find("text:" + installed(order)).empty());
}

// With a list key: the list counts only with its signature beside it.
class SignedUpdate : public UpdateProcedure {
protected:
    key_pair keys = *make_key_pair();
    update_result run_signed() { return run_update(window, {{server.base_url(), "", ""}, {}}, keys.pub); }
    void sign_list(const private_key& with) { put("dl/download.xml.sig", signature_text(with, at("dl/download.xml"))); }
};

TEST_F(SignedUpdate, ASignedListIsInstalled) {
    serve("files/a.bin", "aaa");
    serve("dl/mupdate.new", "new updater");
    serve("mirvo.xml", "<mirvo>2.0</mirvo>");
    put("mirvo", "client");
    leave_list({{"1", "files/a.bin", "a.bin", sha256_hex("aaa")},
                {"2", "dl/mupdate.new", updater_file_name, sha256_hex("new updater")}},
               "mirvo.xml", "mirvo", "", list_identity{client_target, "2.0"});
    sign_list(keys.secret);
    const update_result r = run_signed();
    EXPECT_EQ(r.end, update_end::processed);
    EXPECT_EQ(r.installed, 2);
    EXPECT_EQ(r.failed, 0);
    EXPECT_EQ(at("a.bin"), "aaa");
    EXPECT_EQ(at(std::string("dl/") + updater_file_name), "new updater");
    EXPECT_TRUE(r.version_file_fetched);
    EXPECT_TRUE(r.program_started);
    EXPECT_FALSE(exists("dl/download.xml"));
}

// A signed list names what it installs: a list of an older version than the
// installed one, or of another program than the one handed over, installs
// nothing; the version recorded is the list's, whatever the server's version
// document says.
TEST_F(SignedUpdate, NoListTakesAProgramBackOrInstallsAnotherAndTheListsVersionIsRecorded) {
    serve("files/client", "client 3.8");
    put("mirvo", "client 3.9");
    put("mirvo.xml", "<mirvo>3.9</mirvo>");
    auto signed_list = [&](const std::optional<list_identity>& identity) {
        leave_list({{"1", "files/client", "mirvo", sha256_hex("client 3.8")}}, "mirvo.xml", "mirvo", G("已更新"),
                   identity);
        sign_list(keys.secret);
    };
    struct refusal {
        std::optional<list_identity> identity;
        std::string expected_target;
        update_end end;
        std::string box;
    };
    const std::vector<refusal> refusals = {
        {list_identity{client_target, "3.8"}, "", update_end::older_version,
         G("Mirvo更新程序：更新信息中的版本3.8比已经安装的版本3.9还旧，没有安装任何文件。")},
        {list_identity{"mdemo.exe", "9.0"}, client_target, update_end::wrong_target,
         G("Mirvo更新程序：这份更新信息不属于要更新的程序，没有安装任何文件。")},
        {std::nullopt, "", update_end::refused,
         G("Mirvo更新程序：更新信息没有注明要更新的程序和版本，没有安装任何文件。")},
    };
    for (const refusal& c : refusals) {
        window.boxes.clear();
        signed_list(c.identity);
        if (!c.expected_target.empty()) put("dl/download.xml.target", c.expected_target);
        const update_result r = run_signed();
        EXPECT_EQ(r.end, c.end) << gbk_to_utf8(c.box);
        EXPECT_EQ(window.boxes, std::vector<std::string>{c.box});
        EXPECT_EQ(at("mirvo"), "client 3.9");
        EXPECT_TRUE(window.starts.empty());
        EXPECT_EQ(asked("/files/client"), 0u);
    }

    // Newer, with a version document that lies: the list's version stands.
    serve("files/client", "client 4.0");
    server.on("/mirvo.xml", scripted_response::text(200, "<mirvo>99999</mirvo>"));
    fs::remove(prog / "dl/download.xml.target");
    leave_list({{"1", "files/client", "mirvo", sha256_hex("client 4.0")}}, "mirvo.xml", "mirvo", "",
               list_identity{client_target, "4.0"});
    put("dl/download.xml.target", client_target);
    sign_list(keys.secret);
    update_result r = run_signed();
    EXPECT_EQ(r.end, update_end::processed);
    EXPECT_EQ(at("mirvo"), "client 4.0");
    EXPECT_FALSE(r.version_file_fetched);
    EXPECT_TRUE(r.version_recorded);
    EXPECT_EQ(at("mirvo.xml"), "<mirvo>4.0</mirvo>\r\n");
    EXPECT_FALSE(exists("dl/download.xml.target"));
    // The same version again, with a document that agrees: it is installed.
    server.on("/mirvo.xml", scripted_response::text(200, "<mirvo>4.0</mirvo><show_message>x</show_message>"));
    leave_list({{"1", "files/client", "mirvo", sha256_hex("client 4.0")}}, "mirvo.xml", "mirvo", "",
               list_identity{client_target, "4.0"});
    sign_list(keys.secret);
    r = run_signed();
    EXPECT_TRUE(r.version_file_fetched);
    EXPECT_EQ(at("mirvo.xml"), "<mirvo>4.0</mirvo><show_message>x</show_message>");
    EXPECT_FALSE(exists("dl/.version"));
}

TEST_F(SignedUpdate, AnAlteredUnsignedOrForeignListIsNoUpdateAndTouchesNothing) {
    serve("files/a.bin", "evil");
    put("a.bin", "old");
    put("mirvo", "client");
    const key_pair stranger = *make_key_pair();
    auto list = [&] { leave_list({{"1", "files/a.bin", "a.bin"}}, "files/ver.xml", "mirvo", "msg"); };
    struct refusal {
        const char* what;
        std::function<void()> prepare;
    };
    const std::vector<refusal> cases = {
        {"one byte altered after signing",
         [&] {
             list();
             sign_list(keys.secret);
             std::string text = at("dl/download.xml");
             text[text.find("a.bin\" />")] = 'b';
             put("dl/download.xml", text);
         }},
        {"no signature", [&] { list(); }},
        {"an empty signature",
         [&] {
             list();
             put("dl/download.xml.sig", "");
         }},
        {"signed with another key",
         [&] {
             list();
             sign_list(stranger.secret);
         }},
        {"the signature of another list",
         [&] {
             leave_list({{"1", "files/a.bin", "other.bin"}});
             sign_list(keys.secret);
             list();
         }},
    };
    for (const refusal& c : cases) {
        fs::remove(prog / "dl/download.xml.sig");
        window.boxes.clear();
        c.prepare();
        const update_result r = run_signed();
        EXPECT_EQ(r.end, update_end::refused) << c.what;
        EXPECT_EQ(window.boxes, std::vector<std::string>{G("Mirvo更新程序，没有发现更新信息。")}) << c.what;
        EXPECT_TRUE(window.starts.empty()) << c.what;
        EXPECT_EQ(at("a.bin"), "old") << c.what;
        EXPECT_TRUE(exists("dl/download.xml")) << c.what;
    }
    // Nothing but the test page was asked for.
    EXPECT_EQ(asked("/testinternet.txt"), cases.size());
    EXPECT_EQ(server.request_count(), cases.size());
}

}  // namespace
}  // namespace mirvo
