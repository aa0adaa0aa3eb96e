#include "client/login/password_file.h"

#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace mirvo {
namespace {

namespace fs = std::filesystem;

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string slurp(const fs::path& p) { return mirvo::testing::read_bytes(p.string()); }

void spit(const fs::path& p, const std::string& bytes) { mirvo::testing::write_bytes(p.string(), bytes); }

class PasswordFile : public ::testing::Test {
protected:
    void SetUp() override { dir_ = temp_.path(); }
    mirvo::testing::temp_folder temp_;
    fs::path dir_;
};

// Worked out separately (MD5 of the key text, then RC4) and checked
// against OpenSSL's RC4.
TEST(PasswordCipher, KnownAnswer) {
    const std::string plain = "<password>7123456789012345678009012345678</password>";
    EXPECT_EQ(hex(password_cipher("mirvo-profile-key-2026", plain)),
              "13b74515d81fb643cacb083d78c03f0e6d03fa7ef014f0f55dd64b1ee371fd61"
              "d7cd8f5e5cab426c4c0608d205ace08a17ded0d8");
    EXPECT_EQ(password_cipher("k", ""), "");
    EXPECT_EQ(password_cipher("mirvo-profile-key-2026", password_cipher("mirvo-profile-key-2026", plain)), plain);
    EXPECT_NE(password_cipher("mirvo-profile-key-2027", plain), password_cipher("mirvo-profile-key-2026", plain));
}

TEST_F(PasswordFile, FilesAreOneStreamAcrossPieces) {
    // Longer than two 1000-byte pieces, with every byte value.
    std::string plain;
    for (int i = 0; i < 2600; ++i) plain += static_cast<char>(i * 7 + i / 256);
    spit(dir_ / "plain", plain);

    ASSERT_TRUE(encrypt_file("key", (dir_ / "sealed").string(), std::fopen((dir_ / "plain").c_str(), "rb")));
    const std::string sealed = slurp(dir_ / "sealed");
    EXPECT_EQ(sealed.size(), plain.size());
    EXPECT_EQ(sealed, password_cipher("key", plain));

    ASSERT_TRUE(decrypt_file((dir_ / "back").string(), "key", std::fopen((dir_ / "sealed").c_str(), "rb")));
    EXPECT_EQ(slurp(dir_ / "back"), plain);

    // An existing output is replaced, not appended to.
    spit(dir_ / "short", "ab");
    ASSERT_TRUE(encrypt_file("key", (dir_ / "sealed").string(), std::fopen((dir_ / "short").c_str(), "rb")));
    EXPECT_EQ(slurp(dir_ / "sealed"), password_cipher("key", "ab"));
}

TEST_F(PasswordFile, BytesMatchOpenSsl) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
    const std::string key = "\xC3\xDC\xD4\xBF key";  // GBK text is hashed as bytes
    std::string plain = "<password>";
    for (int i = 0; i < 400; ++i) plain += static_cast<char>('0' + i % 10);
    plain += "</password>";
    spit(dir_ / "plain", plain);
    spit(dir_ / "key", key);
    ASSERT_TRUE(encrypt_file(key, (dir_ / "ours").string(), std::fopen((dir_ / "plain").c_str(), "rb")));

    const std::string d = dir_.string();
    const std::string cmd = "k=$(openssl dgst -md5 -r '" + d +
                            "/key' | cut -c1-32) && openssl enc -rc4 -K $k -nosalt"
                            " -provider legacy -provider default -in '" +
                            d + "/plain' -out '" + d + "/theirs' 2>/dev/null || openssl enc -rc4 -K $k -nosalt -in '" +
                            d + "/plain' -out '" + d + "/theirs'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(hex(slurp(dir_ / "ours")), hex(slurp(dir_ / "theirs")));
}

TEST_F(PasswordFile, FailureLeavesNoOutput) {
    spit(dir_ / "plain", "secret");
    // Output in a folder that does not exist.
    EXPECT_FALSE(encrypt_file("key", (dir_ / "none" / "x.dat").string(), std::fopen((dir_ / "plain").c_str(), "rb")));
    // Input that cannot be read: the partial output and any old file go.
    spit(dir_ / "x.dat", "old");
    EXPECT_FALSE(encrypt_file("key", (dir_ / "x.dat").string(), std::fopen((dir_ / "plain").c_str(), "ab")));
    EXPECT_FALSE(fs::exists(dir_ / "x.dat"));
    EXPECT_FALSE(decrypt_file((dir_ / "doc").string(), "key", std::fopen((dir_ / "plain").c_str(), "ab")));
    EXPECT_FALSE(fs::exists(dir_ / "doc"));
    EXPECT_FALSE(encrypt_file("key", (dir_ / "y.dat").string(), nullptr));
    EXPECT_FALSE(fs::exists(dir_ / "y.dat"));
}

}  // namespace
}  // namespace mirvo
