// Signatures and digests against the published test vectors (so lists signed
// by any other Ed25519 tool verify here), and the ways a list or a signature
// can be wrong.
#include "common/sign/sign.h"

#include "common/sign/update_identity.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace mirvo {
namespace {

// RFC 8032, section 7.1, tests 1 and 2.
struct vector_case {
    const char* secret;
    const char* pub;
    std::string message;
    const char* signature;
};
const vector_case rfc8032[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe246"
     "55"
     "141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "\x72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb"
     "00"
     "d291612bb0c00"},
};

TEST(Sign, MatchesThePublishedVectors) {
    for (const vector_case& v : rfc8032) {
        const auto secret = parse_private_key(v.secret);
        ASSERT_TRUE(secret);
        const public_key pub = public_key_of(*secret);
        EXPECT_EQ(key_text(pub), v.pub);
        EXPECT_EQ(signature_text(*secret, v.message), std::string(v.signature) + "\n");
        EXPECT_TRUE(signature_matches(pub, v.message, v.signature));
    }
}

TEST(Sign, RefusesAnAlteredListAnotherKeyAndBrokenSignatureTexts) {
    const auto pair = make_key_pair();
    ASSERT_TRUE(pair);
    const std::string list = "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<download>\r\n<file order=\"1\" />\r\n";
    const std::string sig = signature_text(pair->secret, list);
    EXPECT_TRUE(signature_matches(pair->pub, list, sig));
    // Laid out by hand: blanks, a CR LF, a note above the digits.
    EXPECT_TRUE(signature_matches(pair->pub, list, "# list signature\r\n  " + sig.substr(0, 128) + " \r\n"));

    // Any one byte changed, added or taken away.
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::string altered = list;
        altered[i] ^= 0x01;
        EXPECT_FALSE(signature_matches(pair->pub, altered, sig)) << i;
    }
    EXPECT_FALSE(signature_matches(pair->pub, list + "\n", sig));
    EXPECT_FALSE(signature_matches(pair->pub, list.substr(1), sig));

    const auto other = make_key_pair();
    ASSERT_TRUE(other);
    EXPECT_NE(key_text(other->pub), key_text(pair->pub));
    EXPECT_FALSE(signature_matches(other->pub, list, sig));

    std::string flipped = sig;
    flipped[10] = flipped[10] == '0' ? '1' : '0';
    for (const std::string& bad :
         {std::string(), std::string("\n"), flipped, sig.substr(0, 126), sig.substr(0, 128) + "00",
          sig.substr(0, 64) + "\n" + sig.substr(64), "zz" + sig.substr(2), key_text(pair->pub)})
        EXPECT_FALSE(signature_matches(pair->pub, list, bad)) << bad;
}

TEST(Sign, KeyTextsTakeEitherCaseAndNotesButNothingElse) {
    const std::string hex = rfc8032[0].pub;
    std::string upper = hex;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(parse_public_key(upper));
    EXPECT_EQ(key_text(*parse_public_key(upper)), hex);
    EXPECT_TRUE(parse_public_key("# Mirvo update key\n" + hex + "\n\n"));
    for (const std::string& bad : {std::string(), hex.substr(1), hex + "0", hex + "\n" + hex, "x" + hex.substr(1),
                                   hex.substr(0, 32) + " " + hex.substr(32), hex + " # note"})
        EXPECT_FALSE(parse_public_key(bad)) << bad;
    EXPECT_FALSE(parse_private_key(rfc8032[0].signature));
}

TEST(Sign, DigestsOfBytesAndOfFilesAgree) {
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    testing::temp_folder dir;
    // Larger than one read, with NUL bytes in it.
    std::string big(700 * 1024, 'a');
    for (std::size_t i = 0; i < big.size(); i += 997) big[i] = '\0';
    testing::write_bytes(dir.path() + "/big.bin", big);
    EXPECT_EQ(file_sha256_hex(dir.path() + "\\big.bin"), sha256_hex(big));
    EXPECT_FALSE(file_sha256_hex(dir.path() + "\\missing.bin"));
    EXPECT_FALSE(file_sha256_hex(dir.path()));

    const std::string d = sha256_hex("abc");
    std::string upper = d;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(same_digest(upper, d));
    EXPECT_FALSE(same_digest(sha256_hex("abd"), d));
    EXPECT_FALSE(same_digest(d.substr(0, 63), d));
    EXPECT_FALSE(same_digest("", d));
}

TEST(Sign, AListFileIsCheckedAgainstTheSignatureBesideIt) {
    const auto pair = make_key_pair();
    ASSERT_TRUE(pair);
    testing::temp_folder dir;
    const std::string list = dir.path() + "/download.xml";
    const std::string gbk_list = dir.path() + "\\download.xml";
    EXPECT_EQ(check_list_signature(pair->pub, gbk_list), list_signature::missing);
    testing::write_bytes(list, "<download>\r\n</download>\r\n");
    EXPECT_EQ(check_list_signature(pair->pub, gbk_list), list_signature::missing);
    testing::write_bytes(list + ".sig", signature_text(pair->secret, "<download>\r\n</download>\r\n"));
    EXPECT_EQ(check_list_signature(pair->pub, gbk_list), list_signature::valid);
    testing::write_bytes(list, "<download>\n</download>\n");
    EXPECT_EQ(check_list_signature(pair->pub, gbk_list), list_signature::invalid);
}

// What a list says it installs is read only when both halves are there and
// the version is one; the dates of signed documents read back exactly.
TEST(UpdateIdentity, ListsNameTargetAndVersionAndDocumentsTheirDate) {
    const std::string list = "<?xml version=\"1.0\"?>\r\n<download>\r\n<version_file>mirvo.xml</version_file>\r\n" +
                             list_identity_elements({"mirvo", "3.9"}) + "</download>\r\n";
    const auto identity = read_list_identity(list);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->target, "mirvo");
    EXPECT_EQ(identity->version, "3.9");
    EXPECT_FALSE(read_list_identity("<download><update_version>3.9</update_version></download>"));
    for (const char* version : {"", "3.", ".9", "3..9", "3.9a", "-1", "1e9", " 3.9"}) {
        EXPECT_FALSE(is_version_text(version)) << version;
        EXPECT_FALSE(read_list_identity(list_identity_elements({"mirvo", version}))) << version;
    }
    EXPECT_TRUE(is_version_text("10.0.1"));

    EXPECT_EQ(version_record_of(client_target).path, "\\mirvo.xml");
    EXPECT_EQ(version_record_of(client_target).element, "mirvo");
    EXPECT_EQ(version_record_of("mdemo.exe").path, "\\mdemo.xml");
    EXPECT_EQ(version_record_text(version_record_of("mdemo.exe"), "1.1"), "<version>1.1</version>\r\n");

    const std::time_t when = 1777622400;  // 2026-05-01 08:00:00 UTC
    EXPECT_EQ(signed_date_text(when), "2026-05-01T08:00:00Z");
    EXPECT_EQ(parse_signed_date("2026-05-01T08:00:00Z"), when);
    for (const char* bad : {"", "2026-05-01", "2026-02-30T00:00:00Z", "2026-05-01T08:00:00", "2026-05-01 08:00:00Z",
                            "2026-13-01T00:00:00Z", "+026-05-01T08:00:00Z"})
        EXPECT_FALSE(parse_signed_date(bad)) << bad;
}

}  // namespace
}  // namespace mirvo
