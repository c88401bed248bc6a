// The system clock as the report names take it.
#pragma once

#include <windows.h>

#include "diagnostics/ReportNames.h"

namespace diagnostics {

inline ClockTime ToClockTime(const SYSTEMTIME& time) {
  ClockTime t;
  t.year = time.wYear;
  t.month = time.wMonth;
  t.day = time.wDay;
  t.hour = time.wHour;
  t.minute = time.wMinute;
  t.second = time.wSecond;
  return t;
}

// Now, in UTC (GetSystemTime) or local time (GetLocalTime).
inline ClockTime UtcClock() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  return ToClockTime(now);
}

inline ClockTime LocalClock() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return ToClockTime(now);
}

}  // namespace diagnostics
