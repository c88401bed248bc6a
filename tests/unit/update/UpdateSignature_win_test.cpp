// The configuration signature through Windows' own CNG: the vectors were made
// once with an ECDSA P-256 key whose private half was thrown away.
#include "update/UpdateSignature.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using update::SignatureCheck;

const wchar_t kKey[] =
    L"045df04b52960d62e82c79994fa906edb04133ccc7b04bba09a9951024dff831ee07400b18f386ff86d0852d68d091652c614152562e7e"
    L"11f0496535495ec57181";
const wchar_t kOtherKey[] =
    L"0489d16c9169150d28c5f3cdaac27e69afac31a9065334e672cc614503f9d3dc74b57c62486e3a81fe8547f59e95a208d822deb549845be"
    L"20e339b7841d626a962";
const std::string kMessage =
    "[VerKey]\r\nTavrel=0123456789abcdef0123456789ab3016\r\n"
    "UpdAddr=http://127.0.0.1/update/Tavrel_Launcher_3.0.1.6.exe\r\n";
// Three signatures of kMessage: r and s of 32 bytes without a sign byte, both
// with a sign byte (the longest, 72 bytes), and an r of 31 bytes.
const char kSignature70[] =
    "304402203b80f499293d1b15cb5ac34b08229716575c596f38f0cc9dba0a17bd42079ddc022040fbccc11c2e9b96e171e684fdc47e6ab7"
    "ed8cb461cd372ebe0f24d038fe11a2";
const char kSignature72[] =
    "304602210088db36cbf9ab7a4219039ec853397fe34671393d57133b20750934a3a99ac73702210083b0cbd5e29eae3576fa4e349156bd"
    "653a70ae7b03faefa98a5df0a09227e831";
const char kSignature69[] =
    "3043021f7c77e2f5d5621605d69280a5097d4775f3122198f9f6a5a074dfb20653d0ba022036c02d5a4b07df3900c411a939fb2d6e1514"
    "960ee60a84b78e661e57c52a5236";

std::vector<std::uint8_t> Bytes(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(std::uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

SignatureCheck Verify(const wchar_t* key, const std::string& message, const std::vector<std::uint8_t>& der) {
  return update::VerifyP256Signature(key, message.data(), message.size(), der.data(), der.size());
}

}  // namespace

TEST(UpdateSignature, GoodSignaturesOfEveryIntegerLengthVerify) {
  for (const char* hex : {kSignature70, kSignature72, kSignature69}) {
    EXPECT_EQ(SignatureCheck::kValid, Verify(kKey, kMessage, Bytes(hex))) << hex;
  }
  // The key's hexadecimal digits may be written in capitals.
  std::wstring upper(kKey);
  for (wchar_t& c : upper) c = (c >= L'a' && c <= L'f') ? wchar_t(c - 32) : c;
  EXPECT_EQ(SignatureCheck::kValid, Verify(upper.c_str(), kMessage, Bytes(kSignature70)));
}

TEST(UpdateSignature, AnyFlippedBitOrOtherKeyFails) {
  const std::vector<std::uint8_t> good = Bytes(kSignature70);
  for (std::size_t at : {std::size_t(0), kMessage.size() / 2, kMessage.size() - 1}) {
    std::string changed = kMessage;
    changed[at] ^= 0x01;
    EXPECT_EQ(SignatureCheck::kInvalid, Verify(kKey, changed, good)) << "message byte " << at;
  }
  EXPECT_EQ(SignatureCheck::kInvalid, Verify(kKey, kMessage + "\r\n", good));  // one more line
  EXPECT_EQ(SignatureCheck::kInvalid, Verify(kKey, kMessage.substr(0, kMessage.size() - 2), good));
  // Bits of r and of s (the DER framing left intact).
  for (std::size_t at : {std::size_t(4), std::size_t(35), std::size_t(40), good.size() - 1}) {
    std::vector<std::uint8_t> changed = good;
    changed[at] ^= 0x01;
    EXPECT_EQ(SignatureCheck::kInvalid, Verify(kKey, kMessage, changed)) << "signature byte " << at;
  }
  EXPECT_EQ(SignatureCheck::kInvalid, Verify(kOtherKey, kMessage, good));
  // r = s = the group order n, and all ones: integers CNG must refuse.
  const std::string n = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
  EXPECT_EQ(SignatureCheck::kInvalid, Verify(kKey, kMessage, Bytes("3046022100" + n + "022100" + n)));
  const std::string ones(64, 'f');
  EXPECT_EQ(SignatureCheck::kInvalid, Verify(kKey, kMessage, Bytes("3046022100" + ones + "022100" + ones)));
}

TEST(UpdateSignature, MalformedSignaturesAreRefusedUnread) {
  const std::string r = "3b80f499293d1b15cb5ac34b08229716575c596f38f0cc9dba0a17bd42079ddc";
  const std::string s = "40fbccc11c2e9b96e171e684fdc47e6ab7ed8cb461cd372ebe0f24d038fe11a2";
  const std::string good = std::string(kSignature70);
  struct Case {
    const char* what;
    std::string hex;
  } cases[] = {
      {"empty", ""},
      {"raw r || s instead of DER", r + s},
      {"cut short", good.substr(0, good.size() - 2)},
      {"a byte after the sequence", good + "00"},
      {"sequence length one short", "3043" + good.substr(4)},
      {"not a sequence", "3144" + good.substr(4)},
      {"long-form length", "308144" + good.substr(4)},
      {"r not an integer", "30440320" + r + "0220" + s},
      {"negative r", "30440220" + std::string("c0") + r.substr(2) + "0220" + s},
      {"r with a needless zero", "3045022100" + r + "0220" + s},
      {"zero r", "3025020100" "0220" + s},
      {"empty r", "30240200" "0220" + s},
      {"r of 33 significant bytes", "3046022101" + r + "0220" + s + "00"},
      {"only r", "30220220" + r},
      {"too long to be P-256", "3049022400000000" + r + "0220" + s},
  };
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> der = Bytes(c.hex);
    std::uint8_t raw[update::kP256PairBytes];
    std::fill(std::begin(raw), std::end(raw), 0xAB);
    EXPECT_FALSE(update::DerSignatureToRaw(der.data(), der.size(), raw)) << c.what;
    EXPECT_EQ(0xAB, raw[0]) << c.what;
    EXPECT_EQ(SignatureCheck::kMalformedSignature, Verify(kKey, kMessage, der)) << c.what;
  }
}

TEST(UpdateSignature, ShortIntegersAreRightAlignedForCng) {
  const std::vector<std::uint8_t> der = Bytes(kSignature69);
  std::uint8_t raw[update::kP256PairBytes];
  ASSERT_TRUE(update::DerSignatureToRaw(der.data(), der.size(), raw));
  EXPECT_EQ(0x00, raw[0]);  // r has 31 bytes
  EXPECT_EQ(0x7c, raw[1]);
  EXPECT_EQ(0xba, raw[31]);
  EXPECT_EQ(0x36, raw[32]);  // s starts its own half
  EXPECT_EQ(0x36, raw[63]);
}

TEST(UpdateSignature, KeyTextMustBeAnUncompressedPoint) {
  const std::wstring key(kKey);
  std::wstring offCurve = key;
  offCurve.back() = offCurve.back() == L'1' ? L'2' : L'1';
  struct Case {
    const char* what;
    std::wstring text;
  } malformed[] = {
      {"empty", L""},
      {"one digit short", key.substr(0, key.size() - 1)},
      {"one digit more", key + L"0"},
      {"compressed-point tag", L"03" + key.substr(2)},
      {"no tag", key.substr(2) + L"00"},
      {"not hexadecimal", key.substr(0, 60) + L"g" + key.substr(61)},
      {"a trailing blank", key.substr(0, key.size() - 1) + L" "},
  };
  for (const Case& c : malformed) {
    std::uint8_t point[update::kP256PairBytes] = {};
    EXPECT_FALSE(update::ParsePublicKeyText(c.text.c_str(), point)) << c.what;
    EXPECT_EQ(SignatureCheck::kUnusableKey, Verify(c.text.c_str(), kMessage, Bytes(kSignature70))) << c.what;
  }
  EXPECT_EQ(SignatureCheck::kUnusableKey, Verify(nullptr, kMessage, Bytes(kSignature70)));
  // Windows refuses a point off the curve when importing it; whichever step
  // catches it, nothing verifies with it.
  EXPECT_NE(SignatureCheck::kValid, Verify(offCurve.c_str(), kMessage, Bytes(kSignature70)));

  std::uint8_t point[update::kP256PairBytes] = {};
  ASSERT_TRUE(update::ParsePublicKeyText(kKey, point));
  EXPECT_EQ(0x5d, point[0]);   // X follows the tag
  EXPECT_EQ(0x07, point[32]);  // Y
  EXPECT_EQ(0x81, point[63]);
}
