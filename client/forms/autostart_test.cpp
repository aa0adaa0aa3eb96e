#include "client/forms/autostart.h"

#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace mirvo {
namespace {

namespace fs = std::filesystem;
using mirvo::testing::read_bytes;
using mirvo::testing::temp_folder;
using mirvo::testing::write_bytes;

// Sets an environment variable for the lifetime of the object.
class scoped_env {
public:
    scoped_env(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~scoped_env() {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

// Whether desktop-file-validate accepts file, with its complaints on failure.
::testing::AssertionResult validates(const std::string& file) {
    const std::string out = file + ".validate";
    const std::string cmd = "desktop-file-validate '" + file + "' >'" + out + "' 2>&1";
    const int rc = std::system(cmd.c_str());
    const std::string said = read_bytes(out);
    fs::remove(out);
    if (rc == 0 && said.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "desktop-file-validate (status " << rc << "): " << said;
}

TEST(Autostart, TheFolderFollowsXdgConfigHomeOrTheHomeFolder) {
    scoped_env home("HOME", "/home/lily");
    {
        scoped_env config("XDG_CONFIG_HOME", "/srv/conf");
        EXPECT_EQ(autostart_folder(), "/srv/conf/autostart");
        EXPECT_EQ(autostart_entry_path(), "/srv/conf/autostart/Mirvo学习娱乐空间.desktop");
    }
    for (const std::optional<std::string>& unusable :
         {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>("relative/conf")}) {
        scoped_env config("XDG_CONFIG_HOME", unusable);
        EXPECT_EQ(autostart_folder(), "/home/lily/.config/autostart");
    }
    scoped_env config("XDG_CONFIG_HOME", std::nullopt);
    scoped_env no_home("HOME", std::nullopt);
    EXPECT_EQ(autostart_folder(), "");
    EXPECT_EQ(autostart_entry_path(), "");
    EXPECT_FALSE(save_autostart(true, "/bin/true", "/tmp").saved);
}

TEST(Autostart, ExecArgumentsAreQuotedAndEscapedTwice) {
    EXPECT_EQ(desktop_exec_argument("/opt/mirvo/mirvo"), "\"/opt/mirvo/mirvo\"");
    EXPECT_EQ(desktop_exec_argument("/a b/\"q\"/$HOME/`x`"), "\"/a b/\\\\\"q\\\\\"/\\\\$HOME/\\\\`x\\\\`\"");
    // A literal backslash takes four; a percent sign two.
    EXPECT_EQ(desktop_exec_argument("/x\\y/100%"), "\"/x\\\\\\\\y/100%%\"");
}

TEST(Autostart, SavingWritesAnEntryThatValidatesAndRemovingTakesItAway) {
    temp_folder t;
    scoped_env config("XDG_CONFIG_HOME", t.path() + "/config home");
    const std::string exe = t.path() + "/程序 目录/mirvo";
    const std::string folder = t.path() + "/程序 目录";
    EXPECT_FALSE(autostart_entry_exists());

    const autostart_result on = save_autostart(true, exe, folder);
    EXPECT_TRUE(on.saved);
    EXPECT_EQ(on.folder, t.path() + "/config home/autostart");
    ASSERT_TRUE(autostart_entry_exists());
    const std::string text = read_bytes(autostart_entry_path());
    EXPECT_EQ(text, "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Mirvo学习娱乐空间\nExec=\"" + exe +
                        "\"\nPath=" + folder + "\nTerminal=false\n");
    EXPECT_TRUE(validates(autostart_entry_path()));

    // Saving again replaces the entry.
    EXPECT_TRUE(save_autostart(true, "/other/mirvo", folder).saved);
    EXPECT_NE(read_bytes(autostart_entry_path()).find("Exec=\"/other/mirvo\""), std::string::npos);

    EXPECT_TRUE(save_autostart(false, exe, folder).saved);
    EXPECT_FALSE(autostart_entry_exists());
    // Removing what is not there is no failure.
    EXPECT_TRUE(save_autostart(false, exe, folder).saved);
}

TEST(Autostart, AnEntryForAnOddExecutablePathStillValidates) {
    temp_folder t;
    scoped_env config("XDG_CONFIG_HOME", t.path());
    ASSERT_TRUE(save_autostart(true, "/opt/my \"mirvo\"/$v/a\\b/50%/mirvo", "/le ad\\ing\tx").saved);
    EXPECT_TRUE(validates(autostart_entry_path()));
    EXPECT_NE(read_bytes(autostart_entry_path()).find("Path=/le ad\\\\ing\\tx\n"), std::string::npos);
}

TEST(Autostart, TheMenuEntryStartsTheSameWayWithAnIconAndValidates) {
    temp_folder t;
    const std::string folder = t.path() + "/我的 \"程序\" 100%";
    const std::string exe = folder + "/mirvo";
    const std::string text = application_entry_text(exe, folder, "org.mirvo.Mirvo");
    EXPECT_EQ(text.rfind(autostart_entry_text(exe, folder), 0), 0u) << text;
    EXPECT_NE(text.find("\nIcon=org.mirvo.Mirvo\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nCategories=Education;\n"), std::string::npos) << text;
    write_bytes(t.path() + "/org.mirvo.Mirvo.desktop", text);
    EXPECT_TRUE(validates(t.path() + "/org.mirvo.Mirvo.desktop"));
}

TEST(Autostart, AFolderThatCannotBeWrittenOrAnEntryThatCannotGoIsReported) {
    temp_folder t;
    // The configuration folder is a file: nothing can be created below it
    // (also not by a superuser, for whom permissions would not stop it).
    write_bytes(t.path() + "/file", "x");
    {
        scoped_env config("XDG_CONFIG_HOME", t.path() + "/file");
        const autostart_result r = save_autostart(true, "/bin/true", "/tmp");
        EXPECT_FALSE(r.saved);
        EXPECT_EQ(r.folder, t.path() + "/file/autostart");
        EXPECT_FALSE(autostart_entry_exists());
    }
    // Something that is no file stands where the entry goes.
    scoped_env config("XDG_CONFIG_HOME", t.path());
    fs::create_directories(autostart_entry_path() + "/inside");
    EXPECT_FALSE(save_autostart(true, "/bin/true", "/tmp").saved);
    EXPECT_FALSE(save_autostart(false, "/bin/true", "/tmp").saved);
    EXPECT_TRUE(autostart_entry_exists());
}

}  // namespace
}  // namespace mirvo
