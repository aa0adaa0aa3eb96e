#include "common/http/http.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_http_server.h"
#include "tests/support/ui_fakes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace mirvo {
namespace {

using namespace std::chrono_literals;
using testing::scripted_response;

class HttpGetText : public ::testing::Test {
protected:
    testing::short_transfer_timeouts timeouts;
    testing::test_http_server server;
    std::string url(const std::string& target) const { return server.base_url() + target; }
};

TEST_F(HttpGetText, NonHttpUrlsGiveZeroWithoutTraffic) {
    std::string hostport = "127.0.0.1:" + std::to_string(server.port());
    for (std::string u : {"https://" + hostport + "/t", hostport + "/t", "ftp://" + hostport + "/t",
                          std::string("http://"), "http://" + hostport + "0000/t"})
        EXPECT_EQ(http_get_text(u), "0") << u;
    EXPECT_EQ(server.connection_count(), 0u);
}

TEST_F(HttpGetText, OnlyStatus200YieldsTheBody) {
    server.on("/testinternet.txt", scripted_response::text(200, "your internet is ok!"));
    server.on("/crlf", scripted_response::text(200, "line\r\n"));
    server.on("/missing", scripted_response::text(404, "<html>not here</html>"));
    server.on("/moved", scripted_response::redirect(302, url("/testinternet.txt"), "moved body"));
    server.on("/empty", scripted_response::text(200, ""));
    server.on("/error", scripted_response::text(500, "oops"));

    EXPECT_EQ(http_get_text(url("/testinternet.txt")), "your internet is ok!");
    EXPECT_EQ(http_get_text(url("/crlf")), "line\r\n");
    EXPECT_EQ(http_get_text(url("/missing")), "");
    EXPECT_EQ(http_get_text(url("/empty")), "");
    EXPECT_EQ(http_get_text(url("/error")), "");

    std::size_t before = server.request_count();
    EXPECT_EQ(http_get_text(url("/moved")), "");
    EXPECT_EQ(server.request_count(), before + 1) << "the redirect must not be followed";
}

TEST_F(HttpGetText, SendsTheFixedHeaderBlockAndAFreshConnectionEachTime) {
    server.on("/page?x=1", scripted_response::text(200, "ok"));
    ASSERT_EQ(http_get_text(url("/page?x=1")), "ok");
    ASSERT_EQ(http_get_text(url("/page?x=1")), "ok");

    auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_NE(reqs[0].connection, reqs[1].connection);
    const auto& r = reqs[0];
    EXPECT_EQ(r.request_line, "GET /page?x=1 HTTP/1.1");
    EXPECT_EQ(r.header("User-Agent"), "MyProgram/1.0");
    EXPECT_EQ(r.header("Accept"), "text/*");
    EXPECT_EQ(r.header("Cache-Control"), "no-cache");
    EXPECT_EQ(r.raw_head.find("MFC_Tear_Sample"), std::string::npos);
    EXPECT_FALSE(r.header("Accept-Encoding"));
}

TEST_F(HttpGetText, UrlBytesGoOnTheWireAsGiven) {
    // GBK names (one with a trail byte 0x5C), doubled slashes and dot segments.
    std::string target = "/a//b/../\xd5\xc5\x95\x5c.aspx?user=\xd5\xc5\xc8\xfd&pw=%41";
    server.on(target, scripted_response::text(200, "hit"));
    EXPECT_EQ(http_get_text(url(target)), "hit");

    // Bytes that would break the request line are escaped, not sent raw.
    EXPECT_EQ(http_get_text(url("/q?user=a b\r\nX-Injected: 1")), "");
    auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].target, target);
    EXPECT_EQ(reqs[1].target, "/q?user=a%20b%0D%0AX-Injected:%201");
    EXPECT_FALSE(reqs[1].header("X-Injected"));
}

TEST_F(HttpGetText, ReadsInPiecesWhereANulEndsItsPiece) {
    // Pieces of 29 bytes: the NUL in the first drops the rest of that piece
    // only; the GBK character split by the piece boundary survives.
    std::string first = std::string("hello") + '\0' + std::string(23, 'x');
    std::string second = std::string(28, 'a') + "\xd5";
    std::string third =
        "\xc5"
        "tail";
    std::string body = first + second + third;
    ASSERT_EQ(first.size(), 29u);

    // Delivered in uneven pieces with pauses: the outcome must not depend on them.
    scripted_response slow = scripted_response::text(200, "");
    for (std::size_t i = 0; i < body.size(); i += 7) slow.pieces.push_back({body.substr(i, 7), 5});
    server.on("/nul", scripted_response::text(200, body));
    server.on("/nul-slow", slow);

    std::string expected = "hello" + second + third;
    EXPECT_EQ(http_get_text(url("/nul")), expected);
    EXPECT_EQ(http_get_text(url("/nul-slow")), expected);
}

TEST_F(HttpGetText, BodyWithoutLengthOrChunkedIsReadToTheEnd) {
    std::string body(5000, 'z');
    server.on("/close", scripted_response::without_length(body));
    scripted_response chunked = scripted_response::text(200, "");
    chunked.chunked = true;
    chunked.pieces = {{"abc", 0}, {"def", 20}, {"ghi", 0}};
    server.on("/chunked", chunked);

    EXPECT_EQ(http_get_text(url("/close")), body);
    EXPECT_EQ(http_get_text(url("/chunked")), "abcdefghi");
}

TEST_F(HttpGetText, ABrokenReplyIsNoReply) {
    server.on("/cut", scripted_response::cut("<reply><ok>1</ok>", 400));
    scripted_response chunk_cut = scripted_response::text(200, "");
    chunk_cut.chunked = true;
    chunk_cut.end_chunks = false;
    chunk_cut.pieces = {{"<reply>", 0}, {"<ok>1</ok>", 0}};
    server.on("/chunk-cut", chunk_cut);
    scripted_response reset = scripted_response::cut("<reply>", 100);
    reset.reset_at_end = true;
    server.on("/reset", reset);

    EXPECT_EQ(http_get_text(url("/cut")), "");
    EXPECT_EQ(http_get_text(url("/chunk-cut")), "");
    EXPECT_EQ(http_get_text(url("/reset")), "");
}

TEST_F(HttpGetText, SilentPeerAndRefusedConnectionEndPromptly) {
    server.on("/silent", scripted_response::never_answer());
    scripted_response stalls = scripted_response::text(200, "");
    stalls.pieces = {{"<reply>", 0}, {"</reply>", 10000}};
    server.on("/stalls", stalls);

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(http_get_text(url("/silent")), "");
    EXPECT_EQ(http_get_text(url("/stalls")), "");
    auto elapsed = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(elapsed, 6s);

    int port;
    {
        testing::test_http_server closed;
        port = closed.port();
    }
    EXPECT_EQ(http_get_text("http://127.0.0.1:" + std::to_string(port) + "/x"), "");
}

TEST(HttpGetTextCap, ATricklingReplyIsCutOffByTheOverallLimit) {
    // Never silent for long enough to trip the stall limit, yet endless.
    testing::short_transfer_timeouts timeouts(800ms, 2000ms, 1500ms);
    testing::test_http_server server;
    scripted_response trickle = scripted_response::text(200, "");
    for (int i = 0; i < 60; ++i) trickle.pieces.push_back({"x", 100});
    server.on("/trickle", trickle);

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(http_get_text(server.base_url() + "/trickle"), "");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 4s);

    // A limit of its own replaces the overall one for that fetch.
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(http_get_text(server.base_url() + "/trickle", 300ms), "");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1200ms);
}

// A body beyond any reply of the protocol is no reply, whether its length is
// declared up front or only found while reading.
TEST(HttpGetTextCap, ABodyBeyondTheSizeCapIsNoReply) {
    testing::test_http_server server;
    const std::string too_big(max_page_bytes + 1, 'a');
    server.on("/declared", scripted_response::text(200, too_big));
    server.on("/undeclared", scripted_response::without_length(too_big));
    server.on("/fits", scripted_response::text(200, std::string(max_page_bytes, 'a')));
    EXPECT_EQ(http_get_text(server.base_url() + "/declared"), "");
    EXPECT_EQ(http_get_text(server.base_url() + "/undeclared"), "");
    EXPECT_EQ(http_get_text(server.base_url() + "/fits").size(), max_page_bytes);
}

// The page fetch pumps events while the server is quiet; when the program
// asks to end meanwhile, nobody waits for the reply any more.
TEST(HttpGetTextPump, AQuitWhileWaitingEndsTheFetchAndStartsNoOther) {
    testing::test_http_server server;
    server.on("/silent", scripted_response::never_answer());
    testing::recording_pump pump(nullptr, false);
    pump.quit_after_drains = 3;

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(http_get_text(server.base_url() + "/silent"), "");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);  // the stall limit is 30 s
    EXPECT_GE(pump.drains, 3);
    ASSERT_TRUE(server.wait_for_requests(1, 2s));
    EXPECT_EQ(http_get_text(server.base_url() + "/silent"), "");
    EXPECT_EQ(server.request_count(), 1u);
}

}  // namespace
}  // namespace mirvo
