#include "http/PartialDownload.h"

#include <gtest/gtest.h>

#include <string>

namespace update {
namespace {

ResumePoint Point(std::uint32_t offset, std::uint32_t total, const wchar_t* validator = L"\"v1\"") {
  ResumePoint p;
  p.offset = offset;
  p.total = total;
  base::CopyText(p.validator, validator);
  return p;
}

TEST(ChooseValidator, StrongTagElseLastModified) {
  struct Case {
    const wchar_t* etag;
    const wchar_t* lastModified;
    const wchar_t* chosen;  // null: none
  } cases[] = {
      {L"\"5f1-2a\"", L"Wed, 01 May 2024 12:34:56 GMT", L"\"5f1-2a\""},
      {L"W/\"5f1-2a\"", L"Wed, 01 May 2024 12:34:56 GMT", L"Wed, 01 May 2024 12:34:56 GMT"},  // weak tag
      {L"", L"Wed, 01 May 2024 12:34:56 GMT", L"Wed, 01 May 2024 12:34:56 GMT"},
      {L"\"a\r\nX-Evil: 1\"", L"", nullptr},  // a line break would add a header
      {L"unquoted", L"", nullptr},
      {L"\"\x4e2d\"", L"", nullptr},          // not ASCII
      {L"", L"", nullptr},
  };
  for (const auto& c : cases) {
    wchar_t out[kValidatorChars] = L"untouched";
    EXPECT_EQ(c.chosen != nullptr, ChooseValidator(c.etag, c.lastModified, out)) << c.etag;
    EXPECT_STREQ(c.chosen ? c.chosen : L"untouched", out) << c.etag;
  }
  std::wstring longTag = L"\"" + std::wstring(kValidatorChars, L'a') + L"\"";
  wchar_t out[kValidatorChars] = {};
  EXPECT_FALSE(ChooseValidator(longTag.c_str(), nullptr, out));
}

TEST(FormatRangeHeaders, AsksForTheRestUnderTheValidator) {
  wchar_t out[kRangeHeaderChars] = {};
  ASSERT_TRUE(FormatRangeHeaders(Point(1234, 5000), out));
  EXPECT_STREQ(L"Range: bytes=1234-\r\nIf-Range: \"v1\"\r\n", out);
  wchar_t kept[kRangeHeaderChars] = L"kept";
  EXPECT_FALSE(FormatRangeHeaders(Point(0, 5000), kept));
  EXPECT_FALSE(FormatRangeHeaders(Point(10, 5000, L""), kept));
  EXPECT_STREQ(L"kept", kept);
}

TEST(ParseContentRange, TakesOnlyOneWellFormedRange) {
  ContentRange r;
  ASSERT_TRUE(ParseContentRange(L"bytes 100-4999/5000", &r));
  EXPECT_EQ(100u, r.first);
  EXPECT_EQ(4999u, r.last);
  EXPECT_EQ(5000u, r.total);
  for (const wchar_t* bad : {L"bytes 100-4999/*", L"bytes */5000", L"bytes 100-5000/5000", L"bytes 200-100/5000",
                             L"bytes 100-4999/5000 ", L"items 100-4999/5000", L"bytes -1-4999/5000",
                             L"bytes 0100-4999/5000", L"bytes 1-2/99999999999", L""}) {
    EXPECT_FALSE(ParseContentRange(bad, &r)) << bad;
  }
}

TEST(JudgeRangeAnswer, ContinuesOnlyExactlyAtTheKeptSize) {
  const ResumePoint from = Point(1000, 5000);
  auto range = [](std::uint32_t first, std::uint32_t last, std::uint32_t total) {
    ContentRange r;
    r.first = first;
    r.last = last;
    r.total = total;
    return r;
  };
  struct Case {
    const char* what;
    ResumePoint from;
    unsigned status;
    bool haveRange;
    ContentRange range;
    std::uint32_t declared;
    RangeAnswer answer;
  } cases[] = {
      {"no range asked, any status", Point(0, 0), 500, false, {}, 10, RangeAnswer::kWhole},
      {"the rest", from, 206, true, range(1000, 4999, 5000), 4000, RangeAnswer::kContinues},
      {"ranges ignored or file changed", from, 200, false, {}, 7000, RangeAnswer::kWhole},
      {"starts before the kept size", from, 206, true, range(999, 4999, 5000), 4001, RangeAnswer::kRefused},
      {"starts after the kept size", from, 206, true, range(1001, 4999, 5000), 3999, RangeAnswer::kRefused},
      {"another total", from, 206, true, range(1000, 5999, 6000), 5000, RangeAnswer::kRefused},
      {"stops short of the end", from, 206, true, range(1000, 3999, 5000), 3000, RangeAnswer::kRefused},
      {"length is not the rest", from, 206, true, range(1000, 4999, 5000), 4001, RangeAnswer::kRefused},
      {"206 without a range", from, 206, false, {}, 4000, RangeAnswer::kRefused},
      {"not satisfiable", from, 416, false, {}, 0, RangeAnswer::kRefused},
      {"server error", from, 503, false, {}, 10, RangeAnswer::kRefused},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.answer, JudgeRangeAnswer(c.from, c.status, c.haveRange, c.range, c.declared)) << c.what;
  }
}

TEST(PartialRecord, RoundTripsAndRefusesEverythingElse) {
  char bytes[kMaxPartialRecordBytes];
  std::size_t size = 0;
  ASSERT_TRUE(FormatPartialRecord(L"0123abcd sha256=ff", L"\"5f1-2a\"", 21000000, bytes, sizeof(bytes), &size));
  const std::string text(bytes, size);
  EXPECT_EQ("OrlixPartial 1\r\nrelease 0123abcd sha256=ff\r\nvalidator \"5f1-2a\"\r\ntotal 21000000\r\n", text);

  wchar_t identity[kReleaseIdentityChars] = {};
  wchar_t validator[kValidatorChars] = {};
  std::uint32_t total = 0;
  ASSERT_TRUE(ParsePartialRecord(text.data(), text.size(), identity, validator, &total));
  EXPECT_STREQ(L"0123abcd sha256=ff", identity);
  EXPECT_STREQ(L"\"5f1-2a\"", validator);
  EXPECT_EQ(21000000u, total);

  const std::string bad[] = {
      text.substr(0, text.size() - 2),                                  // cut
      text + "x",                                                       // trailing bytes
      "OrlixPartial 2" + text.substr(14),                              // another format
      "OrlixPartial 1\r\nrelease k\r\nvalidator \"v\"\r\ntotal 0\r\n",  // empty file
      "OrlixPartial 1\r\nrelease k\r\nvalidator \"v\"\r\ntotal 536870913\r\n",  // above the bound
      "OrlixPartial 1\r\nrelease k\r\nvalidator \"v\"\r\ntotal 12x\r\n",
      "OrlixPartial 1\r\nrelease \r\nvalidator \"v\"\r\ntotal 12\r\n",
      "OrlixPartial 1\r\nrelease k\r\nvalidator \"v\x01\"\r\ntotal 12\r\n",  // control byte
      "OrlixPartial 1\r\nvalidator \"v\"\r\nrelease k\r\ntotal 12\r\n",     // another order
      "OrlixPartial 1\r\nrelease " + std::string(kReleaseIdentityChars, 'k') + "\r\nvalidator \"v\"\r\ntotal 12\r\n",
  };
  for (const std::string& b : bad) {
    wchar_t id[kReleaseIdentityChars] = L"untouched";
    EXPECT_FALSE(ParsePartialRecord(b.data(), b.size(), id, validator, &total)) << b;
    EXPECT_STREQ(L"untouched", id);
  }
  std::string huge(kMaxPartialRecordBytes + 1, ' ');
  EXPECT_FALSE(ParsePartialRecord(huge.data(), huge.size(), identity, validator, &total));
  EXPECT_FALSE(FormatPartialRecord(L"k", L"\"a\nb\"", 12, bytes, sizeof(bytes), &size));
  EXPECT_FALSE(FormatPartialRecord(L"k", L"\"v\"", 12, bytes, 20, &size));  // does not fit
}

TEST(ResumePointFor, KeptBytesMustBelongToTheRelease) {
  struct Case {
    const char* what;
    const wchar_t* recordIdentity;
    std::uint32_t expected;
    std::uint32_t total;
    std::uint64_t kept;
    bool resumes;
  } cases[] = {
      {"same release", L"key1", 0, 5000, 1000, true},
      {"signed size agrees", L"key1", 5000, 5000, 1000, true},
      {"another release", L"key2", 0, 5000, 1000, false},
      {"signed size differs", L"key1", 6000, 5000, 1000, false},
      {"nothing kept", L"key1", 0, 5000, 0, false},
      {"all kept (or more)", L"key1", 0, 5000, 5000, false},
      {"more than the record says", L"key1", 0, 5000, 0x100000000ull, false},
  };
  for (const auto& c : cases) {
    ResumePoint p = Point(7, 7, L"\"old\"");
    EXPECT_EQ(c.resumes, ResumePointFor(L"key1", c.expected, c.recordIdentity, L"\"v\"", c.total, c.kept, &p))
        << c.what;
    EXPECT_EQ(c.resumes ? std::uint32_t(c.kept) : 7u, p.offset) << c.what;
    if (c.resumes) {
      EXPECT_EQ(c.total, p.total);
      EXPECT_STREQ(L"\"v\"", p.validator);
    }
  }
}

}  // namespace
}  // namespace update
