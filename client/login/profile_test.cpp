#include "client/login/profile.h"

#include "client/login/password_file.h"
#include "client/res/coded_resources.h"
#include "common/http/http.h"
#include "common/protocol/digit_code.h"
#include "common/ui/status.h"
#include "common/xmltext/xmltext.h"
#include "tests/support/fixtures.h"
#include "tests/support/ui_fakes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace mirvo {
namespace {

namespace fs = std::filesystem;
using names = std::vector<std::string>;

std::string slurp(const fs::path& p) { return mirvo::testing::read_bytes(p.string()); }

void spit(const fs::path& p, const std::string& bytes) { mirvo::testing::write_bytes(p.string(), bytes); }

class Profile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = temp_.path();
        folder_ = dir_.string();
    }
    std::string profile_bytes() const { return slurp(dir_ / "mirvo_user.xml"); }
    bool write(const names& listed, const std::string& user, const std::string& pw, bool auto_login) {
        return write_user_profile(listed, user, pw, auto_login, &status_, folder_);
    }

    mirvo::testing::temp_folder temp_;
    fs::path dir_;
    std::string folder_;
    no_wait_pump pump_;
    scoped_message_pump use_pump_{pump_};
    testing::recording_status_line status_;
};

TEST_F(Profile, FirstLoginOnThisComputer) {
    user_profile empty = read_user_profile(folder_);
    EXPECT_TRUE(empty.users.empty());
    EXPECT_EQ(empty.default_user, "");
    EXPECT_FALSE(empty.auto_login);

    ASSERT_TRUE(write(empty.users, "alice", "pw", false));
    EXPECT_EQ(profile_bytes(),
              "<user name=\"alice\" order=\"1\" /><default_user_name>alice</default_user_name>\r\n"
              "<auto_login>false</auto_login>");
    EXPECT_FALSE(fs::exists(dir_ / "alice.dat"));
    const user_profile p = read_user_profile(folder_);
    EXPECT_EQ(p.users, names{"alice"});
    EXPECT_EQ(p.default_user, "alice");
    EXPECT_FALSE(p.auto_login);
    EXPECT_EQ(p.password, "");
}

TEST_F(Profile, KnownAndNewUsers) {
    // A known user: the list stays, renumbered in list order.
    ASSERT_TRUE(write({"alice", "bob"}, "bob", "pw", false));
    EXPECT_EQ(profile_bytes(),
              "<user name=\"alice\" order=\"1\" />\r\n<user name=\"bob\" order=\"2\" />\r\n"
              "<default_user_name>bob</default_user_name>\r\n<auto_login>false</auto_login>");
    // A new user is appended without a line end; the default user follows on its line.
    ASSERT_TRUE(write({"alice", "bob"}, "\xD5\xC5\xC8\xFD", "pw", false));  // GBK name
    EXPECT_EQ(profile_bytes(),
              "<user name=\"alice\" order=\"1\" />\r\n<user name=\"bob\" order=\"2\" />\r\n"
              "<user name=\"\xD5\xC5\xC8\xFD\" order=\"3\" /><default_user_name>\xD5\xC5\xC8\xFD</default_user_name>"
              "\r\n<auto_login>false</auto_login>");
    const user_profile p = read_user_profile(folder_);
    EXPECT_EQ(p.users, (names{"alice", "bob", "\xD5\xC5\xC8\xFD"}));
    EXPECT_EQ(p.default_user, "\xD5\xC5\xC8\xFD");
    // The search for the name is exact: "Bob" is another user.
    ASSERT_TRUE(write(p.users, "Bob", "pw", false));
    EXPECT_EQ(read_user_profile(folder_).users, (names{"alice", "bob", "\xD5\xC5\xC8\xFD", "Bob"}));
}

TEST_F(Profile, OrdersOneTwoFourDropTheFourth) {
    spit(dir_ / "mirvo_user.xml",
         "<user name=\"a\" order=\"1\" />\r\n<user name=\"b\" order=\"2\" />\r\n<user name=\"d\" order=\"4\" />"
         "<default_user_name>d</default_user_name>\r\n<auto_login>false</auto_login>");
    const user_profile p = read_user_profile(folder_);
    EXPECT_EQ(p.users, (names{"a", "b"}));
    EXPECT_EQ(p.default_user, "d");
    ASSERT_TRUE(write(p.users, "a", "pw", false));
    EXPECT_EQ(profile_bytes(),
              "<user name=\"a\" order=\"1\" />\r\n<user name=\"b\" order=\"2\" />\r\n"
              "<default_user_name>a</default_user_name>\r\n<auto_login>false</auto_login>");
}

TEST_F(Profile, AutoLoginKeepsThePasswordLowerCased) {
    ASSERT_TRUE(write({}, "alice", "Secret-9", true));
    EXPECT_EQ(profile_bytes(),
              "<user name=\"alice\" order=\"1\" /><default_user_name>alice</default_user_name>\r\n"
              "<auto_login>true</auto_login>");
    // The password file is the sealed document and nothing else.
    const std::string sealed = slurp(dir_ / "alice.dat");
    // (password_cipher itself is checked against OpenSSL in password_file_test.)
    const std::string document = password_cipher(profile_key(), sealed);
    EXPECT_EQ(document.rfind("<password>", 0), 0u) << document;
    EXPECT_EQ(digit_decode(xml_get_value(document, "password")), "secret-9");
    EXPECT_EQ(document.size(), sealed.size());
    // The plain document never reached the disk.
    EXPECT_FALSE(fs::exists(dir_ / password_document_name()));

    user_profile p = read_user_profile(folder_);
    EXPECT_TRUE(p.auto_login);
    EXPECT_EQ(p.password, "secret-9");

    // Switching it off keeps the file but no longer uses it.
    ASSERT_TRUE(write(p.users, "alice", "Secret-9", false));
    EXPECT_TRUE(fs::exists(dir_ / "alice.dat"));
    p = read_user_profile(folder_);
    EXPECT_FALSE(p.auto_login);
    EXPECT_EQ(p.password, "");
}

TEST_F(Profile, MissingPasswordFileGivesAnEmptyPassword) {
    spit(
        dir_ / "mirvo_user.xml",
        "<user name=\"bob\" order=\"1\" /><default_user_name>bob</default_user_name>\r\n<auto_login>true</auto_login>");
    // A plain document left behind by a crashed run is neither used nor kept.
    spit(dir_ / password_document_name(), "<password>" + digit_encode("leaked") + "</password>");
    const user_profile p = read_user_profile(folder_);
    EXPECT_TRUE(p.auto_login);
    EXPECT_EQ(p.default_user, "bob");
    EXPECT_EQ(p.password, "");
    EXPECT_FALSE(fs::exists(dir_ / password_document_name()));
    // A damaged password file gives "?" characters or nothing, never a failure.
    spit(dir_ / "bob.dat", "garbage");
    EXPECT_EQ(read_user_profile(folder_).password.find_first_not_of('?'), std::string::npos);
}

TEST_F(Profile, UnsafeNamesNeverNameAFile) {
    for (const char* bad : {"a/b", "..", ".", "...", "c:d", "x\\y", "t\tab", "n\x7F"}) {
        EXPECT_FALSE(user_name_fits_file_name(bad)) << bad;
        EXPECT_FALSE(password_file_path(folder_, bad)) << bad;
    }
    EXPECT_FALSE(user_name_fits_file_name(""));
    // A GBK character whose second byte is "\" is one character, not a separator.
    EXPECT_TRUE(user_name_fits_file_name("\x81\x5C"));
    EXPECT_FALSE(user_name_fits_file_name("\xD5\xC5\\"));
    EXPECT_TRUE(user_name_fits_file_name(".hidden"));
    EXPECT_TRUE(user_name_fits_file_name("a b.c"));

    // The login goes through and the profile says true, but no .dat is made.
    fs::create_directory(dir_ / "..dat");
    spit(dir_ / "x", "keep");
    ASSERT_TRUE(write({}, "../x", "pw", true));
    EXPECT_EQ(slurp(dir_ / "x"), "keep");
    ASSERT_TRUE(write({"../x"}, "..", "pw", true));
    const user_profile p = read_user_profile(folder_);
    EXPECT_TRUE(p.auto_login);
    EXPECT_EQ(p.default_user, "..");
    EXPECT_EQ(p.users, (names{"../x", ".."}));
    EXPECT_EQ(p.password, "");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 3);  // profile, x, ..dat/
}

TEST_F(Profile, NamesThatWouldCutTheListAreNotListed) {
    const names listed = {"ok1", "q\"uote", "cut/>here", "re order", "ok2"};
    const std::string text = user_profile_text(listed, "ok3", false);
    EXPECT_EQ(text,
              "<user name=\"ok1\" order=\"1\" />\n<user name=\"ok2\" order=\"2\" />\n"
              "<user name=\"ok3\" order=\"3\" /><default_user_name>ok3</default_user_name>\n"
              "<auto_login>false</auto_login>");
    // Such a user still logs in and becomes the default user.
    ASSERT_TRUE(write({"ok1"}, "we\"ird", "pw", false));
    EXPECT_EQ(profile_bytes(),
              "<user name=\"ok1\" order=\"1\" />\r\n<default_user_name>we\"ird</default_user_name>\r\n"
              "<auto_login>false</auto_login>");
    const user_profile p = read_user_profile(folder_);
    EXPECT_EQ(p.users, names{"ok1"});
    EXPECT_EQ(p.default_user, "we\"ird");
    // Alone, with nothing else to list.
    EXPECT_EQ(user_profile_text({}, "new order", true),
              "<default_user_name>new order</default_user_name>\n<auto_login>true</auto_login>");
    // A name that only looks like markup but reads back whole is kept.
    EXPECT_EQ(user_profile_text({"a<user"}, "b", false),
              "<user name=\"a<user\" order=\"1\" />\n<user name=\"b\" order=\"2\" />"
              "<default_user_name>b</default_user_name>\n<auto_login>false</auto_login>");
}

TEST_F(Profile, NamesHoldingTheProfilesMarkupCannotChangeWhatIsReadBack) {
    // A listed name that would switch automatic login on for everyone.
    const std::string sneaky = "x<auto_login>true</auto_login>";
    ASSERT_TRUE(write({"ok1", sneaky}, "ok2", "pw", false));
    user_profile p = read_user_profile(folder_);
    EXPECT_FALSE(p.auto_login);
    EXPECT_EQ(p.users, (names{"ok1", "ok2"}));
    EXPECT_EQ(p.default_user, "ok2");
    // A user whose own name would end the default-user element early, or turn
    // automatic login on, logs in but is not remembered as the default user.
    for (const std::string& user : {std::string("a</default_user_name>b"), sneaky}) {
        ASSERT_TRUE(write({"ok1", "q\"uote"}, user, "pw", false));
        p = read_user_profile(folder_);
        EXPECT_FALSE(p.auto_login) << user;
        EXPECT_EQ(p.default_user, "") << user;
        EXPECT_EQ(p.users, names{"ok1"}) << user;
    }
    // Automatic login switched on stays on, for a harmless name with "<".
    ASSERT_TRUE(write({}, "a<b", "pw", true));
    p = read_user_profile(folder_);
    EXPECT_TRUE(p.auto_login);
    EXPECT_EQ(p.default_user, "a<b");
}

TEST_F(Profile, FailedWriteLeavesTheOldFiles) {
    ASSERT_TRUE(write({}, "alice", "first", true));
    const std::string old_profile = profile_bytes();
    const std::string old_dat = slurp(dir_ / "alice.dat");

    // The profile cannot be replaced: the new password file is taken back.
    fs::rename(dir_ / "mirvo_user.xml", dir_ / "saved");
    fs::create_directory(dir_ / "mirvo_user.xml");
    status_.painted.clear();
    EXPECT_FALSE(write({"alice"}, "alice", "second", true));
    EXPECT_EQ(status_.painted, "error in saving file" + folder_ + "\\mirvo_user.xml");
    EXPECT_GT(status_.repaints, 0);
    EXPECT_EQ(slurp(dir_ / "alice.dat"), old_dat);
    // A user with no password file before has none after.
    EXPECT_FALSE(write({"alice"}, "bob", "second", true));
    EXPECT_FALSE(fs::exists(dir_ / "bob.dat"));
    fs::remove(dir_ / "mirvo_user.xml");
    fs::rename(dir_ / "saved", dir_ / "mirvo_user.xml");

    // The password file cannot be replaced: the profile is not touched.
    fs::create_directory(dir_ / "bob.dat");
    status_.painted.clear();
    EXPECT_FALSE(write({"alice"}, "bob", "second", true));
    EXPECT_EQ(status_.painted, "error in saving file" + folder_ + "\\bob.dat");
    EXPECT_EQ(profile_bytes(), old_profile);
    EXPECT_EQ(read_user_profile(folder_).password, "first");
}

TEST_F(Profile, OnASharedComputerOtherAccountsReadNothing) {
    auto mode = [&](const char* name) { return fs::status(dir_ / name).permissions() & fs::perms::mask; };
    constexpr fs::perms owner_rw = fs::perms::owner_read | fs::perms::owner_write;
    const mode_t old_umask = ::umask(022);
    // Written for the first time.
    ASSERT_TRUE(write({}, "alice", "secret", true));
    EXPECT_EQ(mode("mirvo_user.xml"), owner_rw);
    EXPECT_EQ(mode("alice.dat"), owner_rw);
    // Left readable for everyone by an older version: narrowed when written.
    fs::permissions(dir_ / "mirvo_user.xml", fs::perms::all);
    fs::permissions(dir_ / "alice.dat", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    ASSERT_TRUE(write({"alice"}, "alice", "secret", true));
    EXPECT_EQ(mode("mirvo_user.xml"), owner_rw);
    EXPECT_EQ(mode("alice.dat"), owner_rw);
    EXPECT_EQ(read_user_profile(folder_).password, "secret");
    // The folders the client makes (the download folder on the way to a list).
    make_directory_path(folder_ + "\\dl\\sub", nullptr);
    EXPECT_EQ(mode("dl"), fs::perms::owner_all);
    EXPECT_EQ(mode("dl/sub"), fs::perms::owner_all);
    ::umask(old_umask);
}

}  // namespace
}  // namespace mirvo
