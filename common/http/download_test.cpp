#include "common/fs/paths.h"
#include "common/http/http.h"
#include "common/text/gbk.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_http_server.h"
#include "tests/support/ui_fakes.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace mirvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::scripted_response;

std::string G(const char* utf8) { return utf8_to_gbk(utf8); }

std::string slurp(const std::string& native) {
    std::ifstream in(native, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const std::string& native, const std::string& bytes) { std::ofstream(native, std::ios::binary) << bytes; }

std::set<std::string> entries(const std::string& native_folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(native_folder)) names.insert(e.path().filename().string());
    return names;
}

std::string pattern(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += char('a' + i % 26);
    return s;
}

class Download : public ::testing::Test {
protected:
    testing::short_transfer_timeouts timeouts;
    testing::test_http_server server;
    testing::temp_folder root;
    testing::event_log log;
    testing::recording_status_line status{&log};
    testing::recording_progress_bar bar{&log};
    testing::recording_pump pump{&log};

    int fetch(const std::string& remote, download_variant variant = download_variant::client) {
        return http_download_file(&bar, server.base_url(), remote, root.path(), &status, variant);
    }
    std::string native(const std::string& rel) const { return root.path() + "/" + rel; }
    std::string last_text() const { return status.texts.empty() ? "" : status.texts.back(); }
};

TEST_F(Download, ClientShowsEveryTextInOrderAndStoresTheFile) {
    std::string body = pattern(150);
    server.on("//dl/download.xml", scripted_response::text(200, body));

    ASSERT_EQ(fetch("/dl/download.xml"), download_ok);
    std::string reading = G("正在从互联网读取数据......");
    EXPECT_EQ(status.texts, (std::vector<std::string>{
                                G("完成创建目录!"), "Downloading file:download.xml ...... ", "Opening Internet...",
                                G("连接互联网成功. "), G("正在下载文件: ") + "download.xml", reading, reading + "1",
                                reading + "2", reading + "3", G("完成下载文件:") + "download.xml"}));
    EXPECT_EQ(slurp(native("dl/download.xml")), body);
    EXPECT_EQ(entries(native("dl")), (std::set<std::string>{"download.xml"}));

    auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].target, "//dl/download.xml");
    EXPECT_EQ(reqs[0].header("Accept"), "*/*");
    EXPECT_EQ(reqs[0].header("User-Agent"), "MyProgram/1.0");
    EXPECT_EQ(reqs[0].raw_head.find("MFC_Tear_Sample"), std::string::npos);

    EXPECT_EQ(bar.high, 1);
    EXPECT_EQ(bar.steps, 3);
    EXPECT_FALSE(bar.visible);
}

TEST_F(Download, ThousandBytesGiveTwelveStepsEachAfterAPump) {
    server.on("/big.bin", scripted_response::text(200, pattern(1000)));
    ASSERT_EQ(fetch("big.bin"), download_ok);
    EXPECT_EQ(slurp(native("big.bin")), pattern(1000));

    EXPECT_EQ(bar.low, 0);
    EXPECT_EQ(bar.high, 10);
    EXPECT_EQ(bar.steps, 12);
    std::string reading = G("正在从互联网读取数据......");
    EXPECT_EQ(status.texts[status.texts.size() - 2], reading + "12");

    // Every read (shown by its count) comes after a pump of its own, and its
    // count is painted at once.
    bool pumped = false;
    int counts = 0;
    for (std::size_t i = 0; i < log.events.size(); ++i) {
        const std::string& e = log.events[i];
        if (e == "pump") pumped = true;
        if (e.rfind("text:" + reading, 0) == 0 && e.size() > 5 + reading.size()) {
            ++counts;
            EXPECT_TRUE(pumped) << "no pump before read " << counts;
            pumped = false;
            ASSERT_LT(i + 1, log.events.size());
            EXPECT_EQ(log.events[i + 1], "repaint:status");
        }
    }
    EXPECT_EQ(counts, 12);
}

TEST_F(Download, UpdaterRepaintsEveryTextShowsBareCountsAndSendsItsHeaders) {
    server.on("/mirvo", scripted_response::text(200, pattern(200)));
    ASSERT_EQ(fetch("mirvo", download_variant::updater), download_ok);

    std::vector<std::string> texts;
    for (std::size_t i = 0; i < log.events.size(); ++i) {
        if (log.events[i].rfind("text:", 0) != 0) continue;
        texts.push_back(log.events[i].substr(5));
        ASSERT_LT(i + 1, log.events.size());
        EXPECT_EQ(log.events[i + 1], "repaint:status") << texts.back();
    }
    EXPECT_EQ(texts, (std::vector<std::string>{G("完成创建目录!"), G("准备下载文件:") + "mirvo ...... ",
                                               G("正在连接互联网..."), G("连接互联网成功. "),
                                               G("正在下载文件: ") + "mirvo", G("正在从互联网读取数据......"), "1", "2",
                                               "3", "4", G("完成下载文件:") + "mirvo"}));

    auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 1u);
    auto lines = reqs[0].header_lines();
    for (const char* expected :
         {"User-Agent: MyProgram/1.0", "Accept: image/gif, image/x-xbitmap, image/jpeg,image/pjpeg, image/png, */*",
          "Accept-Encoding: gzip", "Accept-Language:en, bg", "Accept-Charset: iso-8859-1,*,utf-8"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    EXPECT_EQ(reqs[0].raw_head.find("MFC_Tear_Sample"), std::string::npos);
}

TEST_F(Download, CompressedRepliesAreStoredExpanded) {
    std::string plain = pattern(20000);
    server.on("/pack.dat", scripted_response::gzip(plain));
    std::string gz = testing::gzip_bytes(plain);
    scripted_response broken = scripted_response::text(200, gz.substr(0, gz.size() / 2));
    broken.headers.emplace_back("Content-Encoding", "gzip");
    server.on("/broken.dat", broken);

    for (bool wrapped : {true, false}) {
        scripted_response r = scripted_response::text(200, testing::deflate_bytes(plain, wrapped));
        r.headers.emplace_back("Content-Encoding", "deflate");
        server.on(wrapped ? "/zlib.dat" : "/raw.dat", r);
    }

    ASSERT_EQ(fetch("pack.dat", download_variant::updater), download_ok);
    EXPECT_EQ(slurp(native("pack.dat")), plain);
    // The progress counts what came over the wire.
    EXPECT_EQ(bar.high, int(gz.size() / 100));
    for (const char* name : {"zlib.dat", "raw.dat"}) {
        ASSERT_EQ(fetch(name, download_variant::updater), download_ok) << name;
        EXPECT_TRUE(slurp(native(name)) == plain) << name;
    }

    EXPECT_EQ(fetch("broken.dat", download_variant::updater), download_transport_failure);
    EXPECT_EQ(last_text(), G("发生互联网错误. "));
    EXPECT_FALSE(fs::exists(native("broken.dat")));
}

TEST_F(Download, CreatesNestedFoldersForGbkNames) {
    std::string name = G("张三") + ".txt";
    std::string remote = "a/b/" + name;
    server.on("/" + remote, scripted_response::text(200, "nested"));

    ASSERT_EQ(fetch(remote), download_ok);
    EXPECT_EQ(slurp(native("a/b/张三.txt")), "nested");
    for (const auto& t : status.texts) EXPECT_NE(t, G("创建目录失败!"));
}

TEST_F(Download, LocalFileThatCannotBeCreatedFailsWithItsText) {
    put(native("blocked"), "a file, not a folder");
    server.on("/blocked/x.txt", scripted_response::text(200, "x"));
    server.on("/blocked/sub/x.txt", scripted_response::text(200, "x"));

    EXPECT_EQ(fetch("blocked/x.txt"), download_local_failure);
    std::vector<std::string> expected_start = {G("创建目录时发生错误!"), G("完成创建目录!")};
    EXPECT_EQ(std::vector<std::string>(status.texts.begin(), status.texts.begin() + 2), expected_start);
    EXPECT_EQ(last_text(), G("创建文件失败: ") + "blocked/x.txt");
    EXPECT_FALSE(bar.visible);

    status.texts.clear();
    EXPECT_EQ(fetch("blocked/sub/x.txt", download_variant::updater), download_local_failure);
    expected_start = {G("创建目录失败!"), G("完成创建目录!")};
    EXPECT_EQ(std::vector<std::string>(status.texts.begin(), status.texts.begin() + 2), expected_start);
    EXPECT_EQ(last_text(), G("创建文件失败: ") + "blocked/sub/x.txt");
    EXPECT_EQ(slurp(native("blocked")), "a file, not a folder");
}

TEST_F(Download, AFailedTransferLeavesTheOldFileAndNoLeftovers) {
    put(native("keep.txt"), "old");
    server.on("/404/keep.txt", scripted_response::text(404, "gone"));
    server.on("/cut/keep.txt", scripted_response::cut(pattern(2000), 5000));
    server.on("/silent/keep.txt", scripted_response::never_answer());
    scripted_response chunk_cut = scripted_response::text(200, "");
    chunk_cut.chunked = true;
    chunk_cut.end_chunks = false;
    chunk_cut.pieces = {{pattern(300), 0}, {pattern(300), 10}};
    server.on("/chunks/keep.txt", chunk_cut);
    scripted_response stall = scripted_response::text(200, "");
    stall.pieces = {{pattern(500), 0}, {pattern(500), 10000}};
    server.on("/stall/keep.txt", stall);

    // Each case downloads over keep.txt through a base URL ending in the case's folder.
    auto fetch_over = [&](const std::string& folder) {
        return http_download_file(&bar, server.base_url() + "/" + folder, "keep.txt", root.path(), &status,
                                  download_variant::updater);
    };
    EXPECT_EQ(fetch_over("404"), download_bad_url_or_status);
    EXPECT_EQ(last_text(), G("连接互联网失败。"));
    EXPECT_TRUE(bar.visible);

    for (const char* folder : {"cut", "silent", "chunks", "stall"}) {
        EXPECT_EQ(fetch_over(folder), download_transport_failure) << folder;
        EXPECT_EQ(last_text(), G("发生互联网错误. ")) << folder;
        EXPECT_FALSE(bar.visible);
        EXPECT_EQ(slurp(native("keep.txt")), "old") << folder;
        EXPECT_EQ(entries(root.path()), (std::set<std::string>{"keep.txt"})) << folder;
    }
}

TEST_F(Download, BadUrlsAndDeadServersSendNothingOrFailCleanly) {
    int result =
        http_download_file(&bar, "https://127.0.0.1:" + std::to_string(server.port()), "f.txt", root.path(), &status);
    EXPECT_EQ(result, download_bad_url_or_status);
    EXPECT_EQ(last_text(), "Error: can only use URLs beginning with http://");
    EXPECT_TRUE(bar.visible);

    // A remote path that climbs out of the local root is refused before any traffic.
    for (const char* remote : {"../escape.txt", "dl/../../escape.txt", "//etc/escape.txt"})
        EXPECT_EQ(fetch(remote), download_local_failure) << remote;
    EXPECT_EQ(server.connection_count(), 0u);
    EXPECT_FALSE(fs::exists(fs::path(root.path()).parent_path() / "escape.txt"));

    int port;
    {
        testing::test_http_server closed;
        port = closed.port();
    }
    result = http_download_file(&bar, "http://127.0.0.1:" + std::to_string(port), "f.txt", root.path(), &status);
    EXPECT_EQ(result, download_transport_failure);
    EXPECT_EQ(last_text(), G("发生互联网错误. "));
    EXPECT_FALSE(fs::exists(native("f.txt")));
}

TEST_F(Download, UnknownLengthLeavesTheBarEmptyButStoresEverything) {
    server.on("/nolen.txt", scripted_response::without_length(pattern(450)));
    ASSERT_EQ(fetch("nolen.txt"), download_ok);
    EXPECT_EQ(bar.high, 0);
    EXPECT_EQ(bar.steps, 6);  // 4 full reads, 1 of 54 bytes, the empty one
    EXPECT_EQ(slurp(native("nolen.txt")), pattern(450));
}

TEST_F(Download, AWriteFailureIsALocalFailureAndKeepsTheOldFile) {
    put(native("data.bin"), "old");
    server.on("/data.bin", scripted_response::text(200, pattern(600 * 1024)));
    // A file-size limit makes writes fail the way a full disk does.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    int result = fetch("data.bin");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(result, download_local_failure);
    EXPECT_EQ(slurp(native("data.bin")), "old");
    EXPECT_EQ(entries(root.path()), (std::set<std::string>{"data.bin"}));
    // The last word is the failure, not that the download finished.
    EXPECT_EQ(last_text(), G("创建文件失败: ") + "data.bin");
}

TEST_F(Download, ABodyLargerThanTheReceiveWindowArrivesIntact) {
    // A fast server outruns the 99-byte reader, so the transfer is held back
    // and resumed many times on the way.
    std::string body;
    for (int i = 0; body.size() < (3u << 20); ++i) body += std::to_string(i) + ',';
    server.on("/large.bin", scripted_response::text(200, body));
    ASSERT_EQ(http_download_file(nullptr, server.base_url(), "large.bin", root.path(), nullptr), download_ok);
    EXPECT_TRUE(slurp(native("large.bin")) == body);
}

// A pump whose first dispatch takes a long time, as when a handler opens a
// message box in the middle of a download.
class slow_once_pump : public message_pump {
public:
    slow_once_pump() { set_message_pump(this); }
    ~slow_once_pump() override { set_message_pump(nullptr); }
    bool drain() override {
        if (!slept_) std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        slept_ = true;
        return true;
    }
    void wait(double) override {}

private:
    bool slept_ = false;
};

TEST_F(Download, TimeSpentInEventHandlersIsNotServerSilence) {
    scripted_response late = scripted_response::text(200, "late but fine");
    late.delay_before_ms = 1500;  // silent while the handler runs, then within the limit
    server.on("/late.txt", late);
    slow_once_pump slow;  // longer than the 0.8 s stall limit
    EXPECT_EQ(fetch("late.txt"), download_ok);
    EXPECT_EQ(slurp(native("late.txt")), "late but fine");
}

TEST_F(Download, ReplacingAProgramKeepsItExecutable) {
    put(native("mupdate"), "old program");
    ::chmod(native("mupdate").c_str(), 0755);
    server.on("/mupdate", scripted_response::text(200, "new program"));
    ASSERT_EQ(fetch("mupdate", download_variant::updater), download_ok);
    EXPECT_EQ(slurp(native("mupdate")), "new program");
    struct stat st;
    ASSERT_EQ(::stat(native("mupdate").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

// What a server sends is bounded in bytes and in time: too much, too slowly
// or for too long, and the download fails with nothing of it on disk.
TEST_F(Download, ABodyTooLargeTooSlowOrTooLongIsRefusedAndLeavesNothing) {
    transfer_timeouts limits;
    limits.connect = 2000ms;
    limits.stall = 800ms;
    limits.low_speed_bytes = 2000;
    limits.low_speed_window = 600ms;
    limits.download_total = 1500ms;
    set_transfer_timeouts_for_testing(limits);
    put(native("keep.bin"), "old");
    const std::string plain = pattern(300000);
    server.on("/declared/keep.bin", scripted_response::text(200, plain));
    server.on("/undeclared/keep.bin", scripted_response::without_length(plain));
    server.on("/bomb/keep.bin", scripted_response::gzip(std::string(4 << 20, '\0')));
    // A byte every 50 ms: never silent, far below the low-speed limit.
    scripted_response trickle = scripted_response::text(200, "");
    for (int i = 0; i < 100; ++i) trickle.pieces.push_back({"x", 50});
    server.on("/trickle/keep.bin", trickle);
    // Fast enough for the low-speed limit, yet longer than the whole deadline.
    scripted_response steady = scripted_response::text(200, "");
    for (int i = 0; i < 40; ++i) steady.pieces.push_back({pattern(4000), 100});
    server.on("/steady/keep.bin", steady);
    server.on("/fits/keep.bin", scripted_response::text(200, pattern(1000)));

    const download_limits capped{.max_bytes = 100000};
    auto fetch_over = [&](const std::string& folder, const download_limits& l) {
        return http_download_file(&bar, server.base_url() + "/" + folder, "keep.bin", root.path(), &status,
                                  download_variant::updater, l);
    };
    for (const char* folder : {"declared", "undeclared", "bomb"}) {
        EXPECT_EQ(fetch_over(folder, capped), download_transport_failure) << folder;
        EXPECT_EQ(last_text(), G("文件超过了允许的大小: ") + "keep.bin") << folder;
    }
    for (const char* folder : {"trickle", "steady"}) {
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(fetch_over(folder, {}), download_transport_failure) << folder;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 2500ms) << folder;
        EXPECT_EQ(last_text(), G("发生互联网错误. ")) << folder;
    }
    EXPECT_EQ(slurp(native("keep.bin")), "old");
    EXPECT_EQ(entries(root.path()), (std::set<std::string>{"keep.bin"}));

    // The cap itself is allowed, and a file checked byte for byte is asked
    // for uncompressed.
    EXPECT_EQ(fetch_over("fits", {.max_bytes = 1000, .uncompressed = true}), download_ok);
    EXPECT_EQ(slurp(native("keep.bin")), pattern(1000));
    const auto asked = server.requests().back();
    EXPECT_EQ(asked.header("Accept-Encoding"), "identity");
}

// Closing the window that waits for a transfer calls it off, and what that
// work would fetch next is not fetched.
TEST_F(Download, ACancelEndsTheTransferAndEveryLaterOne) {
    put(native("keep.bin"), "old");
    server.on("/silent/keep.bin", scripted_response::never_answer());
    scripted_response flowing = scripted_response::text(200, "");
    for (int i = 0; i < 200; ++i) flowing.pieces.push_back({pattern(5000), 5});
    server.on("/flowing/keep.bin", flowing);
    server.on("/page", scripted_response::text(200, "page"));
    for (const char* folder : {"silent", "flowing"}) {
        transfer_cancel work;
        pump.on_drain = [&, n = 0]() mutable {
            if (++n == 3) work.cancel();
        };
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(http_download_file(&bar, server.base_url() + "/" + folder, "keep.bin", root.path(), &status,
                                     download_variant::updater),
                  download_transport_failure)
            << folder;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 700ms) << folder;
        EXPECT_EQ(slurp(native("keep.bin")), "old") << folder;
        EXPECT_TRUE(transfers_cancelled());
        const std::size_t asked = server.request_count();
        EXPECT_EQ(http_get_text(server.base_url() + "/page"), "") << folder;
        EXPECT_EQ(server.request_count(), asked) << folder;
    }
    pump.on_drain = nullptr;
    EXPECT_FALSE(transfers_cancelled());
    EXPECT_EQ(http_get_text(server.base_url() + "/page"), "page");
}

// A resumable download that breaks off keeps what came beside the file and
// next time asks for the rest; a server that cannot give the rest from there
// gets one request for the whole.
TEST_F(Download, ABrokenOffDownloadGoesOnFromWhatItKept) {
    const std::string body = pattern(200000);
    put(native("keep.bin"), "old");
    const download_limits resumable{.uncompressed = true, .resumable = true};
    auto fetch_resumable = [&] {
        return http_download_file(&bar, server.base_url(), "keep.bin", root.path(), &status, download_variant::updater,
                                  resumable);
    };
    const std::string partial = partial_download_path(root.path(), "keep.bin");
    server.on("/keep.bin", scripted_response::cut(body.substr(0, 80000), body.size()));
    EXPECT_EQ(fetch_resumable(), download_transport_failure);
    EXPECT_EQ(slurp(native("keep.bin")), "old");
    const std::string kept = slurp(to_native(partial));
    EXPECT_GT(kept.size(), 70000u);
    EXPECT_TRUE(body.compare(0, kept.size(), kept) == 0);

    // The rest, asked for from where the kept bytes end.
    std::vector<std::string> ranges;
    server.on("/keep.bin", [&](const testing::recorded_request& r) {
        const std::string range = r.header("Range").value_or("");
        ranges.push_back(range);
        const std::size_t from = range.empty() ? 0 : std::stoul(range.substr(6));
        scripted_response reply = scripted_response::text(range.empty() ? 200 : 206, body.substr(from));
        if (!range.empty())
            reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-" +
                                                            std::to_string(body.size() - 1) + "/" +
                                                            std::to_string(body.size()));
        return reply;
    });
    EXPECT_EQ(fetch_resumable(), download_ok);
    EXPECT_TRUE(slurp(native("keep.bin")) == body);
    EXPECT_EQ(ranges, std::vector<std::string>{"bytes=" + std::to_string(kept.size()) + "-"});
    EXPECT_FALSE(fs::exists(to_native(partial)));

    // Kept bytes the server cannot go on from: the whole file, once more.
    put(to_native(partial), body.substr(0, 1000));
    server.on("/keep.bin", [&](const testing::recorded_request& r) {
        ranges.push_back(r.header("Range").value_or(""));
        return r.header("Range") ? scripted_response::text(416, "") : scripted_response::text(200, body);
    });
    ranges.clear();
    EXPECT_EQ(fetch_resumable(), download_ok);
    EXPECT_TRUE(slurp(native("keep.bin")) == body);
    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=1000-", ""}));
    // A server that ignores the range sends the whole, which replaces what was kept.
    put(to_native(partial), "stale bytes");
    server.on("/keep.bin", scripted_response::text(200, body));
    EXPECT_EQ(fetch_resumable(), download_ok);
    EXPECT_TRUE(slurp(native("keep.bin")) == body);
    EXPECT_FALSE(fs::exists(to_native(partial)));
}

// A folder inside the root that is a link to elsewhere takes no download.
TEST_F(Download, AFolderThatLinksOutOfTheRootTakesNothing) {
    testing::temp_folder elsewhere;
    fs::create_directory_symlink(elsewhere.path(), native("dl"));
    server.on("/dl/sub/x.bin", scripted_response::text(200, "x"));
    EXPECT_EQ(fetch("dl/sub/x.bin", download_variant::updater), download_local_failure);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_EQ(server.request_count(), 0u);
}

TEST(MakeDirectoryPath, CreatesEveryLevelWithEitherSeparatorSteppingByCharacter) {
    testing::temp_folder root;
    testing::recording_status_line status;
    // "\x95\x5c" is one GBK character whose trail byte is a backslash.
    std::string odd = "\x95\x5c";
    std::string path = root.path() + "\\one/two\\\\" + odd + "\\three";
    make_directory_path(path, &status);

    EXPECT_EQ(status.texts, (std::vector<std::string>{G("完成创建目录!")}));
    EXPECT_TRUE(is_directory(path));
    std::string utf8_odd = gbk_to_utf8(odd);
    EXPECT_TRUE(fs::is_directory(root.path() + "/one/two/" + utf8_odd + "/three"));
    EXPECT_EQ(entries(root.path() + "/one/two"), (std::set<std::string>{utf8_odd}));

    make_directory_path(root.path() + "/quiet/level", nullptr);  // no status line: no texts, still made
    EXPECT_TRUE(fs::is_directory(root.path() + "/quiet/level"));
}

}  // namespace
}  // namespace mirvo
