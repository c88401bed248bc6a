// Names of the diagnostic files: the dated failure note, the report base of a
// failed game start and of a launcher crash, and the time-of-day text of the
// note's lines. Every path is built into a 260-character buffer and refused,
// with the buffer untouched, when it would not fit.
#pragma once

#include <cstddef>

#include "base/FixedText.h"

namespace diagnostics {

constexpr std::size_t kTimeOfDayChars = 64;

// A calendar date and time of day, as the system clock gives them.
struct ClockTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

namespace detail {
bool FormatClockText(const ClockTime& time, wchar_t* out, std::size_t outChars);
}  // namespace detail

// "07:04:09" into |out|; false, |out| untouched, when it does not fit.
template <std::size_t N>
bool FormatClockText(const ClockTime& time, wchar_t (&out)[N]) {
  return detail::FormatClockText(time, out, N);
}

// folder + "\Dump_" + "YYYY-MM-DD" + "_" + suffix. A folder that already
// ends in a backslash gives a doubled separator, which Windows reads as one.
bool FormatDatedLogPath(const wchar_t* folder, const ClockTime& date, const wchar_t* suffix,
                        wchar_t (&out)[base::kPathChars]);

// The base name of a failed game start: "Dump_YYYY-MM-DD_" + tag, for
// example Dump_2024-03-09_Tavrel_zuduviz.
bool FormatFailureReportBase(const ClockTime& date, const wchar_t* tag, wchar_t (&out)[base::kPathChars]);

// The base path of a launcher crash: dumpFolder + "Dump_<version>_<exe>_"
// + "%4d%02d%02d_%02d%02d%02d" of the UTC time (the year space-padded).
bool FormatCrashReportBase(const wchar_t* dumpFolder, const wchar_t* version, const wchar_t* exeName,
                           const ClockTime& utc, wchar_t (&out)[base::kPathChars]);

}  // namespace diagnostics
