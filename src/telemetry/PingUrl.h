// URLs of the statistic pings: "http://" + the statistics server + the
// event's page with the fixed query "?tag=Tavrel&ver=3.0.1.5", followed by
// the figures. Values are not escaped: the launcher's figures are digits,
// the letters a to f and at most a leading minus sign.
#pragma once

#include <cstdint>

#include "base/FixedText.h"

namespace telemetry {

enum class PingEvent { kInstall, kUpdate, kActivity, kUninstall };

// The event's base URL, e.g. "http://host/install.htm?tag=Tavrel&ver=3.0.1.5".
bool GetPingBaseUrl(PingEvent event, wchar_t (&out)[base::kUrlChars]);

// Install, update and uninstall: base URL + "&count=" + |count|.
bool BuildCountPingUrl(PingEvent event, std::int64_t count, wchar_t (&out)[base::kUrlChars]);

// Activity: base URL + "&count=%lld&apartdays=%lld&keepdays=%lld&weekdays=%lld
// &installDay=%s&deviceCode=%s" (one line). An empty |installDay| gives an
// empty value.
bool BuildActivityPingUrl(std::int64_t count, std::int64_t apartDays, std::int64_t keepDays, std::int64_t weekDays,
                          const wchar_t* installDay, const wchar_t* deviceCode, wchar_t (&out)[base::kUrlChars]);

// Each returns false and leaves |out| untouched when the URL would not fit
// 511 characters.

}  // namespace telemetry
