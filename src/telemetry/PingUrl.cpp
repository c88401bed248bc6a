#include "telemetry/PingUrl.h"

#include "product/MakerSettings.h"
#include "product/ProductInfo.h"
#include "telemetry/StatDays.h"

namespace telemetry {

namespace {

const wchar_t* PagePath(PingEvent event) {
  switch (event) {
    case PingEvent::kInstall:
      return L"/install.htm";
    case PingEvent::kUpdate:
      return L"/update.htm";
    case PingEvent::kActivity:
      return L"/active.htm";
    case PingEvent::kUninstall:
      return L"/uninstall.htm";
  }
  return L"/";
}

}  // namespace

bool IsInstallDayText(const wchar_t* text) {
  if (!text) return false;
  for (int i = 0; i < 8; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
  }
  return text[8] == L'\0';
}

bool PercentEncode(const wchar_t* value, wchar_t (&out)[base::kUrlChars]) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  wchar_t encoded[base::kUrlChars] = {};
  std::size_t n = 0;
  auto put = [&encoded, &n](wchar_t c) {
    if (n + 1 >= base::kUrlChars) return false;
    encoded[n++] = c;
    return true;
  };
  auto putByte = [&put](unsigned long byte) { return put(L'%') && put(kHex[byte >> 4]) && put(kHex[byte & 0xF]); };
  for (const wchar_t* p = value ? value : L""; *p; ++p) {
    // UTF-16 code units on Windows; where wchar_t has 32 bits (the native
    // build of this file) a unit is a whole code point.
    unsigned long code = static_cast<unsigned long>(*p);
    const bool plain = (code >= L'a' && code <= L'z') || (code >= L'A' && code <= L'Z') ||
                       (code >= L'0' && code <= L'9') || code == L'-' || code == L'.' || code == L'_' || code == L'~';
    const unsigned long next = static_cast<unsigned long>(p[1]);
    if (code >= 0xD800 && code <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
      ++p;
    } else if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
      return false;  // a lone surrogate, or no code point at all, has no UTF-8 form
    }
    bool ok = true;
    if (plain) {
      ok = put(wchar_t(code));
    } else if (code < 0x80) {
      ok = putByte(code);
    } else if (code < 0x800) {
      ok = putByte(0xC0 | (code >> 6)) && putByte(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      ok = putByte(0xE0 | (code >> 12)) && putByte(0x80 | ((code >> 6) & 0x3F)) && putByte(0x80 | (code & 0x3F));
    } else {
      ok = putByte(0xF0 | (code >> 18)) && putByte(0x80 | ((code >> 12) & 0x3F)) &&
           putByte(0x80 | ((code >> 6) & 0x3F)) && putByte(0x80 | (code & 0x3F));
    }
    if (!ok) return false;
  }
  return base::CopyText(out, encoded);
}

bool AppendQueryValue(wchar_t (&url)[base::kUrlChars], const wchar_t* key, const wchar_t* value) {
  wchar_t encoded[base::kUrlChars] = {};
  return PercentEncode(value, encoded) && base::AppendText(url, L"&", key, L"=", encoded);
}

bool GetPingBaseUrl(PingEvent event, wchar_t (&out)[base::kUrlChars]) {
  wchar_t tag[base::kUrlChars] = {};
  wchar_t version[base::kUrlChars] = {};
  return PercentEncode(product::kProductCode, tag) && PercentEncode(product::kVersion, version) &&
         base::JoinText(out, L"http://", maker::kServerHost, PagePath(event), L"?tag=", tag, L"&ver=", version);
}

bool BuildCountPingUrl(PingEvent event, std::int64_t count, wchar_t (&out)[base::kUrlChars]) {
  wchar_t url[base::kUrlChars] = {};
  wchar_t number[kValueChars] = {};
  if (count < 0 || !GetPingBaseUrl(event, url) || !FormatInt64(count, number)) return false;
  if (!AppendQueryValue(url, L"count", number)) return false;
  return base::CopyText(out, url);
}

bool BuildActivityPingUrl(std::int64_t count, std::int64_t apartDays, std::int64_t keepDays, std::int64_t weekDays,
                          const wchar_t* installDay, const wchar_t* deviceCode, wchar_t (&out)[base::kUrlChars]) {
  wchar_t url[base::kUrlChars] = {};
  if (!GetPingBaseUrl(PingEvent::kActivity, url)) return false;
  const struct {
    const wchar_t* key;
    std::int64_t value;
  } figures[] = {{L"count", count}, {L"apartdays", apartDays}, {L"keepdays", keepDays}, {L"weekdays", weekDays}};
  for (const auto& figure : figures) {
    wchar_t number[kValueChars] = {};
    if (figure.value < 0 || !FormatInt64(figure.value, number)) return false;
    if (!AppendQueryValue(url, figure.key, number)) return false;
  }
  if (!AppendQueryValue(url, L"installDay", IsInstallDayText(installDay) ? installDay : L"") ||
      !AppendQueryValue(url, L"deviceCode", deviceCode)) {
    return false;
  }
  return base::CopyText(out, url);
}

}  // namespace telemetry
