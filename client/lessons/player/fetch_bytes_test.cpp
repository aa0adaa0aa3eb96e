#include "client/lessons/player/fetch_bytes.h"

#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace mirvo::player {
namespace {

using testing::scripted_response;
using testing::test_http_server;

TEST(fetch_bytes, binary_bodies_arrive_whole_and_redirects_are_followed) {
    test_http_server server;
    const std::string movie("FWS\x08\x00\x00\x00\x00\xff", 9);
    scripted_response r;
    r.body = movie;
    r.headers = {{"Content-Type", "application/x-shockwave-flash"}};
    server.on("/m/a.swf", r);
    server.on("/old.swf", scripted_response::redirect(302, server.base_url() + "/m/a.swf", "moved"));

    for (const char* path : {"/m/a.swf", "/old.swf"}) {
        const fetched f = fetch_bytes(server.base_url() + path);
        ASSERT_TRUE(f.ok) << path << ": " << f.error;
        EXPECT_EQ(f.body, movie) << path;
        EXPECT_EQ(f.content_type, "application/x-shockwave-flash");
    }
}

TEST(fetch_bytes, failures_leave_no_body) {
    test_http_server server;
    server.on("/cut.swf", scripted_response::cut("FWS\x08partial", 100));
    server.on("/big.swf", scripted_response::text(200, std::string(5000, 'x')));

    const fetched missing = fetch_bytes(server.base_url() + "/none.swf");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.status, 404);
    EXPECT_TRUE(missing.body.empty());

    const fetched cut = fetch_bytes(server.base_url() + "/cut.swf");
    EXPECT_FALSE(cut.ok);
    EXPECT_TRUE(cut.body.empty());

    const fetched big = fetch_bytes(server.base_url() + "/big.swf", nullptr, 4096);
    EXPECT_FALSE(big.ok);
    EXPECT_TRUE(big.body.empty());

    EXPECT_FALSE(fetch_bytes("file:///etc/hostname").ok);
}

TEST(fetch_bytes, a_cancelled_transfer_stops_at_once) {
    test_http_server server;
    server.on("/silent.swf", scripted_response::never_answer());
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    std::thread canceller([cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel->store(true);
    });
    const auto start = std::chrono::steady_clock::now();
    const fetched f = fetch_bytes(server.base_url() + "/silent.swf", cancel);
    canceller.join();
    EXPECT_FALSE(f.ok);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace mirvo::player
