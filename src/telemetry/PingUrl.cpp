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
  auto putByte = [&put](unsigned byte) { return put(L'%') && put(kHex[byte >> 4]) && put(kHex[byte & 0xF]); };
  for (const wchar_t* p = value ? value : L""; *p; ++p) {
    const unsigned c = unsigned(*p) & 0xFFFFu;
    const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' ||
                       c == L'.' || c == L'_' || c == L'~';
    const unsigned next = unsigned(p[1]) & 0xFFFFu;
    bool ok = true;
    if (plain) {
      ok = put(wchar_t(c));
    } else if (c < 0x80) {
      ok = putByte(c);
    } else if (c < 0x800) {
      ok = putByte(0xC0 | (c >> 6)) && putByte(0x80 | (c & 0x3F));
    } else if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      const unsigned code = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
      ++p;
      ok = putByte(0xF0 | (code >> 18)) && putByte(0x80 | ((code >> 12) & 0x3F)) &&
           putByte(0x80 | ((code >> 6) & 0x3F)) && putByte(0x80 | (code & 0x3F));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return false;  // a lone surrogate has no UTF-8 form
    } else {
      ok = putByte(0xE0 | (c >> 12)) && putByte(0x80 | ((c >> 6) & 0x3F)) && putByte(0x80 | (c & 0x3F));
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
  if (count < 0 || !GetPingBaseUrl(event, url) || !FormatInt64(count, number, kValueChars)) return false;
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
    if (figure.value < 0 || !FormatInt64(figure.value, number, kValueChars)) return false;
    if (!AppendQueryValue(url, figure.key, number)) return false;
  }
  if (!AppendQueryValue(url, L"installDay", IsInstallDayText(installDay) ? installDay : L"") ||
      !AppendQueryValue(url, L"deviceCode", deviceCode)) {
    return false;
  }
  return base::CopyText(out, url);
}

}  // namespace telemetry
