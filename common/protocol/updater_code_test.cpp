#include "common/protocol/updater_code.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

namespace mirvo {
namespace {

std::string encode(const std::string& plain) {
    updater_code_result r = updater_digit_code(plain, updater_encrypt_mode);
    EXPECT_TRUE(r.ok()) << plain;
    return r.text;
}

TEST(UpdaterCode, TableHoldsEightyNineDistinctPrintableCharactersAndElevenEmptySlots) {
    std::set<char> seen;
    int lower = 0, upper = 0, digits = 0, punct = 0;
    for (int slot = 0; slot < updater_code_filled_slots; ++slot) {
        const char c = updater_code_slot(slot);
        ASSERT_TRUE(std::isprint(static_cast<unsigned char>(c)) && c != ' ') << slot;
        EXPECT_TRUE(seen.insert(c).second) << "slot " << slot << " repeats " << c;
        lower += std::islower(static_cast<unsigned char>(c)) != 0;
        upper += std::isupper(static_cast<unsigned char>(c)) != 0;
        digits += std::isdigit(static_cast<unsigned char>(c)) != 0;
        punct += std::ispunct(static_cast<unsigned char>(c)) != 0;
    }
    EXPECT_EQ(lower, 26);
    EXPECT_EQ(upper, 26);
    EXPECT_EQ(digits, 10);
    EXPECT_EQ(punct, 27);
    // What server addresses are made of.
    for (char c : std::string("/:.-_?&=%")) EXPECT_TRUE(seen.count(c)) << c;
    for (int slot = updater_code_filled_slots; slot < updater_code_slots; ++slot) EXPECT_EQ(updater_code_slot(slot), 0);
    EXPECT_EQ(updater_code_slot(-1), 0);
    EXPECT_EQ(updater_code_slot(updater_code_slots), 0);
}

TEST(UpdaterCode, EncodesEachByteAsItsSlotPlusAThousand) {
    const std::string coded = encode("abc");
    ASSERT_EQ(coded.size(), 12u);
    for (std::size_t at = 0; at < 12; at += 4) {
        const int v = std::stoi(coded.substr(at, 4));
        EXPECT_GE(v, 1000);
        EXPECT_LE(v, 1088);
        EXPECT_EQ(updater_code_slot(v - 1000), "abc"[at / 4]);
    }
    EXPECT_EQ(encode(""), "");
}

TEST(UpdaterCode, EveryModeWordButEncryptDecodes) {
    const std::string url = "http://Mirvo-2.example:18080/xinxi50?a=1&b=%20_";
    const std::string coded = encode(url);
    EXPECT_EQ(coded.size(), 4 * url.size());
    for (const char* mode : {"decrypt", "", "d", "Encrypt", "encrypt "}) {
        updater_code_result r = updater_digit_code(coded, mode);
        EXPECT_TRUE(r.ok()) << mode;
        EXPECT_EQ(r.text, url) << mode;
    }
    // Decoding 4n digits gives n characters.
    std::string all;
    for (int v = 1000; v <= 1088; ++v) all += std::to_string(v);
    EXPECT_EQ(updater_digit_code(all, updater_decrypt_mode).text.size(), 89u);
    // Groups of the empty slots stand for nothing.
    EXPECT_EQ(updater_digit_code("1089" + encode("x") + "1099", updater_decrypt_mode).text, "x");
}

TEST(UpdaterCode, WhatCannotBeCodedIsReportedWhereItStands) {
    for (const std::string& bad : {std::string("ab\"c"), std::string("ab c"), std::string("ab\\c"),
                                   std::string("ab\xd5\xc5"), std::string("ab\0c", 4)}) {
        updater_code_result r = updater_digit_code(bad, updater_encrypt_mode);
        EXPECT_FALSE(r.ok()) << bad;
        EXPECT_EQ(r.fault, 2u) << bad;
        EXPECT_EQ(r.text, encode("ab")) << bad;
    }
    const std::string ab = encode("ab");
    for (const std::string& tail : {"0999", "1100", "10a0", "100", "+100", " 100"}) {
        updater_code_result r = updater_digit_code(ab + tail, updater_decrypt_mode);
        EXPECT_FALSE(r.ok()) << tail;
        EXPECT_EQ(r.fault, 8u) << tail;
        EXPECT_EQ(r.text, "ab") << tail;
    }
}

}  // namespace
}  // namespace mirvo
