// URL texts of the HTTP client: splitting "host[:port]/path?query" into the
// parts WinINet wants, the maker allow-list test of a download's host, and the
// progress percentage. Pure text and arithmetic, no Windows calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/FixedText.h"

namespace update {

constexpr std::size_t kHostChars = 260;  // host name buffer, terminator included
constexpr std::uint16_t kDefaultHttpPort = 80;

// The parts of a URL after its "http://" prefix.
struct SplitUrl {
  wchar_t host[kHostChars] = {};
  std::uint16_t port = kDefaultHttpPort;
  // Object name for HttpOpenRequestW: the text after the first '/', query
  // included, without that '/'; empty when the URL has no '/'.
  wchar_t path[base::kUrlChars] = {};
};

// Splits |rest| (the URL text after "http://"): the host is the text before
// the first '/', cut at its first ':'; the port is the decimal number after
// that ':' (C library text-to-int rules, low 16 bits), 80 without a ':'.
// Returns false and leaves |out| untouched when the host or the path does not
// fit its buffer; such a request is refused rather than sent somewhere else.
bool SplitHttpUrl(const wchar_t* rest, SplitUrl* out);

// True when the first seven characters of |url| are "http://" in any case.
bool HasHttpPrefix(const wchar_t* url);

// True when the host of |url| ("http://host[:port]/...") is one of |domains|
// or ends with "." and one of them, compared without regard to ASCII case.
// Domains in the path or query do not count.
bool IsAllowedDownloadHost(const wchar_t* url, const wchar_t* const* domains, std::size_t domainCount);

// True for the statuses that name another address in their Location field
// and that WinINet would have followed by itself: 301, 302, 303, 307, 308.
bool IsRedirectStatus(unsigned status);

// The address a redirect from |current| (an "http://" URL) leads to, from the
// answer's Location text: an absolute "http://" address as it is, "//host/..."
// with the "http:" scheme, or "/path" on the current host and port. False,
// with |out| untouched, for any other form (another scheme, a relative path,
// an empty text) and when the result would not fit 511 characters.
bool ResolveRedirect(const wchar_t* current, const wchar_t* location, wchar_t (&out)[base::kUrlChars]);

// Progress of a transfer in percent, 0 to 100: received * 100 / declared,
// computed in 64 bits; 100 when nothing was declared (an empty body is
// complete at once) or more than declared has arrived.
unsigned ProgressPercent(std::uint32_t received, std::uint32_t declared);

}  // namespace update
