// Opening addresses: only web addresses, and when the desktop's opener fails
// the BROWSER variable's programs and then xdg-open, as argument vectors.
#include "gui/desktop.h"

#include "tests/support/recording_desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

using namespace mirvo;
using mirvo::testing::recording_desktop;

namespace {

// Sets an environment variable for the lifetime of the object.
class scoped_env {
public:
    scoped_env(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~scoped_env() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::vector<QStringList> argvs(const recording_desktop& d) {
    std::vector<QStringList> out;
    for (const auto& s : d.starts) out.push_back(QStringList{QString::fromStdString(s.program)} + s.args);
    return out;
}

}  // namespace

TEST(OpenWebAddress, TheDesktopsOpenerFirst) {
    recording_desktop desk;
    scoped_env browser("BROWSER", "first");
    EXPECT_TRUE(open_web_address("http://127.0.0.1/a?x=1&y=2"));
    EXPECT_EQ(desk.opened, (std::vector<std::string>{"http://127.0.0.1/a?x=1&y=2"}));
    EXPECT_TRUE(desk.starts.empty());
}

TEST(OpenWebAddress, AFailedOpenerFallsBackToTheBrowserThenXdgOpen) {
    const std::string address = "http://127.0.0.1/gonggao.htm";
    const QString q = QString::fromStdString(address);
    {
        recording_desktop desk;
        desk.opener_works = false;
        desk.startable = std::vector<std::string>{"second"};
        scoped_env browser("BROWSER", "first:second --new %s:third");
        EXPECT_TRUE(open_web_address(address));
        EXPECT_EQ(desk.opened, (std::vector<std::string>{address}));
        EXPECT_EQ(argvs(desk), (std::vector<QStringList>{{"first", q}, {"second", "--new", q}}));
    }
    {
        recording_desktop desk;
        desk.opener_works = false;
        desk.startable = std::vector<std::string>{};
        scoped_env browser("BROWSER", nullptr);
        EXPECT_FALSE(open_web_address(address));  // nothing could be started: reported, not hidden
        EXPECT_EQ(argvs(desk), (std::vector<QStringList>{{"xdg-open", q}}));
    }
}

TEST(OpenWebAddress, AnythingElseStartsNothing) {
    recording_desktop desk;
    desk.opener_works = false;
    scoped_env browser("BROWSER", "first");
    for (const char* address :
         {"javascript:alert(1)", "file:///etc/passwd", "/usr/bin/xterm", "http://", "http://example.org/\n", ""})
        EXPECT_FALSE(open_web_address(address)) << address;
    EXPECT_TRUE(desk.opened.empty());
    EXPECT_TRUE(desk.starts.empty());
}
