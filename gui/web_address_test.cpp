// Which addresses the client opens, and the browser commands it falls back on.
#include "gui/web_address.h"

#include <gtest/gtest.h>

using namespace mirvo;

TEST(WebAddress, OnlyAbsoluteHttpAndHttpsWithAHostOpen) {
    for (const char* good : {"http://127.0.0.1:18080/login.aspx?user=a b&pw=1", "HTTPS://example.test/",
                             "http://127.0.0.1:18080/help/help.htm#new", "https://example.org/a?b=1&c=%20",
                             "HTTP://Example.org/", "http://example.org", "http://user@example.org:8080/x",
                             "http://[::1]:18080/", "http://127.0.0.1/\xD0\xC2\xCE\xC5.htm"})
        EXPECT_TRUE(is_web_address(good)) << good;
    for (const char* bad : {"file:///etc/passwd",
                            "javascript:alert(1)",
                            "/home/user/x.htm",
                            "/gonggao.htm",
                            "gonggao.htm",
                            "mailto:a@b",
                            "ftp://example.org/",
                            "smb://host/share",
                            "c:\\windows\\notepad.exe",
                            "",
                            "http://",
                            "https://",
                            "http:/x",
                            "http:x//y",
                            "http:///etc/passwd",
                            "http://?x",
                            "http://#x",
                            "http://:80/",
                            "http://user@/",
                            "http://exa mple.org/",
                            "http://good.example\\@evil.example/",
                            "http://a\xD0\xC2/"})
        EXPECT_FALSE(is_web_address(bad)) << bad;
}

TEST(WebAddress, NoControlByteAnywhere) {
    EXPECT_FALSE(is_web_address("http://x/\nrm"));
    EXPECT_FALSE(is_web_address("http://example.org/\n"));
    EXPECT_FALSE(is_web_address("http://example.org/a\tb"));
    EXPECT_FALSE(is_web_address("http://example.org/\x7F"));
    EXPECT_FALSE(is_web_address(std::string("http://example.org/\0x", 21)));
}

TEST(WebAddress, BrowserCommandsAreArgumentVectors) {
    using argv = std::vector<std::string>;
    auto c = browser_commands("firefox -new-tab:lynx %s --dump::", "http://h/a;b c");
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0], (argv{"firefox", "-new-tab", "http://h/a;b c"}));
    EXPECT_EQ(c[1], (argv{"lynx", "http://h/a;b c", "--dump"}));
    EXPECT_EQ(c[2], (argv{"xdg-open", "http://h/a;b c"}));
    EXPECT_EQ(browser_commands("", "http://h/"), (std::vector<argv>{{"xdg-open", "http://h/"}}));
}
