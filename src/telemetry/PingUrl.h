// URLs of the statistic pings: "http://" + the statistics server + the
// event's page with the fixed query "?tag=Tavrel&ver=3.0.1.5", followed by
// the figures.
//
// A ping carries only well-formed values, each percent-encoded: figures are
// non-negative decimal numbers, the install day eight digits (anything else
// read from the statistics file is sent as the empty value of a missing
// one), so no value can add or change a parameter of the query.
#pragma once

#include <cstdint>

#include "base/FixedText.h"

namespace telemetry {

enum class PingEvent { kInstall, kUpdate, kActivity, kUninstall };

// The event's base URL, e.g. "http://host/install.htm?tag=Tavrel&ver=3.0.1.5".
bool GetPingBaseUrl(PingEvent event, wchar_t (&out)[base::kUrlChars]);

// Install, update and uninstall: base URL + "&count=" + |count|.
// False for a negative count.
bool BuildCountPingUrl(PingEvent event, std::int64_t count, wchar_t (&out)[base::kUrlChars]);

// Activity: base URL + "&count=%lld&apartdays=%lld&keepdays=%lld&weekdays=%lld
// &installDay=%s&deviceCode=%s" (one line). An |installDay| that is not
// eight digits gives an empty value, as a missing one does. False for a
// negative figure.
bool BuildActivityPingUrl(std::int64_t count, std::int64_t apartDays, std::int64_t keepDays, std::int64_t weekDays,
                          const wchar_t* installDay, const wchar_t* deviceCode, wchar_t (&out)[base::kUrlChars]);

// Each returns false and leaves |out| untouched when the URL would not fit
// 511 characters.

// True when |text| is exactly eight ASCII digits, the form of "installDay".
bool IsInstallDayText(const wchar_t* text);

// |value| percent-encoded into |out| (UTF-8 bytes as %XX; letters, digits
// and - . _ ~ as they are); false, with |out| untouched, when it would not
// fit or |value| holds a lone surrogate.
bool PercentEncode(const wchar_t* value, wchar_t (&out)[base::kUrlChars]);

// Appends "&" + |key| + "=" + |value| percent-encoded (UTF-8 bytes; letters,
// digits and - . _ ~ as they are) to |url|; false, with |url| untouched, when
// it would not fit or |value| holds a lone surrogate.
bool AppendQueryValue(wchar_t (&url)[base::kUrlChars], const wchar_t* key, const wchar_t* value);

}  // namespace telemetry
