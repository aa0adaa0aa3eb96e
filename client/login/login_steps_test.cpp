// The login's fetch of a download list for the updater, against a scripted
// server on 127.0.0.1: with an update key only a list signed with it stays
// where the updater reads it.
#include "client/login/login_steps.h"

#include "client/login/session.h"
#include "common/sign/sign.h"
#include "common/ui/status.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace mirvo
