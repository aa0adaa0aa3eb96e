// The HTTP layer against peers that misbehave: slow and silent ones, too many
// of them, oversized heads, pipelines, ranges. Real sockets on 127.0.0.1;
// every case is bounded in connections and seconds.
#include "server/http_server.h"

#include "server/password.h"
#include "server/service.h"
#include "server/store.h"
#include "tests/support/fixtures.h"
#include "tests/support/raw_http.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace mirvo::server {
namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;
using testing::closed_by_peer;
using testing::connect_loopback;
using testing::raw_request;
using testing::raw_response;
using testing::read_response;
using testing::send_all;

constexpr std::size_t big_size = 700 * 1024;

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

// Closes the sockets it holds when it goes.
struct sockets {
    std::vector<int> fds;
    ~sockets() {
        for (int fd : fds) close(fd);
    }
};

class HttpServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new testing::temp_folder;
        const fs::path site = fs::path(folder_->path()) / "site";
        fs::create_directories(site);
        big_ = pattern(big_size);
        testing::write_bytes((site / "big.bin").string(), big_);
        testing::write_bytes((site / "a.txt").string(), "file a");
        std::string error;
        db_ = store::open((fs::path(folder_->path()) / "t.db").string(), error).release();
        ASSERT_TRUE(db_) << error;
        ASSERT_TRUE(db_->add_user("u", hash_password(canonical_password("pw"), 1000), error)) << error;
        service_options so;
        so.site_folder = site.string();
        so.request_page = "service.aspx";
        svc_ = new service(*db_, so);
    }
    static void TearDownTestSuite() {
        delete svc_;
        delete db_;
        delete folder_;
    }

    // A server of its own for each test, with the limits it tries.
    int serve(http_limits limits = quick()) {
        server_ = std::make_unique<http_server>(
            *svc_,
            [this](const std::string& line) {
                std::lock_guard lock(log_mutex_);
                log_.push_back(line);
            },
            limits);
        const int port = server_->bind("127.0.0.1", 0);
        EXPECT_GT(port, 0);
        EXPECT_TRUE(server_->start());
        return port;
    }
    static http_limits quick() {
        http_limits l;
        l.head_deadline = std::chrono::milliseconds(1000);
        return l;
    }
    void TearDown() override { server_.reset(); }

    static testing::temp_folder* folder_;
    static std::string big_;
    static store* db_;
    static service* svc_;
    std::unique_ptr<http_server> server_;
    std::mutex log_mutex_;
    std::vector<std::string> log_;
};

testing::temp_folder* HttpServerTest::folder_ = nullptr;
std::string HttpServerTest::big_;
store* HttpServerTest::db_ = nullptr;
service* HttpServerTest::svc_ = nullptr;

// Peers that send their head one line at a time, as slowly as they like,
// neither hold up a fresh request nor keep their connection past the
// deadline for a whole head.
TEST_F(HttpServerTest, SlowHeadsAreCutAndStallNobody) {
    const int port = serve();
    sockets slow;
    for (int i = 0; i < 80; ++i) {
        const int fd = connect_loopback(port, 5);
        ASSERT_GE(fd, 0);
        send_all(fd, "GET /a.txt HTTP/1.1\r\n");
        slow.fds.push_back(fd);
    }
    const auto opened = clock_type::now();
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        for (int line = 0; line < 25 && !done; ++line) {
            for (int fd : slow.fds) send_all(fd, "X-Line: " + std::to_string(line) + "\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    raw_response fresh = raw_request(port, "GET", "/a.txt", {}, 0.9);
    EXPECT_EQ(fresh.status, 200);
    EXPECT_EQ(fresh.body, "file a");

    int cut = 0;
    for (int fd : slow.fds)
        cut += closed_by_peer(fd, 3.0 - std::chrono::duration<double>(clock_type::now() - opened).count());
    done = true;
    trickle.join();
    EXPECT_EQ(cut, 80) << "slow heads still open 3 s after a 1 s deadline";
}

// Connections that say nothing cost a descriptor, not a worker: hundreds of
// them do not delay a fresh client, and each is closed after the deadline,
// as is a kept-alive connection that asks nothing more.
TEST_F(HttpServerTest, IdleConnectionsDelayNobody) {
    http_limits limits = quick();
    limits.max_per_address = 400;
    const int port = serve(limits);
    sockets idle;
    for (int i = 0; i < 300; ++i) {
        const int fd = connect_loopback(port, 5);
        ASSERT_GE(fd, 0);
        idle.fds.push_back(fd);
    }
    const int kept = connect_loopback(port, 5);
    ASSERT_GE(kept, 0);
    idle.fds.push_back(kept);
    send_all(kept, "GET /a.txt HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string pending;
    EXPECT_EQ(read_response(kept, pending).status, 200);
    const auto opened = clock_type::now();

    for (int i = 0; i < 5; ++i) {
        raw_response fresh = raw_request(port, "GET", "/a.txt", {}, 0.5);
        EXPECT_EQ(fresh.status, 200) << "request " << i << " waited behind idle connections";
    }
    int closed = 0;
    for (int fd : idle.fds)
        closed += closed_by_peer(fd, 3.0 - std::chrono::duration<double>(clock_type::now() - opened).count());
    EXPECT_EQ(closed, 301);
}

// One network cannot take more than its share, all of them together no more
// than the total. A connection over a limit is not dropped: it waits for a
// slot, and once it has waited too long it is told to come back (503 with
// Retry-After), which is logged.
TEST_F(HttpServerTest, ConnectionsBeyondTheLimitsWaitForASlot) {
    http_limits limits = quick();
    limits.head_deadline = std::chrono::milliseconds(5000);
    limits.max_per_address = 4;
    limits.max_connections = 10;
    limits.min_idle = std::chrono::milliseconds(60000);  // nobody is closed for others here
    limits.slot_wait = std::chrono::milliseconds(1500);
    limits.threads = 1;
    const int port = serve(limits);
    auto ask = [](int fd) {
        send_all(fd, "GET /a.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        std::string pending;
        return read_response(fd, pending);
    };
    sockets held;
    for (int i = 0; i < 4; ++i) held.fds.push_back(connect_loopback(port, 3, "127.0.10.1"));
    for (int fd : held.fds) ASSERT_GE(fd, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int fifth = connect_loopback(port, 3, "127.0.10.2");  // the same /24
    ASSERT_GE(fifth, 0);
    EXPECT_FALSE(closed_by_peer(fifth, 0.5)) << "a fifth connection from one network was dropped";
    close(held.fds.back());
    held.fds.pop_back();
    EXPECT_EQ(ask(fifth).status, 200) << "the waiting connection did not get the freed slot";
    close(fifth);

    held.fds.push_back(connect_loopback(port, 3, "127.0.10.1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int late = connect_loopback(port, 3, "127.0.10.3");
    ASSERT_GE(late, 0);
    const raw_response busy = ask(late);
    close(late);
    EXPECT_EQ(busy.status, 503);
    EXPECT_FALSE(busy.header("Retry-After").empty());

    // 4 + 4 + 2 = 10 connections: the next one, from yet another network,
    // waits until one of them goes.
    for (const char* source : {"127.0.11.1", "127.0.11.1", "127.0.11.1", "127.0.11.1", "127.0.12.1", "127.0.12.1"})
        held.fds.push_back(connect_loopback(port, 3, source));
    for (int fd : held.fds) ASSERT_GE(fd, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int eleventh = connect_loopback(port, 3, "127.0.13.1");
    ASSERT_GE(eleventh, 0);
    send_all(eleventh, "GET /a.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_FALSE(closed_by_peer(eleventh, 0.3));
    close(held.fds.back());
    held.fds.pop_back();
    std::string pending;
    EXPECT_EQ(read_response(eleventh, pending).status, 200);
    close(eleventh);

    server_->stop();
    std::lock_guard lock(log_mutex_);
    EXPECT_NE(std::find_if(log_.begin(), log_.end(),
                           [](const std::string& l) {
                               return l.rfind("127.0.10.3 - - 503 ", 0) == 0 &&
                                      l.find("no connection slot free") != std::string::npos;
                           }),
              log_.end());
}

// Idle connections (kept alive after a request, or trickling their heads)
// holding every slot do not keep a fresh client waiting: the longest idle
// make room.
TEST_F(HttpServerTest, IdleConnectionsGiveWayToFreshClients) {
    http_limits limits = quick();
    limits.max_connections = 50;
    limits.head_deadline = std::chrono::milliseconds(30000);
    const int port = serve(limits);
    sockets held;
    for (int a = 1; a <= 10; ++a) {
        const std::string from = "127.0.3." + std::to_string(a);
        for (int i = 0; i < 5; ++i) {
            const int fd = connect_loopback(port, 5, from);
            ASSERT_GE(fd, 0);
            held.fds.push_back(fd);
            if (a <= 5) {
                send_all(fd, "GET /a.txt HTTP/1.1\r\nHost: x\r\n\r\n");
                std::string pending;
                ASSERT_EQ(read_response(fd, pending).status, 200);
            } else {
                send_all(fd, "GET /a.txt HTTP/1.1\r\n");
            }
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (int k = 1; k <= 5; ++k) {
        const auto t0 = clock_type::now();
        const raw_response r = raw_request(port, "GET", "/a.txt", {}, 1.0, "127.0.4." + std::to_string(k));
        EXPECT_EQ(r.status, 200) << "a fresh client waited "
                                 << std::chrono::duration<double>(clock_type::now() - t0).count() << " s";
    }
}

// Connections that come and go by the hundred while every slot is taken,
// each closed at once for the next: the service goes on answering, and
// stops when told.
TEST_F(HttpServerTest, ChurnAtTheLimitLeavesTheServiceWhole) {
    http_limits limits = quick();
    limits.max_connections = 10;
    limits.min_idle = std::chrono::milliseconds(0);
    limits.threads = 2;
    const int port = serve(limits);
    for (int round = 0; round < 40; ++round) {
        sockets churn;
        for (int i = 0; i < 30; ++i) {
            const int fd = connect_loopback(port, 1, "127.0.20." + std::to_string(1 + i));
            if (fd < 0) continue;
            send_all(fd, "GET /a.txt HTTP/1.1\r\n");
            churn.fds.push_back(fd);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(raw_request(port, "GET", "/a.txt", {}, 3, "127.0.21.1").status, 200);
    const auto t0 = clock_type::now();
    server_->stop();
    EXPECT_LT(clock_type::now() - t0, std::chrono::seconds(3));
}

// A NUL byte in the target or in a header would cut it short unseen (the
// rest of the line silently ignored), and an HTTP/1.1 request must name its
// host: such requests are refused.
TEST_F(HttpServerTest, NulBytesAndMissingHostsAreRefused) {
    const int port = serve();
    auto status = [&](const std::string& bytes) {
        const int fd = connect_loopback(port, 3);
        if (fd < 0) return -1;
        send_all(fd, bytes);
        std::string pending;
        const int st = read_response(fd, pending).status;
        close(fd);
        return st;
    };
    using namespace std::string_literals;
    EXPECT_EQ(status("GET /a.txt\0/../big.bin HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"s), 400);
    EXPECT_EQ(status("GET /a.txt?q=1\0z HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"s), 400);
    EXPECT_EQ(status("GET /a.txt HTTP/1.1\r\nHost: x\r\nRange: bytes=0-1\0,0-\r\nConnection: close\r\n\r\n"s), 400);
    EXPECT_EQ(status("GET /a.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\nX-Last: b\0c\r\n\r\n"s), 400);
    EXPECT_EQ(status("GET /a.txt HTTP/1.1\r\nConnection: close\r\n\r\n"), 400);
    EXPECT_EQ(status("GET /a.txt HTTP/1.0\r\n\r\n"), 200);
    EXPECT_EQ(status("GET /a.txt HTTP/1.1\nHost: x\nX-A:  b \nConnection: close\n\n"), 200);
    EXPECT_EQ(status("GET /a.txt HTTP/1.1\r\nHost: x\r\nX-Empty:\r\nConnection: close\r\n\r\n"), 200);
}

// A head with too many lines, or too large in all, is refused without being
// stored; one within the caps is served.
TEST_F(HttpServerTest, RequestHeadsAreCappedInSizeAndCount) {
    const int port = serve();
    auto with_lines = [](int n, std::size_t value_bytes) {
        std::vector<std::string> h;
        for (int i = 0; i < n; ++i) h.push_back("X-H" + std::to_string(i) + ": " + std::string(value_bytes, 'v'));
        return h;
    };
    EXPECT_EQ(raw_request(port, "GET", "/a.txt", with_lines(40, 10)).status, 200);
    EXPECT_EQ(raw_request(port, "GET", "/a.txt", with_lines(150, 1)).status, 431);
    EXPECT_EQ(raw_request(port, "GET", "/a.txt", with_lines(4, 12000)).status, 431);

    // A million header lines: refused as soon as the buffer is full, long
    // before they are all sent.
    const int fd = connect_loopback(port, 3);
    ASSERT_GE(fd, 0);
    send_all(fd, "GET /a.txt HTTP/1.1\r\nHost: x\r\n");
    const std::string block = [] {
        std::string b;
        for (int i = 0; i < 1000; ++i) b += "X-A: b\r\n";
        return b;
    }();
    int blocks = 0;
    while (blocks < 1000 && send_all(fd, block)) ++blocks;
    std::string pending;
    raw_response r = read_response(fd, pending);
    close(fd);
    EXPECT_TRUE(r.status == 431 || r.status == 0) << r.head;
    EXPECT_LT(blocks, 1000) << "a million header lines were all taken in";
    EXPECT_EQ(raw_request(port, "GET", "/a.txt").status, 200);
}

TEST_F(HttpServerTest, RangesServeOnePartAtMost) {
    const int port = serve();
    const std::string size = std::to_string(big_size);
    raw_response r = raw_request(port, "GET", "/big.bin", {"Range: bytes=100-199"});
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, big_.substr(100, 100));
    EXPECT_EQ(r.header("Content-Range"), "bytes 100-199/" + size);

    r = raw_request(port, "GET", "/big.bin", {"Range: bytes=-10"});
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, big_.substr(big_size - 10));
    r = raw_request(port, "GET", "/big.bin", {"Range: bytes=716000-"});
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.body, big_.substr(716000));
    r = raw_request(port, "GET", "/big.bin", {"Range: bytes=716799-999999999"});
    EXPECT_EQ(r.body, big_.substr(716799));

    r = raw_request(port, "GET", "/big.bin", {"Range: bytes=" + size + "-"});
    EXPECT_EQ(r.status, 416);
    EXPECT_EQ(r.header("Content-Range"), "bytes */" + size);
    EXPECT_TRUE(r.body.empty());

    // 2,700 ranges of the whole file: the reply is the file once. Only the
    // head is read first, so that a reply of gigabytes fails quickly.
    std::string many = "Range: bytes=0-";
    for (int i = 1; i < 2700; ++i) many += ",0-";
    const int fd = connect_loopback(port, 5);
    ASSERT_GE(fd, 0);
    send_all(fd, "GET /big.bin HTTP/1.1\r\nHost: x\r\n" + many + "\r\n\r\n");
    std::string pending;
    raw_response head_only = read_response(fd, pending, true);
    close(fd);
    EXPECT_EQ(head_only.status, 200);
    EXPECT_EQ(head_only.header("Content-Length"), size);

    r = raw_request(port, "GET", "/big.bin", {"Range: bytes=0-0,5-5"});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, big_);
    r = raw_request(port, "GET", "/big.bin", {"Range: bytes=0-1", "If-Range: \"x\""});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body.size(), big_size);

    r = raw_request(port, "HEAD", "/big.bin", {"Range: bytes=0-9"});
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.header("Content-Length"), "10");
    EXPECT_TRUE(r.body.empty());
    // Pages of the service have no parts.
    r = raw_request(port, "GET", "/testinternet.txt", {"Range: bytes=0-3"});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "your internet is ok!");
}

TEST(ByteRange, ReadsOneRangeAndNothingElse) {
    using k = byte_range;
    auto is = [](byte_range r, k::kind_type kind, std::uint64_t first = 0, std::uint64_t length = 0) {
        return r.kind == kind && (kind != k::part || (r.first == first && r.length == length));
    };
    EXPECT_TRUE(is(requested_range("bytes=0-9", 100), k::part, 0, 10));
    EXPECT_TRUE(is(requested_range("bytes = 5 - 9 ", 100), k::part, 5, 5));
    EXPECT_TRUE(is(requested_range("BYTES=90-", 100), k::part, 90, 10));
    EXPECT_TRUE(is(requested_range("bytes=-200", 100), k::part, 0, 100));
    EXPECT_TRUE(is(requested_range("bytes=99-99999999999999999999999", 100), k::part, 99, 1));
    EXPECT_TRUE(is(requested_range("bytes=100-", 100), k::unsatisfiable));
    EXPECT_TRUE(is(requested_range("bytes=-0", 100), k::unsatisfiable));
    EXPECT_TRUE(is(requested_range("bytes=-5", 0), k::unsatisfiable));
    for (const char* ignored :
         {"bytes=9-0", "bytes=a-b", "bytes=1-2,3-4", "items=0-1", "bytes=-", "bytes 0-1", "bytes=1-2x", ""})
        EXPECT_TRUE(is(requested_range(ignored, 100), k::whole)) << ignored;
}

// Requests sent back to back on one connection are answered in order; after
// a request with a body (which no page here takes) the connection ends
// rather than reading the body as a request.
TEST_F(HttpServerTest, PipelinedRequestsAreAnsweredInOrder) {
    const int port = serve();
    int fd = connect_loopback(port, 3);
    ASSERT_GE(fd, 0);
    send_all(fd,
             "GET /a.txt HTTP/1.1\r\nHost: x\r\n\r\n"
             "GET /testinternet.txt HTTP/1.1\r\nHost: x\r\n\r\n"
             "HEAD /big.bin HTTP/1.1\r\nHost: x\r\n\r\n"
             "GET /a.txt?last HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    std::string pending;
    raw_response first = read_response(fd, pending);
    raw_response second = read_response(fd, pending);
    raw_response third = read_response(fd, pending, true);
    raw_response fourth = read_response(fd, pending);
    EXPECT_EQ(first.body, "file a");
    EXPECT_EQ(second.body, "your internet is ok!");
    EXPECT_EQ(third.status, 200);
    EXPECT_EQ(third.header("Content-Length"), std::to_string(big_size));
    EXPECT_EQ(fourth.body, "file a");
    EXPECT_TRUE(closed_by_peer(fd, 1));
    close(fd);

    fd = connect_loopback(port, 3);
    ASSERT_GE(fd, 0);
    send_all(fd,
             "POST /a.txt HTTP/1.1\r\nHost: x\r\nContent-Length: 38\r\n\r\n"
             "GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n"
             "GET /a.txt HTTP/1.1\r\nHost: x\r\n\r\n");
    pending.clear();
    EXPECT_EQ(read_response(fd, pending).status, 405);
    raw_response after = read_response(fd, pending);
    EXPECT_TRUE(after.status == 0 || after.body == "file a") << after.head;
    close(fd);
}

// Replies on a kept-alive connection go out at once, not after the peer's
// delayed acknowledgement (about 40 ms a request when small writes are held
// back). The median of many requests stays far below that.
TEST_F(HttpServerTest, KeptAliveRepliesAreNotHeldBack) {
    const int port = serve();
    const int fd = connect_loopback(port, 3);
    ASSERT_GE(fd, 0);
    std::vector<double> ms;
    std::string pending;
    for (int i = 0; i < 31; ++i) {
        const auto t0 = clock_type::now();
        send_all(fd, "GET /a.txt HTTP/1.1\r\nHost: x\r\n\r\n");
        raw_response r = read_response(fd, pending);
        ASSERT_EQ(r.status, 200);
        ms.push_back(std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
    }
    close(fd);
    std::sort(ms.begin(), ms.end());
    EXPECT_LT(ms[ms.size() / 2], 20.0);
}

// A log line shows the control bytes of a method escaped, and masks password
// values whatever way their keys are encoded.
TEST_F(HttpServerTest, LogLinesEscapeMethodsAndMaskEncodedKeys) {
    const int port = serve();
    EXPECT_EQ(raw_request(port, "G\x1b[2J", "/a.txt", {}, 2, "127.0.0.7").status, 405);
    EXPECT_EQ(raw_request(port, "GET", "/x?%70assword=secret&p%77=typed", {}, 2, "127.0.0.7").status, 404);
    server_->stop();
    std::lock_guard lock(log_mutex_);
    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(log_[0].rfind("127.0.0.7 G%1B[2J /a.txt 405 ", 0), 0u) << log_[0];
    EXPECT_EQ(log_[1].rfind("127.0.0.7 GET /x?%70assword=***&p%77=*** 404 ", 0), 0u) << log_[1];
}

// Behind a trusted front, a request counts as coming from the client the
// front names (its log line, its login limits); anyone else's header is
// ignored, and so is a header that holds no address. The front's own
// connections carry many clients: no share of one network closes them.
TEST_F(HttpServerTest, ATrustedFrontNamesItsClients) {
    http_limits limits = quick();
    limits.trusted_fronts = {"127.0.0.9"};
    limits.max_per_address = limits.min_share = 1;
    const int port = serve(limits);
    EXPECT_EQ(raw_request(port, "GET", "/a.txt", {"X-Real-IP: 203.0.113.7"}, 2, "127.0.0.9").status, 200);
    EXPECT_EQ(raw_request(port, "GET", "/a.txt", {"X-Real-IP: 203.0.113.7"}, 2, "127.0.0.8").status, 200);
    EXPECT_EQ(raw_request(port, "GET", "/a.txt", {"X-Real-IP: 1.2.3.4 <script>"}, 2, "127.0.0.9").status, 200);

    // One connection of the front waits between requests while others come.
    const int held = connect_loopback(port, 2, "127.0.0.9");
    ASSERT_GE(held, 0);
    const std::string ask = "GET /a.txt HTTP/1.1\r\nHost: x\r\nX-Real-IP: 198.51.100.1\r\n\r\n";
    ASSERT_TRUE(send_all(held, ask));
    std::string pending;
    EXPECT_EQ(read_response(held, pending).status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(raw_request(port, "GET", "/a.txt", {"X-Real-IP: 198.51.100.2"}, 2, "127.0.0.9").status, 200);
    ASSERT_TRUE(send_all(held, ask));
    EXPECT_EQ(read_response(held, pending).status, 200);
    close(held);

    server_->stop();
    std::lock_guard lock(log_mutex_);
    ASSERT_EQ(log_.size(), 8u);
    EXPECT_EQ(log_[0].rfind("203.0.113.7 GET /a.txt 200 ", 0), 0u) << log_[0];
    EXPECT_EQ(log_[1].rfind("127.0.0.8 GET /a.txt 200 ", 0), 0u) << log_[1];
    EXPECT_EQ(log_[2].rfind("127.0.0.9 GET /a.txt 200 ", 0), 0u) << log_[2];
    EXPECT_EQ(log_[3].rfind("198.51.100.1 GET", 0), 0u) << log_[3];
}

}  // namespace
}  // namespace mirvo::server
