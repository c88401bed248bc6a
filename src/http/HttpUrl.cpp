#include "http/HttpUrl.h"

#include <cwchar>

namespace update {

namespace {

// C library text-to-int rules (leading blanks, sign, digits up to the first
// other character) over a counted piece of text, reduced to 16 bits the way
// the 32-bit conversion's low word is.
std::uint16_t PortFromText(const wchar_t* text, std::size_t length) {
  std::size_t i = 0;
  while (i < length && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < length && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  std::uint32_t value = 0;
  for (; i < length && text[i] >= L'0' && text[i] <= L'9'; ++i) value = value * 10u + unsigned(text[i] - L'0');
  if (negative) value = 0u - value;
  return static_cast<std::uint16_t>(value & 0xFFFFu);
}

bool EqualsAsciiNoCase(const wchar_t* a, std::size_t aLength, const wchar_t* b, std::size_t bLength) {
  if (aLength != bLength) return false;
  for (std::size_t i = 0; i < aLength; ++i) {
    if (base::AsciiUpper(a[i]) != base::AsciiUpper(b[i])) return false;
  }
  return true;
}

}  // namespace

bool SplitHttpUrl(const wchar_t* rest, SplitUrl* out) {
  if (!rest || !out) return false;
  const wchar_t* slash = std::wcschr(rest, L'/');
  const std::size_t hostPartLength = slash ? std::size_t(slash - rest) : std::wcslen(rest);
  const wchar_t* path = slash ? slash + 1 : L"";

  std::size_t hostLength = hostPartLength;
  std::uint16_t port = kDefaultHttpPort;
  for (std::size_t i = 0; i < hostPartLength; ++i) {
    if (rest[i] == L':') {
      hostLength = i;
      port = PortFromText(rest + i + 1, hostPartLength - i - 1);
      break;
    }
  }
  const std::size_t pathLength = std::wcslen(path);
  if (hostLength + 1 > kHostChars || pathLength + 1 > base::kUrlChars) return false;

  std::wmemcpy(out->host, rest, hostLength);
  out->host[hostLength] = L'\0';
  out->port = port;
  std::wmemcpy(out->path, path, pathLength);
  out->path[pathLength] = L'\0';
  return true;
}

bool HasHttpPrefix(const wchar_t* url) {
  static const wchar_t kPrefix[] = L"http://";
  if (!url) return false;
  for (std::size_t i = 0; i + 1 < sizeof(kPrefix) / sizeof(kPrefix[0]); ++i) {
    if (url[i] == L'\0' || base::AsciiUpper(url[i]) != base::AsciiUpper(kPrefix[i])) return false;
  }
  return true;
}

bool IsAllowedDownloadHost(const wchar_t* url, const wchar_t* const* domains, std::size_t domainCount) {
  if (!HasHttpPrefix(url)) return false;
  const wchar_t* host = url + 7;
  std::size_t hostLength = std::wcscspn(host, L"/:");
  if (hostLength == 0) return false;
  // Only the characters of a DNS name or an IPv4 address: "user@host",
  // "a?.maker.com" or a backslash would make the allow-listed tail a decoy.
  for (std::size_t i = 0; i < hostLength; ++i) {
    const wchar_t c = host[i];
    const bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' ||
                    c == L'.';
    if (!ok) return false;
  }
  for (std::size_t d = 0; d < domainCount; ++d) {
    const wchar_t* domain = domains[d];
    const std::size_t domainLength = domain ? std::wcslen(domain) : 0;
    if (domainLength == 0) continue;
    if (EqualsAsciiNoCase(host, hostLength, domain, domainLength)) return true;
    if (hostLength > domainLength + 1 && host[hostLength - domainLength - 1] == L'.' &&
        EqualsAsciiNoCase(host + hostLength - domainLength, domainLength, domain, domainLength)) {
      return true;
    }
  }
  return false;
}

bool IsRedirectStatus(unsigned status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool ResolveRedirect(const wchar_t* current, const wchar_t* location, wchar_t (&out)[base::kUrlChars]) {
  if (!current || !location || !HasHttpPrefix(current)) return false;
  if (HasHttpPrefix(location)) return base::CopyText(out, location);
  if (location[0] == L'/' && location[1] == L'/') return base::JoinText(out, L"http:", location);
  if (location[0] != L'/') return false;
  // The current address up to its path: "http://host[:port]".
  const std::size_t authority = 7 + std::wcscspn(current + 7, L"/");
  wchar_t joined[base::kUrlChars] = {};
  if (authority + 1 > base::kUrlChars) return false;
  std::wmemcpy(joined, current, authority);
  joined[authority] = L'\0';
  if (!base::AppendText(joined, location)) return false;
  return base::CopyText(out, joined);
}

unsigned ProgressPercent(std::uint32_t received, std::uint32_t declared) {
  if (declared == 0 || received >= declared) return 100;
  return static_cast<unsigned>(std::uint64_t(received) * 100u / declared);
}

}  // namespace update
