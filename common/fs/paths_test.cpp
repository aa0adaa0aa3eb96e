#include "common/fs/paths.h"

#include "common/text/gbk.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace mirvo;
namespace fs = std::filesystem;

namespace {
struct temp_folder : mirvo::testing::temp_folder {
    fs::path path = mirvo::testing::temp_folder::path();
    std::string gbk() const { return utf8_to_gbk(path.string()); }
};
std::string slurp(const fs::path& p) { return mirvo::testing::read_bytes(p.string()); }
}  // namespace

TEST(Paths, TranslatesSeparatorsByCharacter) {
    // 84 5C is one GBK character whose second byte is a backslash.
    EXPECT_EQ(to_native("/home/u\\dl\\x.xml"), "/home/u/dl/x.xml");
    EXPECT_EQ(to_native("\x84\x5C\\a"), gbk_to_utf8("\x84\x5C") + "/a");
    EXPECT_EQ(to_native(utf8_to_gbk("/课程\\中.dat")), "/课程/中.dat");
}

TEST(Paths, ConfinementRefusesWhatLeavesTheFolder) {
    for (const char* ok : {"\\mirvo.xml", "dl\\download.xml", "/dl/a.xml", "a.b", "\\dl\\.\\x", ""})
        EXPECT_TRUE(is_confined(ok)) << ok;
    for (const char* bad : {"..\\x", "\\dl\\..\\..\\x", "/../x", "dl/..", "\\\\server\\x", "//etc/passwd", "C:\\x",
                            "c:x", "a\nb", "a\x01", "...", "a/.../b"})
        EXPECT_FALSE(is_confined(bad)) << bad;
    // A trail byte 0x5C followed by ".." is not a separator + "..".
    EXPECT_TRUE(is_confined("\x84\x5C..x"));
    EXPECT_EQ(join_confined("/p", "\\a.dat").value(), "/p\\a.dat");
    EXPECT_EQ(join_confined("/p", "a.dat").value(), "/p\\a.dat");
    EXPECT_FALSE(join_confined("/p", "..\\a.dat"));
}

TEST(Paths, AtomicWriteReplacesWholeOrLeavesTheOldFile) {
    temp_folder t;
    std::string target = t.gbk() + "\\" + utf8_to_gbk("档案.xml");
    ASSERT_TRUE(write_file_atomic(target, "old"));
    ASSERT_TRUE(write_file_atomic(target, "new bytes"));
    EXPECT_EQ(slurp(t.path / "档案.xml"), "new bytes");
    // A target that is a folder cannot be replaced; nothing is left behind.
    fs::create_directory(t.path / "sub");
    EXPECT_FALSE(write_file_atomic(t.gbk() + "\\sub", "x"));
    // A read-only folder refuses the temporary file: the old bytes stay.
    if (::geteuid() != 0) {
        fs::permissions(t.path, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(write_file_atomic(target, "lost?"));
        fs::permissions(t.path, fs::perms::owner_all);
        EXPECT_EQ(slurp(t.path / "档案.xml"), "new bytes");
    }
    int entries = 0;
    for (auto& e : fs::directory_iterator(t.path)) (void)e, ++entries;
    EXPECT_EQ(entries, 2);  // the file and "sub": no temporary files

    ASSERT_TRUE(copy_file_atomic(target, t.gbk() + "\\copy"));
    EXPECT_EQ(slurp(t.path / "copy"), "new bytes");
    EXPECT_FALSE(copy_file_atomic(t.gbk() + "\\missing", t.gbk() + "\\copy"));
    EXPECT_EQ(slurp(t.path / "copy"), "new bytes");
}

TEST(Paths, ReadsTheCurrentFolderWithoutALengthLimit) {
    temp_folder t;
    fs::path deep = t.path;
    // Deeper than the 260 characters the old buffer held.
    for (int i = 0; i < 12; ++i) deep /= std::string(30, char('a' + i));
    fs::create_directories(deep);
    fs::path saved = fs::current_path();
    fs::current_path(deep);
    std::string got = read_current_folder();
    fs::current_path(saved);
    EXPECT_GT(got.size(), 260u);
    EXPECT_EQ(got, utf8_to_gbk(deep.string()));
}

TEST(Paths, AFolderWithoutAnExactGbkNameOrNoFolderAtAllIsUnreadable) {
    temp_folder t;
    fs::path saved = fs::current_path();
    // Chinese names have a GBK form and are read back exactly.
    fs::create_directory(t.path / "课程");
    fs::current_path(t.path / "课程");
    EXPECT_EQ(gbk_to_utf8(read_current_folder()), (t.path / "课程").string());
    // An emoji has none: reading it as "?" would name a different folder.
    fs::create_directory(t.path / "x😀y");
    fs::current_path(t.path / "x😀y");
    EXPECT_EQ(read_current_folder(), "");
    // A folder removed under the process cannot be read at all.
    fs::create_directory(t.path / "gone");
    fs::current_path(t.path / "gone");
    fs::remove(t.path / "gone");
    EXPECT_EQ(read_current_folder(), "");
    fs::current_path(saved);
}

TEST(Paths, InstalledProgramsCanRunAndReplacedFilesKeepTheirMode) {
    temp_folder t;
    auto mode_of = [&](const char* name) {
        struct stat st {};
        ::stat((t.path / name).c_str(), &st);
        return st.st_mode & 0777;
    };
    auto put = [&](const char* name, const std::string& bytes) {
        mirvo::testing::write_bytes((t.path / name).string(), bytes);
    };
    auto g = [&](const char* name) { return t.gbk() + "\\" + name; };
    const mode_t saved_mask = ::umask(022);

    put("elf.new", std::string("\x7f"
                               "ELF\x02\x01\x01",
                               7) +
                       std::string(100, '\0'));
    put("script.new", "#!/bin/sh\necho hi\n");
    put("data.new", "<version>1.1</version>");
    ASSERT_TRUE(install_file_atomic(g("elf.new"), g("game")));
    ASSERT_TRUE(install_file_atomic(g("script.new"), g("run.sh")));
    ASSERT_TRUE(install_file_atomic(g("data.new"), g("game.xml")));
    EXPECT_EQ(mode_of("game"), 0755u);
    EXPECT_EQ(mode_of("run.sh"), 0755u);
    EXPECT_EQ(mode_of("game.xml"), 0644u);
    // A plain copy makes nothing executable.
    ASSERT_TRUE(copy_file_atomic(g("elf.new"), g("plain")));
    EXPECT_EQ(mode_of("plain"), 0644u);

    // What replaces a file keeps that file's mode, executable or not.
    fs::permissions(t.path / "game", fs::perms::owner_all, fs::perm_options::replace);
    ASSERT_TRUE(install_file_atomic(g("data.new"), g("game")));
    EXPECT_EQ(mode_of("game"), 0700u);
    EXPECT_EQ(slurp(t.path / "game"), "<version>1.1</version>");
    // A program over a data file of mode 0640 becomes runnable by those who may read it.
    fs::permissions(t.path / "game.xml", fs::perms(0640), fs::perm_options::replace);
    ASSERT_TRUE(install_file_atomic(g("elf.new"), g("game.xml")));
    EXPECT_EQ(mode_of("game.xml"), 0750u);
    ::umask(saved_mask);
}

TEST(Paths, CopiesStreamLargeFilesAndAFailedCopyLeavesTheOldFile) {
    temp_folder t;
    std::string big(6 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
    mirvo::testing::write_bytes((t.path / "big").string(), big);
    ASSERT_TRUE(install_file_atomic(t.gbk() + "\\big", t.gbk() + "\\" + utf8_to_gbk("大文件")));
    EXPECT_TRUE(slurp(t.path / "大文件") == big);

    mirvo::testing::write_bytes((t.path / "old").string(), "old bytes");
    EXPECT_FALSE(install_file_atomic(t.gbk() + "\\missing", t.gbk() + "\\old"));
    EXPECT_FALSE(install_file_atomic(t.gbk() + "\\big", t.gbk() + "\\no\\such\\folder\\x"));
    fs::create_directory(t.path / "dir");
    EXPECT_FALSE(install_file_atomic(t.gbk() + "\\dir", t.gbk() + "\\old"));
    EXPECT_FALSE(install_file_atomic(t.gbk() + "\\big", t.gbk() + "\\dir"));
    EXPECT_EQ(slurp(t.path / "old"), "old bytes");
    int entries = 0;
    for (auto& e : fs::directory_iterator(t.path)) (void)e, ++entries;
    EXPECT_EQ(entries, 4);  // big, 大文件, old, dir: no temporary files
}
