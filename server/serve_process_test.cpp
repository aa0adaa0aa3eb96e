// mirvo-server as it runs: a child process with an output pipe and a
// descriptor limit of its own, so that a log nobody reads and a service short
// of descriptors are tried without touching the test's own. Bounded in
// connections and seconds.
#include "common/xmltext/xmltext.h"
#include "server/demo_site.h"
#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"
#include "tests/support/raw_http.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace mirvo::server {
namespace {

namespace fs = std::filesystem;
using testing::child_options;
using testing::child_process;
using testing::raw_request;
using testing::raw_response;

class ServeProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path root = folder_.path();
        site_ = (root / "site").string();
        db_ = (root / "mirvo.db").string();
        std::ofstream(root / "program.bin") << "program";
        demo_options o;
        o.site = site_;
        o.db = db_;
        o.program_path = (root / "program.bin").string();
        o.base_url = "http://127.0.0.1:1";
        o.iterations = 1000;
        std::string error;
        ASSERT_TRUE(init_demo(o, error, [](const std::string&) {})) << error;
    }

    // Starts `mirvo-server serve` on a free port; false when it did not say
    // where it listens.
    bool start(const child_options& o) {
        server_ = std::make_unique<child_process>(
            MIRVO_SERVER_BINARY, std::vector<std::string>{"serve", "--port", "0", "--site", site_, "--db", db_}, o);
        const std::optional<std::string> banner = server_->read_line(10);
        const std::string marker = "http://127.0.0.1:";
        const std::size_t at = banner ? banner->find(marker) : std::string::npos;
        if (at == std::string::npos) return false;
        port_ = std::atoi(banner->c_str() + at + marker.size());
        return port_ > 0;
    }

    testing::temp_folder folder_;
    std::string site_, db_;
    std::unique_ptr<child_process> server_;
    int port_ = 0;
};

// Nobody reads the log (a stuck shipper, a paused terminal): the service goes
// on answering, drops what it cannot write and says so once it can.
TEST_F(ServeProcessTest, ALogNobodyReadsHoldsUpNoReply) {
    child_options o;
    o.pipe_bytes = 4096;
    ASSERT_TRUE(start(o));
    for (int i = 0; i < 2000; ++i) {
        const raw_response r = raw_request(port_, "GET", "/testinternet.txt", {}, 3);
        ASSERT_EQ(r.status, 200) << "request " << i << " while the log was not read";
    }
    std::vector<std::string> lines = server_->read_lines(1.0, 10);
    EXPECT_EQ(raw_request(port_, "GET", "/testinternet.txt?after").status, 200);
    for (const std::string& line : server_->read_lines(1.0, 10)) lines.push_back(line);
    bool told = false, after = false;
    for (const std::string& line : lines) {
        told = told || line.find("log lines dropped") != std::string::npos;
        after = after || line.find("/testinternet.txt?after 200") != std::string::npos;
    }
    EXPECT_TRUE(told) << "the dropped lines were not counted in the log; " << lines.size()
                      << " lines, the last: " << (lines.empty() ? "" : lines.back());
    EXPECT_TRUE(after) << "the log did not go on once it was read again";
    EXPECT_EQ(server_->stop(), 0);
}

// A thousand slow downloads from a service started with the usual soft limit
// of 1,024 descriptors: every reply holds a socket and a file, yet a file that
// exists is never answered as missing, and the version document still comes.
TEST_F(ServeProcessTest, DescriptorsRunningShortNeverMakeAFileMissing) {
    // The test holds a thousand sockets itself.
    rlimit own{};
    getrlimit(RLIMIT_NOFILE, &own);
    own.rlim_cur = own.rlim_max;
    setrlimit(RLIMIT_NOFILE, &own);
    ASSERT_GE(own.rlim_cur, 1200u);
    testing::write_bytes((fs::path(site_) / "big.bin").string(), std::string(1 << 20, 'b'));

    child_options o;
    o.nofile_soft = 1024;
    o.nofile_hard = 1536;
    ASSERT_TRUE(start(o));
    std::atomic<bool> done{false};
    std::thread drain([&] {
        while (!done) server_->read_lines(0.2, 0.5);
    });

    std::vector<int> downloads;
    for (int i = 0; i < 1000; ++i) {
        const int fd = testing::connect_slow_reader(port_, "127.0.1." + std::to_string(1 + i / 10));
        if (fd < 0) break;
        testing::send_all(fd, "GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n");
        downloads.push_back(fd);
    }
    EXPECT_EQ(downloads.size(), 1000u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    std::map<int, int> probes;
    for (int i = 0; i < 30; ++i) {
        const raw_response r = raw_request(port_, "GET", "/mirvo.xml", {}, 5, "127.0.2.1");
        ++probes[r.status];
        if (r.status == 200) {
            EXPECT_FALSE(xml_get_value(r.body, "mirvo").empty());
        } else if (r.status == 503) {
            EXPECT_FALSE(r.header("Retry-After").empty());
        }
    }
    int missing = 0;
    for (int fd : downloads) {
        char head[64] = {};
        if (recv(fd, head, sizeof head - 1, MSG_DONTWAIT) > 12)
            missing += std::string(head).rfind("HTTP/1.1 404", 0) == 0;
        close(fd);
    }
    done = true;
    drain.join();
    EXPECT_EQ(missing, 0) << "downloads of a file that exists answered 404";
    EXPECT_EQ(probes[404], 0) << "the version document answered 404";
    EXPECT_EQ(probes[0], 0) << "the version document went unanswered";
    EXPECT_GE(probes[200], 20);
}

}  // namespace
}  // namespace mirvo::server
