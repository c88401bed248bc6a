// Text and calendar arithmetic of the usage statistics store: stored numbers,
// the previous-visit date, the day count and the seven-day activity mask.
// Pure functions; the file and the clocks are in Statistics_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telemetry {

struct CivilDate {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
};

constexpr std::size_t kValueChars = 32;  // value texts read from and written to the file
constexpr std::size_t kVisitChars = 16;  // the "lstTime" text

// A stored counter: leading blanks, optional sign, decimal digits up to the
// first other character (C library wide-to-long rules); no digits give 0.
// Saturates at the signed 32-bit limits like a 32-bit wcstol.
std::int32_t ParseStoredNumber(const wchar_t* text);

// A stored figure (a counter or "keepdays"): ParseStoredNumber, except that
// a negative value, which the store never writes, counts as missing and
// gives |missing|, so that no figure the store returns is negative.
std::int32_t ParseStoredFigure(const wchar_t* text, std::int32_t missing);

// The next value of a counter: one more, but a counter at the signed 32-bit
// limit stays there instead of wrapping to a negative figure.
std::int64_t NextCounterValue(std::int32_t stored);

// Parses a "lstTime" text "year/month/day": year before the first '/', month
// from after it (digits up to the next non-digit), day after the last '/'.
// False when there are not two separate '/' or a number is out of range
// (year 1970..3000, month 1..12, day 1..31); such a text counts as today.
bool ParseVisitDate(const wchar_t* text, CivilDate* out);

// Days since 1970-01-01 of a proleptic Gregorian date. A day past the end of
// its month rolls into the next one (31 February is 3 March, or 2 March in a
// leap year), as the C library's mktime normalises it.
std::int64_t DaysFromCivil(const CivilDate& date);

// The UTC calendar date of |secondsSince1970|.
CivilDate CivilFromSeconds(std::int64_t secondsSince1970);

// Whole calendar days from the visit recorded in |visitText| to |today| (both
// local dates); 0 when the text is not a valid date; negative when it lies in
// the future. Counted on the calendar, so a daylight-saving change between
// the two dates neither adds nor loses a day.
std::int64_t DayCount(const CivilDate& today, const wchar_t* visitText);

// Figures of the day-based statistic types.
std::int64_t ApartDays(std::int64_t dayCount);                       // days skipped
std::int64_t NextKeepDays(std::int64_t dayCount, std::int32_t stored);  // |stored| unused when broken
unsigned NextWeekMask(unsigned stored, std::int64_t dayCount);
int CountWeekDays(unsigned mask);  // set bits among bits 0..6

namespace detail {
bool FormatInt64(std::int64_t value, wchar_t* out, std::size_t capacity);
bool FormatUnsigned(unsigned value, wchar_t* out, std::size_t capacity);
bool FormatVisitDate(const CivilDate& date, wchar_t* out, std::size_t capacity);
bool FormatInstallDay(const CivilDate& date, wchar_t* out, std::size_t capacity);
}  // namespace detail

// Value texts. Each returns false and leaves |out| untouched when the text
// and its terminator would not fit.
template <std::size_t N>
bool FormatInt64(std::int64_t value, wchar_t (&out)[N]) {  // "%lld"
  return detail::FormatInt64(value, out, N);
}
template <std::size_t N>
bool FormatUnsigned(unsigned value, wchar_t (&out)[N]) {  // "%u"
  return detail::FormatUnsigned(value, out, N);
}
template <std::size_t N>
bool FormatVisitDate(const CivilDate& date, wchar_t (&out)[N]) {  // "%d/%d/%d"
  return detail::FormatVisitDate(date, out, N);
}
template <std::size_t N>
bool FormatInstallDay(const CivilDate& date, wchar_t (&out)[N]) {  // "%4hu%02hu%02hu"
  return detail::FormatInstallDay(date, out, N);
}

}  // namespace telemetry
