#include "release/PatchOffer.h"

#include <gtest/gtest.h>

namespace update {
namespace {

const wchar_t kBase[] = L"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

TEST(PatchOffer, ParsesTheThreeValues) {
  PatchOffer offer;
  ASSERT_TRUE(ParsePatchOffer(kBase, L"123456", L"http://h/p.patch", &offer));
  EXPECT_EQ(0x11, offer.base[1]);
  EXPECT_EQ(123456u, offer.size);
  EXPECT_STREQ(L"http://h/p.patch", offer.url);

  struct Case {
    const wchar_t* base;
    const wchar_t* size;
    const wchar_t* url;
  } bad[] = {
      {L"0011", L"1", L"http://h/p"},
      {kBase, L"0", L"http://h/p"},
      {kBase, L"012", L"http://h/p"},
      {kBase, L"-5", L"http://h/p"},
      {kBase, L"67108865", L"http://h/p"},  // above kMaxPatchBytes
      {kBase, L"99999999999", L"http://h/p"},
      {kBase, L"12", L"https://h/p"},
      {kBase, L"12", L"http://"},
  };
  for (const auto& c : bad) {
    PatchOffer kept;
    kept.size = 7;
    EXPECT_FALSE(ParsePatchOffer(c.base, c.size, c.url, &kept)) << c.size << c.url;
    EXPECT_EQ(7u, kept.size);
  }
}

TEST(PatchOffer, FindsTheOfferForTheOwnFile) {
  PatchOffers offers;
  ASSERT_TRUE(ParsePatchOffer(kBase, L"10", L"http://h/a", &offers.offers[0]));
  ASSERT_TRUE(ParsePatchOffer(L"ff112233445566778899aabbccddeeff00112233445566778899aabbccddeeff", L"20",
                              L"http://h/b", &offers.offers[1]));
  offers.count = 2;
  std::uint8_t own[kSha256Bytes] = {};
  EXPECT_EQ(nullptr, FindPatchFor(offers, own));
  own[0] = 0xff;
  own[1] = 0x11;
  for (std::size_t i = 2; i < kSha256Bytes; ++i) own[i] = offers.offers[0].base[i];
  const PatchOffer* found = FindPatchFor(offers, own);
  ASSERT_NE(nullptr, found);
  EXPECT_STREQ(L"http://h/b", found->url);
  offers.count = 1;
  EXPECT_EQ(nullptr, FindPatchFor(offers, own));

  PatchKeyNames names;
  ASSERT_TRUE(MakePatchKeyNames(3, &names));
  EXPECT_STREQ(L"Patch3Base", names.base);
  EXPECT_STREQ(L"Patch3Size", names.size);
  EXPECT_STREQ(L"Patch3Addr", names.addr);
  EXPECT_FALSE(MakePatchKeyNames(0, &names));
  EXPECT_FALSE(MakePatchKeyNames(kMaxPatchOffers + 1, &names));
}

}  // namespace
}  // namespace update
