#include "diagnostics/ReportNames.h"

#include <cwchar>

#include "diagnostics/NumberText.h"

namespace diagnostics {

namespace {

// Date text "YYYY-MM-DD"; 16 characters hold any int year the clock gives.
bool FormatDate(const ClockTime& date, wchar_t (&out)[32]) {
  int n = std::swprintf(out, 32, L"%04d-%02d-%02d", date.year, date.month, date.day);
  return n > 0 && n < 32;
}

}  // namespace

namespace detail {

bool FormatClockText(const ClockTime& time, wchar_t* out, std::size_t outChars) {
  if (!out) return false;
  wchar_t text[32];
  int n = std::swprintf(text, 32, L"%02d:%02d:%02d", time.hour, time.minute, time.second);
  if (n <= 0 || n >= 32) return false;
  return base::CopyText(out, outChars, text);
}

}  // namespace detail

bool FormatDatedLogPath(const wchar_t* folder, const ClockTime& date, const wchar_t* suffix,
                        wchar_t (&out)[base::kPathChars]) {
  wchar_t day[32];
  if (!folder || !suffix || !FormatDate(date, day)) return false;
  return base::JoinText(out, folder, L"\\Dump_", day, L"_", suffix);
}

bool FormatFailureReportBase(const ClockTime& date, const wchar_t* tag, wchar_t (&out)[base::kPathChars]) {
  wchar_t day[32];
  if (!tag || !FormatDate(date, day)) return false;
  return base::JoinText(out, L"Dump_", day, L"_", tag);
}

bool FormatCrashReportBase(const wchar_t* dumpFolder, const wchar_t* version, const wchar_t* exeName,
                           const ClockTime& utc, wchar_t (&out)[base::kPathChars]) {
  // Formatted by hand, not with swprintf: this runs while the launcher
  // handles its own crash, where the C runtime is off limits.
  wchar_t stamp[64] = {};
  if (!AppendDecimal(stamp, utc.year, 4, L' ') || !AppendDecimal(stamp, utc.month, 2) ||
      !AppendDecimal(stamp, utc.day, 2) || !base::AppendText(stamp, L"_") || !AppendDecimal(stamp, utc.hour, 2) ||
      !AppendDecimal(stamp, utc.minute, 2) || !AppendDecimal(stamp, utc.second, 2)) {
    return false;
  }
  return base::JoinText(out, dumpFolder ? dumpFolder : L"", L"Dump_", version ? version : L"", L"_",
                        exeName ? exeName : L"", L"_", stamp);
}

}  // namespace diagnostics
