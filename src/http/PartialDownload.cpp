#include "http/PartialDownload.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace update {

namespace {

constexpr char kRecordHead[] = "OrlixPartial 1\r\n";
constexpr char kReleaseTag[] = "release ";
constexpr char kValidatorTag[] = "validator ";
constexpr char kTotalTag[] = "total ";

bool IsPrintableAscii(wchar_t c) { return c >= 0x20 && c < 0x7F; }

// Decimal digits at |*p| up to a non-digit, into 32 bits; false for none,
// a leading zero of a longer number, or overflow.
bool ReadDecimal(const wchar_t** p, std::uint32_t* value) {
  const wchar_t* s = *p;
  std::uint64_t v = 0;
  std::size_t digits = 0;
  for (; *s >= L'0' && *s <= L'9'; ++s, ++digits) {
    v = v * 10 + std::uint32_t(*s - L'0');
    if (v > 0xFFFFFFFFull) return false;
  }
  if (digits == 0 || (digits > 1 && **p == L'0')) return false;
  *p = s;
  *value = std::uint32_t(v);
  return true;
}

// Copies the ASCII line at |*p| (up to "\r\n") after |tag| into |out|.
template <std::size_t N>
bool ReadLine(const char** p, const char* end, const char* tag, wchar_t (&out)[N]) {
  const std::size_t tagLength = std::strlen(tag);
  const char* s = *p;
  if (std::size_t(end - s) < tagLength || std::memcmp(s, tag, tagLength) != 0) return false;
  s += tagLength;
  std::size_t n = 0;
  wchar_t text[N] = {};
  for (; s < end && *s != '\r'; ++s) {
    if (n + 1 >= N || !IsPrintableAscii(wchar_t(static_cast<unsigned char>(*s)))) return false;
    text[n++] = wchar_t(static_cast<unsigned char>(*s));
  }
  if (end - s < 2 || s[0] != '\r' || s[1] != '\n') return false;
  *p = s + 2;
  std::wmemcpy(out, text, N);
  return true;
}

bool AppendAscii(char* out, std::size_t capacity, std::size_t* used, const char* text) {
  const std::size_t n = std::strlen(text);
  if (*used + n > capacity) return false;
  std::memcpy(out + *used, text, n);
  *used += n;
  return true;
}

bool AppendWideAscii(char* out, std::size_t capacity, std::size_t* used, const wchar_t* text) {
  for (; *text; ++text) {
    if (!IsPrintableAscii(*text) || *used + 1 > capacity) return false;
    out[(*used)++] = char(*text);
  }
  return true;
}

}  // namespace

bool IsHeaderSafeText(const wchar_t* text) {
  if (!text || !text[0]) return false;
  std::size_t n = 0;
  for (; text[n]; ++n) {
    if (n + 1 >= kValidatorChars || !IsPrintableAscii(text[n])) return false;
  }
  return true;
}

bool ChooseValidator(const wchar_t* etag, const wchar_t* lastModified, wchar_t (&out)[kValidatorChars]) {
  if (IsHeaderSafeText(etag)) {
    const std::size_t n = std::wcslen(etag);
    // A strong tag is a quoted text; "W/..." is weak and may not guard a range.
    if (n >= 2 && etag[0] == L'"' && etag[n - 1] == L'"') return base::CopyText(out, etag);
  }
  if (IsHeaderSafeText(lastModified)) return base::CopyText(out, lastModified);
  return false;
}

bool FormatRangeHeaders(const ResumePoint& from, wchar_t (&out)[kRangeHeaderChars]) {
  if (from.offset == 0 || !IsHeaderSafeText(from.validator)) return false;
  wchar_t text[kRangeHeaderChars] = {};
  const int n = std::swprintf(text, kRangeHeaderChars, L"Range: bytes=%lu-\r\nIf-Range: %ls\r\n",
                              static_cast<unsigned long>(from.offset), from.validator);
  if (n <= 0 || std::size_t(n) + 1 > kRangeHeaderChars) return false;
  return base::CopyText(out, text);
}

bool ParseContentRange(const wchar_t* text, ContentRange* out) {
  if (!text || !out || std::wcsncmp(text, L"bytes ", 6) != 0) return false;
  const wchar_t* p = text + 6;
  ContentRange range;
  if (!ReadDecimal(&p, &range.first) || *p++ != L'-' || !ReadDecimal(&p, &range.last) || *p++ != L'/' ||
      !ReadDecimal(&p, &range.total) || *p != L'\0') {
    return false;
  }
  if (range.first > range.last || range.last >= range.total) return false;
  *out = range;
  return true;
}

RangeAnswer JudgeRangeAnswer(const ResumePoint& from, unsigned status, bool haveRange, const ContentRange& range,
                             std::uint32_t declaredLength) {
  if (from.offset == 0) return RangeAnswer::kWhole;
  if (status == 200) return RangeAnswer::kWhole;
  if (status != 206 || !haveRange) return RangeAnswer::kRefused;
  if (range.first != from.offset || range.total != from.total || range.last != from.total - 1) {
    return RangeAnswer::kRefused;
  }
  if (declaredLength != from.total - from.offset) return RangeAnswer::kRefused;
  return RangeAnswer::kContinues;
}

bool FormatPartialRecord(const wchar_t* identity, const wchar_t* validator, std::uint32_t total, char* out,
                         std::size_t capacity, std::size_t* size) {
  if (!identity || !identity[0] || std::wcslen(identity) + 1 > kReleaseIdentityChars ||
      !IsHeaderSafeText(validator) || total == 0 || total > kMaxResumableBytes || !out || !size) {
    return false;
  }
  char number[16] = {};
  std::snprintf(number, sizeof(number), "%lu", static_cast<unsigned long>(total));
  std::size_t used = 0;
  if (!AppendAscii(out, capacity, &used, kRecordHead) || !AppendAscii(out, capacity, &used, kReleaseTag) ||
      !AppendWideAscii(out, capacity, &used, identity) || !AppendAscii(out, capacity, &used, "\r\n") ||
      !AppendAscii(out, capacity, &used, kValidatorTag) || !AppendWideAscii(out, capacity, &used, validator) ||
      !AppendAscii(out, capacity, &used, "\r\n") || !AppendAscii(out, capacity, &used, kTotalTag) ||
      !AppendAscii(out, capacity, &used, number) || !AppendAscii(out, capacity, &used, "\r\n")) {
    return false;
  }
  *size = used;
  return true;
}

bool ParsePartialRecord(const char* bytes, std::size_t size, wchar_t (&identity)[kReleaseIdentityChars],
                        wchar_t (&validator)[kValidatorChars], std::uint32_t* total) {
  if (!bytes || !total || size > kMaxPartialRecordBytes) return false;
  const char* p = bytes;
  const char* end = bytes + size;
  const std::size_t headLength = sizeof(kRecordHead) - 1;
  if (size < headLength || std::memcmp(p, kRecordHead, headLength) != 0) return false;
  p += headLength;
  wchar_t readIdentity[kReleaseIdentityChars] = {};
  wchar_t readValidator[kValidatorChars] = {};
  wchar_t totalText[16] = {};
  if (!ReadLine(&p, end, kReleaseTag, readIdentity) || !ReadLine(&p, end, kValidatorTag, readValidator) ||
      !ReadLine(&p, end, kTotalTag, totalText) || p != end) {
    return false;
  }
  const wchar_t* t = totalText;
  std::uint32_t value = 0;
  if (!readIdentity[0] || !IsHeaderSafeText(readValidator) || !ReadDecimal(&t, &value) || *t != L'\0' ||
      value == 0 || value > kMaxResumableBytes) {
    return false;
  }
  std::wmemcpy(identity, readIdentity, kReleaseIdentityChars);
  std::wmemcpy(validator, readValidator, kValidatorChars);
  *total = value;
  return true;
}

bool ResumePointFor(const wchar_t* identity, std::uint32_t expectedTotal, const wchar_t* recordIdentity,
                    const wchar_t* validator, std::uint32_t total, std::uint64_t keptSize, ResumePoint* out) {
  if (!identity || !identity[0] || !recordIdentity || std::wcscmp(identity, recordIdentity) != 0) return false;
  if (!IsHeaderSafeText(validator) || total == 0 || total > kMaxResumableBytes) return false;
  if (expectedTotal != 0 && total != expectedTotal) return false;
  if (keptSize == 0 || keptSize >= total) return false;
  ResumePoint point;
  point.offset = std::uint32_t(keptSize);
  point.total = total;
  base::CopyText(point.validator, validator);
  *out = point;
  return true;
}

}  // namespace update
