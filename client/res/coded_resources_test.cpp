#include "client/res/coded_resources.h"

#include "client/res/string_table.h"
#include "common/protocol/code_tables.h"
#include "common/protocol/digit_code.h"
#include "common/text/gbk.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace mirvo {
namespace {

// The build codes the configured values; here they must decode back.
TEST(CodedConstants, DecodeToTheConfiguredValues) {
    EXPECT_EQ(server_candidate_url(0), MIRVO_TEST_SERVER_1);
    EXPECT_EQ(server_candidate_url(1), MIRVO_TEST_SERVER_2);
    EXPECT_EQ(server_candidate_url(2), MIRVO_TEST_SERVER_3);
    EXPECT_EQ(server_candidate_url(3), "");
    EXPECT_EQ(request_page_name(), MIRVO_TEST_REQUEST_PAGE);
    EXPECT_EQ(profile_key(), MIRVO_TEST_PROFILE_KEY);
    EXPECT_EQ(password_document_name(), MIRVO_TEST_PASSWORD_DOC);
}

TEST(CodedConstants, StoredOnlyAsDigitsOverTheirIds) {
    for (int id : {237, 238, 239, 240, 241, 242, 243, 244, 245, 252, 254, 255, 256, 259})
        EXPECT_TRUE(std::regex_match(coded_constant_text(id), std::regex("[0-9]+"))) << id;
    for (int id : {236, 246, 253, 257, 258, 260, 270}) EXPECT_EQ(coded_constant_text(id), "") << id;
    // Split, not repeated: no piece alone decodes to the whole value.
    EXPECT_NE(digit_decode(coded_constant_text(254)), request_page_name());
}

}  // namespace
}  // namespace mirvo

TEST(StringTable, HandsOutTextsAsGbkAndTheCodedResources) {
    EXPECT_EQ(mirvo::load_string(264), mirvo::utf8_to_gbk("在线人数:"));
    EXPECT_EQ(mirvo::load_string(260), "your internet is ok!");
    EXPECT_EQ(mirvo::load_string(999), "");
    EXPECT_EQ(mirvo::load_string(271), mirvo::code_table_text(271));
    EXPECT_EQ(mirvo::join_strings({254, 255, 256}),
              mirvo::coded_constant_text(254) + mirvo::coded_constant_text(255) + mirvo::coded_constant_text(256));
    EXPECT_EQ(mirvo::digit_decode(mirvo::join_strings({254, 255, 256})), mirvo::request_page_name());
}
