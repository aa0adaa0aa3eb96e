// Catalogue programs against a scripted service on 127.0.0.1, in a program
// folder of their own: version check, prompt, start and hand-over.
#include "client/lessons/programs.h"

#include "client/login/session.h"
#include "client/res/string_ids.h"
#include "client/res/string_table.h"
#include "common/fs/paths.h"
#include "common/sign/sign.h"
#include "common/text/gbk.h"
#include "common/ui/status.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace mirvo {
namespace {

namespace fs = std::filesystem;
using testing::scripted_response;

class recording_program_window : public program_window {
public:
    struct launch_record {
        std::string path;
        std::vector<std::string> args;
        std::string folder;
    };
    std::vector<std::string> captions;
    std::vector<std::string> questions;
    bool answer_yes = false;
    std::vector<launch_record> launches;

    void set_caption(const std::string& text) override { captions.push_back(text); }
    bool ask_yes_no(const std::string& text) override {
        questions.push_back(text);
        return answer_yes;
    }
    void launch(const std::string& path, const std::vector<std::string>& args, const std::string& folder) override {
        launches.push_back({path, args, folder});
    }
};

class Programs : public ::testing::Test {
protected:
    Programs() : saved_session_(session()) {
        fs::create_directories(prog / "dl");
        set_program_folder(prog.string());
        session() = {server.base_url(), "service.aspx", utf8_to_gbk("张 三&x"), "pw 1"};
        server.otherwise(scripted_response::text(200, "<result>ok</result>"));
    }
    ~Programs() override {
        session() = saved_session_;
        update_key().reset();
        set_program_folder({});
    }

    testing::temp_folder outer;
    fs::path prog = fs::path(outer.path()) / "prog";
    testing::short_transfer_timeouts timeouts;
    testing::test_http_server server;
    no_wait_pump pump;
    scoped_message_pump use_pump{pump};
    recording_program_window window;

    void put(const std::string& rel, const std::string& bytes) { testing::write_bytes((prog / rel).string(), bytes); }
    std::string at(const std::string& rel) const { return testing::read_bytes((prog / rel).string()); }
    void server_version(const std::string& v) {
        server.on("/mgame.xml", scripted_response::text(200, "<version>" + v + "</version>"));
    }
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const auto& r : server.requests()) out.push_back(r.target);
        return out;
    }
    std::string folder() const { return prog.string(); }
    program_start start(const std::string& name) { return start_program(window, name, "37"); }

    std::vector<std::string> credentials() const {
        return {"user_name=" + utf8_to_gbk("张 三&x"), "user_password=pw 1"};
    }

private:
    session_values saved_session_;
};

TEST_F(Programs, ANewerVersionIsOfferedAndNoStartsTheInstalledOneWithTheCredentials) {
    put("mgame.exe", "program");
    put("mgame.xml", "<version>1.2</version>");
    server_version("1.3");

    EXPECT_EQ(start("mgame.exe"), program_start::started);

    EXPECT_EQ(window.questions, std::vector<std::string>{load_string(str::new_program_version)});
    ASSERT_EQ(window.launches.size(), 1u);
    EXPECT_EQ(window.launches[0].path, folder() + "\\mgame.exe");
    EXPECT_EQ(window.launches[0].args, credentials());
    EXPECT_EQ(window.launches[0].folder, folder());
    EXPECT_EQ(window.captions, (std::vector<std::string>{join_strings({str::please_wait, str::online}) + "37",
                                                         load_string(str::online) + "37"}));
    // The game action first, naming the program; then its version document.
    const auto t = targets();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_NE(t[0].find("&lesson_id=0010&lesson_dir=mgame.exe&action=game"), std::string::npos) << t[0];
    EXPECT_EQ(t[1], "/mgame.xml");
}

TEST_F(Programs, YesHandsTheProgramToTheUpdaterAndTheClientGoesOn) {
    put("mgame.exe", "program");
    put("mgame.xml", "<version>1.2</version>");
    server_version("1.3");
    const std::string list = "<download><file order=\"1\" get_name=\"dl/mgame/mgame.exe\" save_as=\"mgame.exe\" />";
    server.on("//dl/download_mgame.xml", scripted_response::text(200, list));
    window.answer_yes = true;

    EXPECT_EQ(start("mgame.exe"), program_start::handed_over);

    EXPECT_EQ(at("dl/download_mgame.xml"), list);
    EXPECT_EQ(at("dl/download.xml"), list);
    ASSERT_EQ(window.launches.size(), 1u);
    EXPECT_EQ(window.launches[0].path, folder() + "\\mupdate");
    EXPECT_TRUE(window.launches[0].args.empty());
    EXPECT_EQ(window.launches[0].folder, folder());
    EXPECT_EQ(window.captions.back(), load_string(str::online) + "37");
}

TEST_F(Programs, EqualVersionsOrNoServerDocumentStartAtOnce) {
    put("mgame.exe", "program");
    put("mgame.xml", "<version>1.2</version>");
    server_version("1.20");
    EXPECT_EQ(start("mgame.exe"), program_start::started);
    server.on("/mgame.xml", scripted_response::text(404, "<version>9</version>"));
    EXPECT_EQ(start("mgame.exe"), program_start::started);
    EXPECT_TRUE(window.questions.empty());
    EXPECT_EQ(window.launches.size(), 2u);

    // No installed version document but one on the server: the prompt.
    fs::remove(prog / "mgame.xml");
    server_version("0.1");
    EXPECT_EQ(start("mgame.exe"), program_start::started);
    EXPECT_EQ(window.questions.size(), 1u);
}

TEST_F(Programs, AMissingProgramIsHandedOverWithoutAPromptAndNeverWithAnOldList) {
    server.on("//dl/download_mgame.xml", scripted_response::text(200, "<download>new</download>"));
    EXPECT_EQ(start("mgame.exe"), program_start::handed_over);
    EXPECT_TRUE(window.questions.empty());
    EXPECT_EQ(at("dl/download.xml"), "<download>new</download>");
    const auto asked = targets();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "/mgame.xml"), 0);

    // The list cannot be fetched now: the updater finds none rather than
    // the one from before.
    server.on("//dl/download_mgame.xml", scripted_response::text(404, "none"));
    window.launches.clear();
    EXPECT_EQ(start("mgame.exe"), program_start::handed_over);
    EXPECT_FALSE(fs::exists(prog / "dl/download.xml"));
    EXPECT_FALSE(fs::exists(prog / "dl/download_mgame.xml"));
    ASSERT_EQ(window.launches.size(), 1u);
    EXPECT_EQ(window.launches[0].path, folder() + "\\mupdate");
}

TEST_F(Programs, WithAnUpdateKeyOnlyASignedListReachesTheUpdaterWithItsSignature) {
    const key_pair keys = *make_key_pair();
    update_key() = keys.pub;
    const std::string list = "<download><file order=\"1\" get_name=\"dl/mgame/mgame.exe\" save_as=\"mgame.exe\" />";
    const std::string signature = signature_text(keys.secret, list);
    server.on("//dl/download_mgame.xml.sig", scripted_response::text(200, signature));

    server.on("//dl/download_mgame.xml", scripted_response::text(200, list));
    EXPECT_EQ(start("mgame.exe"), program_start::handed_over);
    EXPECT_EQ(at("dl/download.xml"), list);
    EXPECT_EQ(at("dl/download.xml.sig"), signature);
    // The updater holds the list to the program the user chose.
    EXPECT_EQ(at("dl/download.xml.target"), "mgame.exe");

    // Altered on the way: the signed list from before is gone with its
    // signature, and the updater is started to say it found nothing.
    server.on("//dl/download_mgame.xml", scripted_response::text(200, list + "<file order=\"2\" />"));
    EXPECT_EQ(start("mgame.exe"), program_start::handed_over);
    EXPECT_FALSE(fs::exists(prog / "dl/download.xml"));
    EXPECT_FALSE(fs::exists(prog / "dl/download.xml.sig"));
    EXPECT_FALSE(fs::exists(prog / "dl/download.xml.target"));
    EXPECT_FALSE(fs::exists(prog / "dl/download_mgame.xml"));
    ASSERT_EQ(window.launches.size(), 2u);
    EXPECT_EQ(window.launches[1].path, folder() + "\\mupdate");
}

TEST_F(Programs, AShortNameHasAnEmptyBaseName) {
    EXPECT_EQ(names_of_program("ab").base, "");
    EXPECT_EQ(names_of_program("abcd").base, "");
    EXPECT_EQ(names_of_program("ab").version_document, ".xml");
    EXPECT_EQ(names_of_program("ab").list_name, "download_.xml");
    EXPECT_EQ(names_of_program("mdemo.exe").list_name, "download_mdemo.xml");

    put("ab", "program");
    server.on("/.xml", scripted_response::text(200, "<version>1</version>"));
    EXPECT_EQ(start("ab"), program_start::started);
    EXPECT_EQ(window.questions.size(), 1u);
    EXPECT_EQ(window.launches[0].path, folder() + "\\ab");
}

TEST_F(Programs, ANameThatLeavesTheProgramFolderStartsNothing) {
    fs::create_directories(fs::path(outer.path()) / "dl");
    testing::write_bytes(outer.path() + "/evil.exe", "outside");
    server.on("//dl/download_../evil.xml", scripted_response::text(200, "<download/>"));
    for (const char* name :
         {"../evil.exe", "..\\evil.exe", "C:\\evil.exe", "\\\\host\\evil.exe", "", "dl/../../evil.exe"}) {
        EXPECT_EQ(start(name), program_start::refused) << name;
        EXPECT_EQ(window.captions.back(), load_string(str::online) + "37");
    }
    EXPECT_TRUE(window.launches.empty());
    EXPECT_TRUE(window.questions.empty());
    for (const std::string& t : targets()) EXPECT_NE(t.find("action=game"), std::string::npos) << t;
    EXPECT_TRUE(fs::is_empty(fs::path(outer.path()) / "dl"));
    EXPECT_TRUE(fs::is_empty(prog / "dl"));
}

}  // namespace
}  // namespace mirvo
