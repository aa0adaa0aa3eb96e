#include "common/protocol/request.h"

#include "common/protocol/digit_code.h"
#include "common/ui/status.h"
#include "common/xmltext/xmltext.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace mirvo {
namespace {

class RequestUrl : public ::testing::Test {
protected:
    // Splits off the password digits, checks they decode to the session
    // password (lower-cased), and returns the URL with them replaced by "#".
    static std::string with_password_masked(const std::string& url) {
        static const std::regex pw("&password=([0-9]+)(&|$)");
        std::smatch m;
        EXPECT_TRUE(std::regex_search(url, m, pw)) << url;
        if (m.empty()) return url;
        EXPECT_EQ(digit_decode(m[1].str()), "secret9");
        return m.prefix().str() + "&password=#" + m[2].str() + m.suffix().str();
    }

    session_values s_{"http://127.0.0.1:18080", "service.aspx", "zhang3", "Secret9"};
    no_wait_pump pump_;
    scoped_message_pump use_pump_{pump_};
};

TEST_F(RequestUrl, EveryActionInKeyOrder) {
    const std::string head = "http://127.0.0.1:18080/service.aspx?user=zhang3&password=#";
    const std::string lesson_keys = "&lesson_id=0010&lesson_dir=";
    const std::string empty;
    const std::string dir = "music/01";
    const std::string logout = "logout";
    struct row {
        std::string action;
        const std::string* folder;
        std::string expected;
    };
    const std::vector<row> rows = {
        {"login", nullptr, head + "&action=login"},
        {"baselist", &empty, head + lesson_keys + "&action=baselist"},
        {"lesson", &dir, head + lesson_keys + "music%2F01&action=lesson"},
        {"", &empty, head + lesson_keys + "&action="},  // the poll
        {"game", &dir, head + lesson_keys + "music%2F01&action=game"},
        {"ad", nullptr, head + "&action=ad"},
        {"save_suggest", nullptr, head + "&action=save_suggest"},
        {"logout", &logout, head + "&lesson_id=0010&lesson_dir=logout&action=logout"},
    };
    for (const row& r : rows) EXPECT_EQ(with_password_masked(build_request_url(s_, r.action, r.folder)), r.expected);
}

TEST_F(RequestUrl, FreshPasswordDigitsEveryRequest) {
    // Real pauses: the table choice follows the clock.
    set_message_pump(nullptr);
    const std::string a = build_request_url(s_, "ad", nullptr);
    const std::string b = build_request_url(s_, "ad", nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(with_password_masked(a), with_password_masked(b));
}

TEST_F(RequestUrl, ValuesArePercentEncodedAsGbkBytes) {
    s_.user = "li si&x=1";
    const std::string folder = "\xD2\xF4\xC0\xD6 a+b";  // GBK "音乐" a+b
    const std::string url = with_password_masked(build_request_url(s_, "lesson", &folder));
    EXPECT_EQ(url,
              "http://127.0.0.1:18080/service.aspx?user=li%20si%26x%3D1&password=#"
              "&lesson_id=0010&lesson_dir=%D2%F4%C0%D6%20a%2Bb&action=lesson");
    // Letters, digits and the unreserved marks go out unchanged.
    EXPECT_EQ(url_encode_value("Az09-._~"), "Az09-._~");
    EXPECT_EQ(url_encode_value("a/b c/%"), "a%2Fb%20c%2F%25");
    EXPECT_EQ(url_encode_value("a/b c/%", true), "a/b%20c/%25");
    EXPECT_EQ(url_encode_value(std::string("\0\x7F\xFF", 3)), "%00%7F%FF");
}

std::string file_records(std::initializer_list<const char*> orders) {
    std::string doc = "<online_num>3</online_num>";
    for (const char* o : orders)
        doc += std::string("<file name=\"m") + o + ".swf\" order=\"" + o + "\" delay_time=\"5\"/>";
    return doc;
}

std::vector<std::string> read_names(const std::string& doc, record_stop stop) {
    std::vector<std::string> names;
    const int n = read_records(doc, "file", "name", stop, [&](const std::string& order) {
        names.push_back(xml_get_value(doc, "file", "order", order, "name"));
    });
    EXPECT_EQ(n, static_cast<int>(names.size()));
    return names;
}

using names = std::vector<std::string>;

TEST(ReadRecords, StopRules) {
    const std::string gap_1_2_4 = file_records({"1", "2", "4"});
    EXPECT_EQ(read_names(gap_1_2_4, record_stop::first_empty), (names{"m1.swf", "m2.swf"}));
    EXPECT_EQ(read_names(gap_1_2_4, record_stop::gap_tolerant), (names{"m1.swf", "m2.swf", "m4.swf"}));

    // Ten missing numbers are bridged, eleven are not.
    EXPECT_EQ(read_names(file_records({"1", "2", "13"}), record_stop::gap_tolerant),
              (names{"m1.swf", "m2.swf", "m13.swf"}));
    EXPECT_EQ(read_names(file_records({"1", "2", "14"}), record_stop::gap_tolerant), (names{"m1.swf", "m2.swf"}));
    // The miss count starts again after every hit.
    EXPECT_EQ(read_names(file_records({"11", "22", "33"}), record_stop::gap_tolerant),
              (names{"m11.swf", "m22.swf", "m33.swf"}));
    EXPECT_EQ(read_names(file_records({"12"}), record_stop::gap_tolerant), names{});
}

TEST(ReadRecords, OrderTextMustMatchExactly) {
    EXPECT_EQ(read_names(file_records({"01"}), record_stop::gap_tolerant), names{});
    EXPECT_EQ(read_names(file_records({"01", "2"}), record_stop::first_empty), names{});
    EXPECT_EQ(read_names(file_records({" 1"}), record_stop::first_empty), names{});
    // A record without its key value counts as missing.
    EXPECT_EQ(read_names("<file name=\"\" order=\"1\"/><file name=\"b\" order=\"2\"/>", record_stop::gap_tolerant),
              names{"b"});
}

TEST(ReadRecords, NonDocumentsGiveNothing) {
    EXPECT_EQ(read_names("", record_stop::gap_tolerant), names{});
    EXPECT_EQ(read_names("<html><body>Service unavailable</body></html>", record_stop::first_empty), names{});
    EXPECT_EQ(read_records("<ad text=\"x\" order=\"1\"/>", "ad", "text", record_stop::first_empty, nullptr), 1);
}

}  // namespace
}  // namespace mirvo
