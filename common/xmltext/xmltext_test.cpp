#include "common/xmltext/xmltext.h"

#include "common/text/gbk.h"
#include "common/ui/status.h"
#include "tests/support/fixtures.h"
#include "tests/support/ui_fakes.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

using namespace mirvo;
namespace fs = std::filesystem;

namespace {
struct temp_folder : mirvo::testing::temp_folder {
    fs::path path = mirvo::testing::temp_folder::path();
    std::string file(const std::string& name) const { return utf8_to_gbk((path / name).string()); }
    void write(const std::string& name, const std::string& bytes) const {
        mirvo::testing::write_bytes((path / name).string(), bytes);
    }
    std::string read(const std::string& name) const { return mirvo::testing::read_bytes((path / name).string()); }
};
}  // namespace

TEST(XmlQuery, SimpleQueries) {
    EXPECT_EQ(xml_get_value("<mirvo>3.8</mirvo>", "mirvo"), "3.8");
    EXPECT_EQ(xml_get_value("<a/>", "a"), "");
    EXPECT_EQ(xml_get_value("<a></a>", "a"), "");
    EXPECT_EQ(xml_get_value("", "a"), "");
    // Content is returned raw: markup, entities and blanks untouched.
    EXPECT_EQ(xml_get_value("<a> x &amp; <b>y</b> </a>", "a"), " x &amp; <b>y</b> ");
    // A tag is matched by prefix: <user also finds <user_name.
    EXPECT_EQ(xml_get_value("<user_name>x</user_name><user>y</user>", "user"), "x</user_name><user>y");
    // Self-closing before the closing marker: no content.
    EXPECT_EQ(xml_get_value("<a x=\"1\"/><a>2</a>", "a"), "");
    // Missing closing marker, or one that comes before the ">" of the start tag.
    EXPECT_EQ(xml_get_value("<a>open", "a"), "");
    EXPECT_EQ(xml_get_value("<a</a>", "a"), "");
    // A zero byte ends the document.
    EXPECT_EQ(xml_get_value(std::string("<a>1\0</a>", 9), "a"), "");
}

TEST(XmlQuery, CommentsAreRemovedFirst) {
    EXPECT_EQ(xml_get_value("<!-- <v>1</v> --><v>2</v>", "v"), "2");
    EXPECT_EQ(xml_get_value("<v>2</v><!-- unterminated", "v"), "2");
    EXPECT_EQ(xml_get_value("<!-- <v>1</v>", "v"), "");
    EXPECT_EQ(xml_get_value("<!--><v>3</v>", "v"), "3");  // "<!-->" is a whole comment
    EXPECT_EQ(xml_get_value("<v>a<!-- x -->b</v>", "v"), "ab");
    // Removing a comment can join a new "<!--" whose end is missing.
    EXPECT_EQ(xml_get_value("<v>1</v><!<!---->--<v>2</v>", "v"), "1");
    EXPECT_EQ(xml_get_value("<!<!---->--<v>2</v>", "v"), "");
}

TEST(XmlQuery, SelectingQueries) {
    const std::string users = "<user name=\"a\" order=\"1\" /><user name=\"b\" order=\"2\" />";
    EXPECT_EQ(xml_get_value(users, "user", "order", "2", "name"), "b");
    EXPECT_EQ(xml_get_value(users, "user", "order", "3", "name"), "");
    // An element without the attribute ends the search.
    EXPECT_EQ(xml_get_value("<u id=\"1\"/><u x=\"2\"/><u id=\"3\"/>", "u", "id", "3"), "");
    // Single quotes are not quotes: the next double-quoted value is read.
    EXPECT_EQ(xml_get_value("<a k='1' n=\"2\"/>", "a", "k", "2", "n"), "2");
    // Content of the selected element, for nested records.
    const std::string cat =
        "<sort_list order=\"1\" title=\"A\"><lesson_list order=\"1\" title=\"x\"/></sort_list>"
        "<sort_list order=\"2\" title=\"B\">two</sort_list>";
    EXPECT_EQ(xml_get_value(cat, "sort_list", "order", "2"), "two");
    EXPECT_EQ(xml_get_value(xml_get_value(cat, "sort_list", "order", "1"), "lesson_list", "order", "1", "title"), "x");
    EXPECT_EQ(xml_get_value(cat, "sort_list", "order", "1", "missing"), "");
    // "01" is not "1".
    EXPECT_EQ(xml_get_value("<f order=\"01\" name=\"x\"/>", "f", "order", "1", "name"), "");
    // A value without a closing quote reads as empty rather than running on.
    EXPECT_EQ(xml_get_value("<f order=\"1\" name=\"x/>", "f", "order", "1", "name"), "");
}

TEST(XmlQuery, GbkTextNeverMatchesInsideACharacter) {
    // 0xBC 0x3C would be "?<" read byte by byte, but 0x3C is not a trail byte in
    // GBK; use real trail bytes that look like ASCII: 0x84 0x5C ("\") and 0x95 0x61 ("a").
    std::string name = "\x95\x61\x84\x5C";
    std::string doc = "<user name=\"" + name + "\" order=\"1\" /><default_user_name>" + name + "</default_user_name>";
    EXPECT_EQ(xml_get_value(doc, "user", "order", "1", "name"), name);
    EXPECT_EQ(xml_get_value(doc, "default_user_name"), name);
    // "a" hidden as a trail byte must not match the tag "a".
    EXPECT_EQ(xml_get_value("<\x95"
                            "a>x</\x95"
                            "a><a>y</a>",
                            "a"),
              "y");
}

TEST(TextFiles, ReadsLinesAndReportsFailures) {
    temp_folder t;
    t.write("crlf.txt", "a\r\nb");
    t.write("empty.txt", "");
    t.write("lf.txt", "x\n\ny\n");
    t.write("cr.txt", "a\rb\r\n");
    EXPECT_EQ(read_text_file(nullptr, t.file("crlf.txt")), "a\nb\n");
    EXPECT_EQ(read_text_file(nullptr, t.file("empty.txt")), "");
    EXPECT_EQ(read_text_file(nullptr, t.file("lf.txt")), "x\n\ny\n");
    EXPECT_EQ(read_text_file(nullptr, t.file("cr.txt")), "a\rb\n");

    mirvo::testing::recording_status_line status;
    std::string missing = t.file("missing.txt");
    EXPECT_EQ(read_text_file(&status, missing), "");
    EXPECT_EQ(status.last(), "error reading file:" + missing);
    // A folder is not a readable file either.
    EXPECT_EQ(read_text_file(&status, t.file("")), "");

    t.write("mirvo.xml", "<!-- installed -->\r\n<mirvo>3.8</mirvo>\r\n");
    EXPECT_EQ(xml_get_file_value(t.file("mirvo.xml"), "mirvo"), "3.8");
    EXPECT_EQ(xml_get_file_value(t.file("nope.xml"), "mirvo"), "");
}

TEST(TextFiles, SavesWithCrLfAndNeverHalfAFile) {
    temp_folder t;
    mirvo::testing::recording_status_line status;
    std::string path = t.file(gbk_to_utf8("\xD6\xD0") + ".xml");
    ASSERT_TRUE(save_text_file(&status, path, "<a/>\n<b>\xD6\xD0</b>"));
    EXPECT_EQ(t.read("中.xml"), "<a/>\r\n<b>\xD6\xD0</b>");
    // A read-back gives the text as written.
    EXPECT_EQ(read_text_file(nullptr, path), "<a/>\n<b>\xD6\xD0</b>\n");

    // Saving into a folder that does not exist fails, says so, and creates nothing.
    std::string bad = t.file("no/such/x.xml");
    EXPECT_FALSE(save_text_file(&status, bad, "x"));
    EXPECT_EQ(status.last(), "error in saving file" + bad);
    // A write that fails half-way (the file size limit stops it) leaves the
    // old file as it was and no temporary file behind.
    ASSERT_TRUE(save_text_file(&status, t.file("keep.xml"), "old text"));
    {
        struct rlimit saved_limit;
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved_limit), 0);
        struct rlimit small = saved_limit;
        small.rlim_cur = 4096;
        auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool saved = save_text_file(&status, t.file("keep.xml"), std::string(100000, 'x'));
        ::setrlimit(RLIMIT_FSIZE, &saved_limit);
        std::signal(SIGXFSZ, old_handler);
        EXPECT_FALSE(saved);
        EXPECT_EQ(status.last(), "error in saving file" + t.file("keep.xml"));
    }
    EXPECT_EQ(t.read("keep.xml"), "old text");
    int files = 0;
    for (auto& e : fs::directory_iterator(t.path)) (void)e, ++files;
    EXPECT_EQ(files, 2);  // 中.xml and keep.xml

    // A failed save leaves the old file whole (the target is a folder here).
    fs::create_directory(t.path / "dir.xml");
    EXPECT_FALSE(save_text_file(&status, t.file("dir.xml"), "x"));
    EXPECT_TRUE(fs::is_directory(t.path / "dir.xml"));
}

TEST(Numbers, ConvertLeadingNumbersWithoutFailing) {
    EXPECT_EQ(text_to_int(" 42abc"), 42);
    EXPECT_EQ(text_to_int(""), 0);
    EXPECT_EQ(text_to_int("-7"), -7);
    EXPECT_EQ(text_to_int("+7"), 7);
    EXPECT_EQ(text_to_int("abc"), 0);
    EXPECT_EQ(text_to_int("99999999999999999999"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(text_to_int("-99999999999999999999"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(text_to_int(std::string(300, '9')), std::numeric_limits<std::int32_t>::max());

    EXPECT_EQ(text_to_float("3.81"), 3.81f);
    EXPECT_EQ(text_to_float(" 3.9\n"), 3.9f);
    EXPECT_EQ(text_to_float("1.10"), 1.1f);
    EXPECT_LT(text_to_float("1.10"), text_to_float("1.9"));
    EXPECT_EQ(text_to_float(""), 0.0f);
    EXPECT_EQ(text_to_float("."), 0.0f);
    EXPECT_EQ(text_to_float("-.5e1x"), -5.0f);
    EXPECT_EQ(text_to_float("2e"), 2.0f);
    EXPECT_EQ(text_to_float("1e999"), std::numeric_limits<float>::max());
    EXPECT_EQ(text_to_float("1e-999"), 0.0f);
    EXPECT_EQ(text_to_float("inf"), 0.0f);

    // Versions: the plain decimal part only.
    EXPECT_EQ(version_number(" 3.9\n"), 3.9f);
    EXPECT_EQ(version_number("1e39"), 1.0f);
    EXPECT_EQ(version_number("3.8E+2"), 3.8f);
    EXPECT_EQ(version_number("inf"), 0.0f);
    EXPECT_EQ(version_number("nan"), 0.0f);
    EXPECT_EQ(version_number("-2.5e1"), -2.5f);
    // "." is the decimal point whatever the locale says (set-up generates a
    // locale whose decimal point is ",").
    ASSERT_TRUE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) << "run scripts/setup.sh: it generates de_DE.UTF-8";
    EXPECT_EQ(text_to_float("3.9"), 3.9f);
    EXPECT_EQ(text_to_float("3,9"), 3.0f);
    std::setlocale(LC_NUMERIC, "C");

    EXPECT_EQ(int_to_text(0), "0");
    EXPECT_EQ(int_to_text(-12), "-12");
    EXPECT_EQ(int_to_text(std::numeric_limits<std::int32_t>::min()), "-2147483648");
}

TEST(XmlRecordIndex, AnswersExactlyAsTheQueryDoes) {
    // Random documents built from the pieces that make the query's corner
    // cases: prefixes of the tag, duplicates, gaps, missing attributes,
    // comments, self-closing and unclosed elements, nesting.
    const char* pieces[] = {
        "<f order=\"1\" name=\"a\"/>",
        "<f order=\"2\" name=\"b\">c2</f>",
        "<f order=\"2\" name=\"dup\"/>",
        "<f name=\"no order\"/>",
        "<file order=\"3\" name=\"prefix\"/>",
        "<f order=\"01\" name=\"zero\"/>",
        "<!-- <f order=\"4\" name=\"hidden\"/> -->",
        "<f order=\"5\" name='q' x=\"y\"/>",
        "<f order=\"6\">",
        "</f>",
        "<f order=\"7\" name=\"\xD6\xD0\"><f order=\"8\" name=\"in\"/></f>",
        "text",
        "<g order=\"1\"/>",
        "<f order=\"9\" name=\"unterminated/>",
        "<!--",
        "-->",
        "<f order=\"10\" ordername=\"x\" name=\"n\"/>",
    };
    const int n_pieces = sizeof pieces / sizeof pieces[0];
    unsigned seed = 12345;
    auto rnd = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 2000; ++round) {
        std::string doc;
        int len = static_cast<int>(rnd() % 9);
        for (int k = 0; k < len; ++k) doc += pieces[rnd() % n_pieces];
        for (const char* tag : {"f", "file"}) {
            xml_record_index index(doc, tag, "order");
            for (const char* order : {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "01", ""}) {
                for (const char* attr : {"", "name", "x", "missing"}) {
                    ASSERT_EQ(index.get(order, attr), xml_get_value(doc, tag, "order", order, attr))
                        << "doc: " << doc << " tag " << tag << " order " << order << " attr " << attr;
                }
            }
        }
    }
}
