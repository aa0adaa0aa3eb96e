#include "client/forms/suggestion.h"

#include "client/login/session.h"
#include "common/protocol/digit_code.h"
#include "common/text/gbk.h"
#include "common/ui/status.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

namespace mirvo {
namespace {

using mirvo::testing::recorded_request;
using mirvo::testing::scripted_response;
using mirvo::testing::test_http_server;

std::string g(const char* utf8) { return utf8_to_gbk(utf8); }
std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(Suggestion, TheSevenCategoriesInTheirOrder) {
    const auto& c = suggestion_categories();
    ASSERT_EQ(c.size(), 7u);
    EXPECT_EQ(c[0], g("要求改进本程序"));
    EXPECT_EQ(c[3], g("发现课程有错"));
    EXPECT_EQ(c[6], g("其他"));
}

TEST(Suggestion, TheChecksComeInTheirOrderWithTheirLimits) {
    const std::string han = g("好");
    const std::string no_category = g("请选择分类！");
    const std::string too_long = g("字数超过50个了！请修改！");
    const std::string too_short = g("字数小于5个了！字数太少,我们看不明白的哦。呵呵。请修改！");

    EXPECT_EQ(suggestion_refusal(0, repeat(han, 50)), std::nullopt);
    EXPECT_EQ(suggestion_refusal(0, repeat(han, 51)), too_long);
    EXPECT_EQ(suggestion_refusal(2, repeat(han, 5)), std::nullopt);
    EXPECT_EQ(suggestion_refusal(2, "abcdefghi"), too_short);
    EXPECT_EQ(suggestion_refusal(2, "abcdefghij"), std::nullopt);
    // A line break counts two bytes.
    EXPECT_EQ(suggestion_refusal(2, "abcd\r\nefgh"), std::nullopt);
    // Without a category that message comes first, however long the text.
    EXPECT_EQ(suggestion_refusal(-1, ""), no_category);
    EXPECT_EQ(suggestion_refusal(-1, repeat(han, 60)), no_category);
    EXPECT_EQ(suggestion_refusal(7, repeat(han, 10)), no_category);
}

TEST(Suggestion, TheLengthCheckCutsWholeCharactersAndShowsWhatIsLeft) {
    EXPECT_EQ(check_remaining_length("").display, g("当前还可以输入50个汉字"));
    EXPECT_EQ(check_remaining_length(std::string(99, 'a')).display, g("当前还可以输入0个汉字"));
    EXPECT_FALSE(check_remaining_length(std::string(100, 'a')).cut);

    // 99 ASCII bytes and a Chinese character straddling the limit: the
    // character goes whole, nothing half of it stays.
    const length_check straddle = check_remaining_length(std::string(99, 'a') + g("好好"));
    EXPECT_TRUE(straddle.cut);
    EXPECT_EQ(straddle.text, std::string(99, 'a'));
    EXPECT_EQ(straddle.display, g("当前还可以输入0个汉字"));
    // A trail byte that looks like ASCII is never taken for a character.
    const std::string tricky = g("乤");  // 0x81 0x61: its trail byte reads as "a"
    EXPECT_EQ(cut_whole_characters("a" + tricky + tricky, 4), "a" + tricky);
    // A line break is not split either.
    EXPECT_EQ(cut_whole_characters(std::string(99, 'a') + "\r\nb", 100), std::string(99, 'a'));
    EXPECT_EQ(check_remaining_length(repeat(g("好"), 51)).text, repeat(g("好"), 50));
}

TEST(Suggestion, TheRequestCarriesEveryValuePercentEncoded) {
    const session_values s{"http://127.0.0.1:9", "service.aspx", g("小红"), "pw 1"};
    const std::string url = suggestion_request_url(s, 6, g("it's 好\r\n&x=1"));
    const std::string head = "http://127.0.0.1:9/service.aspx?user=%D0%A1%BA%EC&password=";
    const std::string tail = "&action=save_suggest&type=6&content=it%22s%20%BA%C3%0D%0A%26x%3D1";
    ASSERT_EQ(url.rfind(head, 0), 0u);
    ASSERT_GT(url.size(), head.size() + tail.size());
    EXPECT_EQ(url.substr(url.size() - tail.size()), tail);
    EXPECT_EQ(digit_decode(url.substr(head.size(), url.size() - head.size() - tail.size())), "pw 1");
}

class SuggestionSending : public ::testing::Test {
protected:
    SuggestionSending() : saved_(session()) { session() = {server_.base_url(), "service.aspx", "zhang3", "pw1"}; }
    ~SuggestionSending() override { session() = saved_; }

    test_http_server server_;
    no_wait_pump pump_;
    scoped_message_pump use_pump_{pump_};
    session_values saved_;
};

TEST_F(SuggestionSending, OnlyAnExactOkIsASuccess) {
    server_.otherwise(scripted_response::text(200, "<process_result>ok</process_result>"));
    EXPECT_TRUE(send_suggestion(3, g("课程有错误的地方")));
    ASSERT_EQ(server_.request_count(), 1u);
    const recorded_request r = server_.requests()[0];
    EXPECT_EQ(r.method, "GET");
    const std::string tail = "&action=save_suggest&type=3&content=%BF%CE%B3%CC%D3%D0%B4%ED%CE%F3%B5%C4%B5%D8%B7%BD";
    EXPECT_EQ(r.target.rfind("/service.aspx?user=zhang3&password=", 0), 0u);
    EXPECT_EQ(r.target.substr(r.target.size() - tail.size()), tail);

    for (const char* reply :
         {"<process_result>OK</process_result>", "<process_result>ok </process_result>", "<result>ok</result>", ""}) {
        server_.otherwise(scripted_response::text(200, reply));
        EXPECT_FALSE(send_suggestion(3, g("课程有错误的地方"))) << reply;
    }
    server_.otherwise(scripted_response::text(500, "<process_result>ok</process_result>"));
    EXPECT_FALSE(send_suggestion(3, g("课程有错误的地方")));
}

TEST(SuggestionNotes, BothEndWithTheConfiguredContactDetails) {
    std::string details;
    if (const std::string im = MIRVO_TEST_CONTACT_IM; !im.empty()) details += g("QQ：") + im + "  ";
    if (const std::string mail = MIRVO_TEST_CONTACT_EMAIL; !mail.empty()) details += g("电子邮件：") + mail;
    const std::string failure = suggestion_failure_note();
    EXPECT_EQ(failure.rfind(g("糟糕，在保存的时候发生了错误！"), 0), 0u);
    for (const std::string& note : {suggestion_note(), failure}) {
        ASSERT_GT(note.size(), details.size());
        EXPECT_EQ(note.substr(note.size() - details.size()), details);
    }
}

}  // namespace
}  // namespace mirvo
