#include "telemetry/StatDays.h"

#include <cwchar>
#include <initializer_list>

namespace telemetry {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// wcstol over 32 bits: saturates instead of overflowing.
std::int32_t ParseLong(const wchar_t* text) {
  if (!text) return 0;
  while (IsBlank(*text)) ++text;
  bool negative = false;
  if (*text == L'+' || *text == L'-') negative = *text++ == L'-';
  std::int64_t value = 0;
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  for (; IsDigit(*text); ++text) {
    value = value * 10 + (*text - L'0');
    if (value > limit) value = limit;
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

// Writes |digits| (most significant first) with an optional sign.
bool Emit(const wchar_t* sign, const wchar_t* digits, std::size_t count, wchar_t* out, std::size_t capacity) {
  const std::size_t signLength = std::wcslen(sign);
  if (!out || signLength + count + 1 > capacity) return false;
  std::wmemcpy(out, sign, signLength);
  std::wmemcpy(out + signLength, digits, count);
  out[signLength + count] = L'\0';
  return true;
}

// Decimal digits of |value| into the end of |buffer|; returns the first one.
wchar_t* Digits(std::uint64_t value, wchar_t* end, std::size_t minimumDigits = 1) {
  wchar_t* p = end;
  std::size_t n = 0;
  do {
    *--p = wchar_t(L'0' + value % 10);
    value /= 10;
    ++n;
  } while (value || n < minimumDigits);
  return p;
}

}  // namespace

std::int32_t ParseStoredNumber(const wchar_t* text) { return ParseLong(text); }

std::int32_t ParseStoredFigure(const wchar_t* text, std::int32_t missing) {
  const std::int32_t value = ParseStoredNumber(text);
  return value < 0 ? missing : value;
}

std::int64_t NextCounterValue(std::int32_t stored) {
  return stored == 2147483647 ? std::int64_t(stored) : std::int64_t(stored) + 1;
}

bool ParseVisitDate(const wchar_t* text, CivilDate* out) {
  if (!text || !out) return false;
  const wchar_t* first = std::wcschr(text, L'/');
  const wchar_t* last = std::wcsrchr(text, L'/');
  if (!first || first == last) return false;
  CivilDate date;
  date.year = ParseLong(text);
  date.month = ParseLong(first + 1);
  date.day = ParseLong(last + 1);
  if (date.year < 1970 || date.year > 3000 || date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31) {
    return false;
  }
  *out = date;
  return true;
}

std::int64_t DaysFromCivil(const CivilDate& date) {
  // Howard Hinnant's days_from_civil on the first of the month; the day is
  // then added, so that days past the month's end roll over.
  std::int64_t y = date.year;
  const std::int64_t m = date.month;
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5;  // day of year of the 1st, March-based
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + (date.day - 1);
}

CivilDate CivilFromSeconds(std::int64_t seconds) {
  std::int64_t z = (seconds >= 0 ? seconds : seconds - 86399) / 86400 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  CivilDate date;
  date.day = int(doy - (153 * mp + 2) / 5 + 1);
  date.month = int(mp < 10 ? mp + 3 : mp - 9);
  date.year = int(yoe + era * 400 + (date.month <= 2));
  return date;
}

std::int64_t DayCount(const CivilDate& today, const wchar_t* visitText) {
  CivilDate visit;
  if (!ParseVisitDate(visitText, &visit)) return 0;
  return DaysFromCivil(today) - DaysFromCivil(visit);
}

std::int64_t ApartDays(std::int64_t dayCount) { return dayCount >= 2 ? dayCount - 1 : 0; }

std::int64_t NextKeepDays(std::int64_t dayCount, std::int32_t stored) {
  if (dayCount >= 2) return 1;
  if (dayCount == 0) return stored;
  return NextCounterValue(stored);
}

unsigned NextWeekMask(unsigned stored, std::int64_t dayCount) {
  if (stored > 128) stored = 0;
  if (dayCount < 0 || dayCount >= 7) return 1;
  return ((stored << dayCount) & 0x7Eu) | 1u;
}

int CountWeekDays(unsigned mask) {
  int n = 0;
  for (int bit = 0; bit < 7; ++bit) n += (mask >> bit) & 1u;
  return n;
}

namespace detail {

bool FormatInt64(std::int64_t value, wchar_t* out, std::size_t capacity) {
  wchar_t buffer[24];
  const std::uint64_t magnitude = value < 0 ? 0 - std::uint64_t(value) : std::uint64_t(value);
  wchar_t* first = Digits(magnitude, buffer + 24);
  return Emit(value < 0 ? L"-" : L"", first, std::size_t(buffer + 24 - first), out, capacity);
}

bool FormatUnsigned(unsigned value, wchar_t* out, std::size_t capacity) {
  wchar_t buffer[16];
  wchar_t* first = Digits(value, buffer + 16);
  return Emit(L"", first, std::size_t(buffer + 16 - first), out, capacity);
}

bool FormatVisitDate(const CivilDate& date, wchar_t* out, std::size_t capacity) {
  wchar_t text[40];
  std::size_t n = 0;
  const int parts[3] = {date.year, date.month, date.day};
  for (int i = 0; i < 3; ++i) {
    if (i) text[n++] = L'/';
    if (!FormatInt64(parts[i], text + n, 40 - n)) return false;
    n += std::wcslen(text + n);
  }
  return Emit(L"", text, n, out, capacity);
}

bool FormatInstallDay(const CivilDate& date, wchar_t* out, std::size_t capacity) {
  // "%4hu%02hu%02hu": each field as an unsigned 16-bit number; the year is
  // padded with blanks to four places, month and day with zeros to two.
  wchar_t text[24];
  wchar_t buffer[8];
  std::size_t n = 0;
  wchar_t* year = Digits(std::uint16_t(date.year), buffer + 8);
  for (std::size_t w = std::size_t(buffer + 8 - year); w < 4; ++w) text[n++] = L' ';
  for (wchar_t* p = year; p < buffer + 8; ++p) text[n++] = *p;
  for (int part : {date.month, date.day}) {
    wchar_t* d = Digits(std::uint16_t(part), buffer + 8, 2);
    for (wchar_t* p = d; p < buffer + 8; ++p) text[n++] = *p;
  }
  return Emit(L"", text, n, out, capacity);
}

}  // namespace detail

}  // namespace telemetry
