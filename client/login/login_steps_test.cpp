// The login's fetch of a download list for the updater, against a scripted
// server on 127.0.0.1: with an update key only a list signed with it stays
// where the updater reads it.
#include "client/login/login_steps.h"

#include "client/login/session.h"
#include "common/sign/sign.h"
#include "common/sign/update_identity.h"
#include "common/text/gbk.h"
#include "common/ui/status.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace mirvo {
namespace {

namespace fs = std::filesystem;
using testing::scripted_response;

class FetchDownloadList : public ::testing::Test {
protected:
    FetchDownloadList() { fs::create_directories(prog / "dl"); }
    ~FetchDownloadList() override { update_key().reset(); }

    testing::temp_folder outer;
    fs::path prog = fs::path(outer.path()) / "prog";
    testing::short_transfer_timeouts timeouts;
    testing::test_http_server server;
    no_wait_pump pump;
    scoped_message_pump use_pump{pump};
    key_pair keys = *make_key_pair();
    const std::string list = "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<download>\r\n</download>\r\n";

    bool fetch() { return fetch_download_list(nullptr, nullptr, server.base_url(), prog.string(), "/dl/download.xml"); }
    void serve(const std::string& list_bytes, const std::string& signature) {
        server.on("//dl/download.xml", scripted_response::text(200, list_bytes));
        server.on("//dl/download.xml.sig", scripted_response::text(200, signature));
    }
    bool listed() const { return fs::exists(prog / "dl/download.xml"); }
    bool signature_beside() const { return fs::exists(prog / "dl/download.xml.sig"); }
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const auto& r : server.requests()) out.push_back(r.target);
        return out;
    }
};

TEST_F(FetchDownloadList, WithoutAKeyTheListIsTakenAsItComes) {
    serve(list, "not a signature");
    EXPECT_TRUE(fetch());
    EXPECT_EQ(testing::read_bytes((prog / "dl/download.xml").string()), list);
    EXPECT_FALSE(signature_beside());
    EXPECT_EQ(targets(), std::vector<std::string>{"//dl/download.xml"});
}

TEST_F(FetchDownloadList, ASignedListStandsWithItsSignature) {
    update_key() = keys.pub;
    serve(list, signature_text(keys.secret, list));
    EXPECT_TRUE(fetch());
    EXPECT_EQ(testing::read_bytes((prog / "dl/download.xml").string()), list);
    EXPECT_EQ(check_list_signature(keys.pub, prog.string() + "\\dl\\download.xml"), list_signature::valid);
    EXPECT_EQ(targets(), (std::vector<std::string>{"//dl/download.xml", "//dl/download.xml.sig"}));
}

TEST_F(FetchDownloadList, AnAlteredUnsignedOrForeignListIsRemoved) {
    update_key() = keys.pub;
    std::string altered = list;
    altered[altered.find("<download>") + 1] = 'D';
    const key_pair stranger = *make_key_pair();
    struct refusal {
        const char* what;
        std::string list_bytes, signature;
        int signature_status = 200;
    };
    for (const refusal& c : {refusal{"altered by one byte", altered, signature_text(keys.secret, list)},
                             refusal{"unsigned", list, "", 404},
                             refusal{"signed by another key", list, signature_text(stranger.secret, list)},
                             refusal{"a signature that is no signature", list, "ok\n"}}) {
        server.on("//dl/download.xml", scripted_response::text(200, c.list_bytes));
        server.on("//dl/download.xml.sig", scripted_response::text(c.signature_status, c.signature));
        EXPECT_FALSE(fetch()) << c.what;
        EXPECT_FALSE(listed()) << c.what;
        EXPECT_FALSE(signature_beside()) << c.what;
    }
}

TEST_F(FetchDownloadList, AListAndSignatureFromBeforeNeverPassForANewOne) {
    update_key() = keys.pub;
    testing::write_bytes((prog / "dl/download.xml").string(), list);
    testing::write_bytes((prog / "dl/download.xml.sig").string(), signature_text(keys.secret, list));
    // The new list cannot be fetched, and its signature is not there either.
    server.on("//dl/download.xml", scripted_response::text(404, "none"));
    EXPECT_FALSE(fetch());
    EXPECT_FALSE(listed());
    EXPECT_FALSE(signature_beside());

    // The list arrives, but its signature cannot be fetched: the old one
    // beside it must not vouch for it.
    testing::write_bytes((prog / "dl/download.xml.sig").string(), signature_text(keys.secret, list));
    server.on("//dl/download.xml", scripted_response::text(200, list));
    server.on("//dl/download.xml.sig", scripted_response::text(404, "none"));
    EXPECT_FALSE(fetch());
    EXPECT_FALSE(listed());
}

// With a key the login also checks the version document's signature and
// date: one signed too long ago, or not signed, may be someone keeping newer
// releases back, and the caption says so. Without a key nothing changes.
TEST_F(FetchDownloadList, AnOldOrUnsignedVersionDocumentIsCalledStale) {
    testing::write_bytes((prog / "mirvo.xml").string(), "<mirvo>3.8</mirvo>");
    const auto document = [](int days_ago) {
        return "<mirvo>3.9</mirvo><show_message>new</show_message><published>" +
               signed_date_text(std::time(nullptr) - days_ago * 86400 - 60) + "</published>";
    };
    struct age_case {
        const char* what;
        std::string doc, signature;
        bool stale;
        int age_days;
    };
    update_key() = keys.pub;
    const std::vector<age_case> cases = {
        {"fresh", document(2), signature_text(keys.secret, document(2)), false, 2},
        {"old", document(40), signature_text(keys.secret, document(40)), true, 40},
        {"unsigned", document(2), "", true, -1},
        {"signed by another", document(2), signature_text(make_key_pair()->secret, document(2)), true, -1},
    };
    for (const age_case& c : cases) {
        server.on("/mirvo.xml", scripted_response::text(200, c.doc));
        server.on("/mirvo.xml.sig", scripted_response::text(c.signature.empty() ? 404 : 200, c.signature));
        const version_check v = check_version(server.base_url(), prog.string(), 30);
        EXPECT_TRUE(v.newer) << c.what;
        EXPECT_EQ(v.stale, c.stale) << c.what;
        EXPECT_EQ(v.age_days, c.age_days) << c.what;
    }
    EXPECT_EQ(stale_versions_note({true, "", true, 40}), utf8_to_gbk("（注意：服务器的版本信息已经40天没有更新）"));
    EXPECT_EQ(stale_versions_note({true, "", true, -1}), utf8_to_gbk("（注意：服务器的版本信息没有有效的签名）"));
    EXPECT_EQ(stale_versions_note({true, "", false, 2}), "");

    update_key().reset();
    const std::size_t asked = server.request_count();
    const version_check v = check_version(server.base_url(), prog.string(), 30);
    EXPECT_FALSE(v.stale);
    EXPECT_EQ(server.request_count(), asked + 1);
}

// A version document grown huge (as an unbounded version file once could
// make it) is not read at all: the client starts at once and offers the
// update, whose install records the version again.
TEST_F(FetchDownloadList, AHugeVersionDocumentRecordsNothing) {
    testing::write_bytes((prog / "mirvo.xml").string(), "<mirvo>3.9</mirvo>");
    EXPECT_EQ(recorded_client_version(prog.string()), "3.9");
    testing::write_bytes((prog / "mirvo.xml").string(), "<mirvo>3.9</mirvo>" + std::string(1 << 20, ' '));
    EXPECT_EQ(recorded_client_version(prog.string()), "");
}

}  // namespace
}  // namespace mirvo
