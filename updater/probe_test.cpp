// The probe against scripted servers on 127.0.0.1: only an exact test page
// counts, the first answering candidate wins, the coded sets decide nothing.
#include "updater/probe.h"

#include "common/protocol/updater_code.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

namespace mirvo {
namespace {

using testing::scripted_response;
using testing::test_http_server;

constexpr const char* answer = "your internet is ok!";

coded_fragment_sets coded(const std::string& first, const std::string& second) {
    auto cut = [](const std::string& url) {
        const std::string c = updater_digit_code(url, updater_encrypt_mode).text;
        return std::array<std::string, 3>{c.substr(0, 5), c.substr(5, 7), c.substr(12)};
    };
    return {cut(first), cut(second)};
}

TEST(Probe, OnlyTheExactTestPageCountsAndTheFirstAnsweringCandidateWins) {
    testing::short_transfer_timeouts timeouts;
    test_http_server line_end, wrong_status, right, later;
    line_end.on("/testinternet.txt", scripted_response::text(200, std::string(answer) + "\r\n"));
    wrong_status.on("/testinternet.txt", scripted_response::text(404, answer));
    right.on("/base/testinternet.txt", scripted_response::text(200, answer));
    later.on("/testinternet.txt", scripted_response::text(200, answer));

    EXPECT_EQ(probe_server({{line_end.base_url(), wrong_status.base_url(), right.base_url() + "/base"}, {}}),
              right.base_url() + "/base");
    EXPECT_EQ(line_end.request_count(), 1u);
    EXPECT_EQ(wrong_status.request_count(), 1u);
    EXPECT_EQ(right.requests().at(0).target, "/base/testinternet.txt");

    // The primary answers: nobody else is asked, and coded sets naming
    // another server change nothing.
    const auto primary = probe_server({{later.base_url(), right.base_url(), line_end.base_url()},
                                       coded(line_end.base_url(), wrong_status.base_url())});
    EXPECT_EQ(primary, later.base_url());
    EXPECT_EQ(right.request_count(), 1u);
    EXPECT_EQ(line_end.request_count(), 1u);
}

TEST(Probe, NoAnsweringCandidateGivesNoServerWhateverTheCodedSetsSay) {
    testing::short_transfer_timeouts timeouts;
    test_http_server answering, silent_page;
    answering.on("/testinternet.txt", scripted_response::text(200, answer));
    silent_page.on("/testinternet.txt", scripted_response::text(200, ""));
    // Not http, a 200 with another body, a closed port.
    test_http_server closed;
    const std::string closed_url = closed.base_url();
    closed.stop();
    const probe_candidates candidates{{"https://127.0.0.1:1", silent_page.base_url(), closed_url},
                                      coded(answering.base_url(), answering.base_url())};
    EXPECT_EQ(probe_server(candidates), std::nullopt);
    EXPECT_EQ(silent_page.request_count(), 1u);
    EXPECT_EQ(answering.request_count(), 0u);
}

TEST(Probe, TheBuildCodesTheAlternateServersIntoTheSets) {
    const probe_candidates c = configured_candidates();
    EXPECT_EQ(c.plain[1], MIRVO_TEST_UPDATER_SERVER_2);
    EXPECT_EQ(c.plain[2], MIRVO_TEST_UPDATER_SERVER_3);
    const char* expected[] = {MIRVO_TEST_UPDATER_SERVER_2, MIRVO_TEST_UPDATER_SERVER_3};
    for (std::size_t i = 0; i < c.coded.size(); ++i) {
        for (const std::string& piece : c.coded[i]) EXPECT_FALSE(piece.empty());
        const updater_code_result plain =
            updater_digit_code(c.coded[i][0] + c.coded[i][1] + c.coded[i][2], updater_decrypt_mode);
        EXPECT_TRUE(plain.ok());
        EXPECT_EQ(plain.text, expected[i]);
    }
}

}  // namespace
}  // namespace mirvo
