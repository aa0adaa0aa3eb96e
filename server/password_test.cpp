#include "server/password.h"

#include <gtest/gtest.h>

namespace mirvo::server {
namespace {

constexpr unsigned fast = 1000;  // the count does not change what is checked

TEST(Password, HashVerifiesOnlyItsOwnPassword) {
    std::string h = hash_password("secret1", fast);
    ASSERT_EQ(h.rfind("pbkdf2-sha256$1000$", 0), 0u) << h;
    EXPECT_EQ(h.find("secret1"), std::string::npos);
    EXPECT_TRUE(verify_password("secret1", h));
    EXPECT_FALSE(verify_password("secret2", h));
    EXPECT_FALSE(verify_password("", h));
    EXPECT_FALSE(verify_password("secret1 ", h));
}

TEST(Password, EverySaltIsFresh) { EXPECT_NE(hash_password("same", fast), hash_password("same", fast)); }

TEST(Password, MalformedStoredHashesNeverMatch) {
    std::string good = hash_password("pw", fast);
    std::string bad_iter = good;
    bad_iter.replace(bad_iter.find("$1000$"), 6, "$0$");
    for (const std::string& stored : {std::string(), std::string("pw"), std::string("pbkdf2-sha256$1000$zz$00"),
                                      std::string("pbkdf2-sha256$99999999999$00$00"), std::string("md5$1000$00$00"),
                                      bad_iter, good.substr(0, good.size() - 2), good + "$x"})
        EXPECT_FALSE(verify_password("pw", stored)) << stored;
}

TEST(Password, CanonicalFormIsWhatTheDigitCodeCarries) {
    EXPECT_EQ(canonical_password("Secret1"), "secret1");
    EXPECT_EQ(canonical_password("abc"), "abc");
    // A double-byte character is outside the tables: each byte arrives as "?".
    EXPECT_EQ(canonical_password("a\xD6\xD0"), "a??");
}

}  // namespace
}  // namespace mirvo::server
