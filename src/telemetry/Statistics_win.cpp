// The usage statistics store on the private-profile (INI) functions.
#include <windows.h>

#include <ctime>

#include "base/FixedText.h"
#include "product/InstallLayout.h"
#include "telemetry/StatClock.h"
#include "telemetry/StatDays.h"
#include "telemetry/Statistics.h"

namespace telemetry {

namespace {

constexpr const wchar_t* kKeyInst = L"Inst";
constexpr const wchar_t* kKeyUnInst = L"UnInst";
constexpr const wchar_t* kKeyGame = L"Game";
constexpr const wchar_t* kKeyUpdate = L"Update";
constexpr const wchar_t* kKeyInstallDay = L"installDay";
constexpr const wchar_t* kKeyVisit = L"lstTime";
constexpr const wchar_t* kKeyKeepDays = L"keepdays";
constexpr const wchar_t* kKeyWeekDays = L"weekdays";

std::int64_t SystemSecondsNow() { return static_cast<std::int64_t>(::_time64(nullptr)); }

bool SystemLocalDate(std::int64_t seconds, CivilDate* out) {
  __time64_t t = static_cast<__time64_t>(seconds);
  // Calls come from the main thread only, so the C library's shared result
  // buffer is fine (msvcrt.dll of older systems has no _localtime64_s).
  const std::tm* local = ::_localtime64(&t);
  if (!local) return false;
  out->year = local->tm_year + 1900;
  out->month = local->tm_mon + 1;
  out->day = local->tm_mday;
  return true;
}

CivilDate SystemUtcToday() {
  SYSTEMTIME now = {};
  ::GetSystemTime(&now);
  CivilDate date;
  date.year = now.wYear;
  date.month = now.wMonth;
  date.day = now.wDay;
  return date;
}

const StatClock kSystemClock = {SystemSecondsNow, SystemLocalDate, SystemUtcToday};
const StatClock* g_clock = &kSystemClock;

wchar_t g_fileOverride[layout::kPathChars] = {};

// Date of the previous visit as it was on disk at the first day-based call of
// the process; never refreshed afterwards, so every figure of one run
// measures against the same date.
wchar_t g_previousVisit[kVisitChars] = {};

// The statistics file's path; the shell folder's failure leaves it empty, and
// every read then yields its default and every write fails.
void StatisticsPath(wchar_t (&path)[layout::kPathChars]) {
  path[0] = L'\0';
  if (g_fileOverride[0]) {
    base::CopyText(path, g_fileOverride);
    return;
  }
  if (!layout::GetStatisticsFilePath(path)) path[0] = L'\0';
}

void ReadValue(const wchar_t* path, const wchar_t* key, const wchar_t* fallback, wchar_t* out, DWORD chars) {
  if (!path[0]) {
    base::CopyText(out, chars, fallback);
    return;
  }
  ::GetPrivateProfileStringW(layout::kStatisticsSection, key, fallback, out, chars, path);
}

void WriteValue(const wchar_t* path, const wchar_t* key, const wchar_t* value) {
  if (path[0]) ::WritePrivateProfileStringW(layout::kStatisticsSection, key, value, path);
}

void WriteInt64(const wchar_t* path, const wchar_t* key, std::int64_t value) {
  wchar_t text[kValueChars] = {};
  if (FormatInt64(value, text)) WriteValue(path, key, text);
}

std::int64_t Counter(const wchar_t* path, const wchar_t* key) {
  wchar_t text[kValueChars] = {};
  ReadValue(path, key, L"0", text, kValueChars);
  const std::int64_t value = NextCounterValue(ParseStoredFigure(text, 0));
  WriteInt64(path, key, value);
  return value;
}

// Today's local date and the calendar days since the cached previous visit.
struct DayReading {
  CivilDate today;
  std::int64_t dayCount = 0;
};

DayReading ReadDays(const wchar_t* path) {
  const std::int64_t now = g_clock->secondsNow();
  DayReading reading;
  if (!g_clock->localDate(now, &reading.today)) reading.today = CivilFromSeconds(now);
  if (!g_previousVisit[0]) ReadValue(path, kKeyVisit, L"0", g_previousVisit, kVisitChars);
  wchar_t visit[kVisitChars] = {};
  base::CopyText(visit, g_previousVisit);
  reading.dayCount = DayCount(reading.today, visit);
  return reading;
}

void WriteVisit(const wchar_t* path, const CivilDate& today) {
  wchar_t text[kVisitChars] = {};
  if (FormatVisitDate(today, text)) WriteValue(path, kKeyVisit, text);
}

}  // namespace

const StatClock& SystemStatClock() { return kSystemClock; }

void SetStatClock(const StatClock* clock) { g_clock = clock ? clock : &kSystemClock; }

bool SetStatisticsFile(const wchar_t* path) {
  if (!path) {
    g_fileOverride[0] = L'\0';
    return true;
  }
  return base::CopyText(g_fileOverride, path);
}

void ResetPreviousVisitCache() { g_previousVisit[0] = L'\0'; }

std::int64_t RecordStatistic(int type) {
  wchar_t path[layout::kPathChars];
  StatisticsPath(path);
  switch (type) {
    case StatInst: {
      const std::int64_t count = Counter(path, kKeyInst);
      wchar_t day[kValueChars] = {};
      if (FormatInstallDay(g_clock->utcToday(), day)) WriteValue(path, kKeyInstallDay, day);
      return count;
    }
    case StatUnInst:
      return Counter(path, kKeyUnInst);
    case StatGame:
      return Counter(path, kKeyGame);
    case StatUpdate:
      return Counter(path, kKeyUpdate);
    case StatApartDays: {
      const DayReading days = ReadDays(path);
      WriteVisit(path, days.today);
      return ApartDays(days.dayCount);
    }
    case StatKeepDays: {
      const DayReading days = ReadDays(path);
      WriteVisit(path, days.today);
      std::int32_t stored = 1;
      if (days.dayCount < 2) {
        wchar_t text[kValueChars] = {};
        ReadValue(path, kKeyKeepDays, L"1", text, kValueChars);
        stored = ParseStoredFigure(text, 1);
      }
      const std::int64_t keepDays = NextKeepDays(days.dayCount, stored);
      WriteInt64(path, kKeyKeepDays, keepDays);
      return keepDays;
    }
    case StatWeekDays: {
      const UINT stored = path[0] ? ::GetPrivateProfileIntW(layout::kStatisticsSection, kKeyWeekDays, 0, path) : 0;
      const DayReading days = ReadDays(path);
      const unsigned mask = NextWeekMask(stored, days.dayCount);
      wchar_t text[kValueChars] = {};
      if (FormatUnsigned(mask, text)) WriteValue(path, kKeyWeekDays, text);
      return CountWeekDays(mask);
    }
    default:
      return 0;
  }
}

}  // namespace telemetry
