// The clocks and the file of the usage statistics store, replaceable so that
// day-based figures can be checked on chosen dates (tests) without touching
// the system's time or the player's statistics file.
#pragma once

#include <cstdint>

#include "telemetry/StatDays.h"

namespace telemetry {

struct StatClock {
  // The C library's 64-bit seconds clock (seconds since 1970, UTC).
  std::int64_t (*secondsNow)();
  // The local calendar date of an instant, daylight saving included (the C
  // library's local-time conversion); false when it cannot be converted.
  bool (*localDate)(std::int64_t seconds, CivilDate* out);
  // Today's UTC date (GetSystemTime), written to "installDay".
  CivilDate (*utcToday)();
};

// The system's clocks.
const StatClock& SystemStatClock();

// Makes the store use |clock| (null: the system's clocks again). The clock
// must outlive its use.
void SetStatClock(const StatClock* clock);

// Makes the store use the file |path| instead of the maker folder's
// Statistic.ini (null: the real file again). At most 259 characters.
bool SetStatisticsFile(const wchar_t* path);

// Empties the process-wide previous-visit cache, as at process start.
void ResetPreviousVisitCache();

}  // namespace telemetry
