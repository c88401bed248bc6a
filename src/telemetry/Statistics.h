// The usage statistics store: counters and day-based activity figures kept
// per user in Statistic.ini (section "Tavrel") in the maker folder.
#pragma once

#include <cstdint>

namespace telemetry {

enum StatType : int {
  StatInst = 1,        // installations
  StatUnInst = 2,      // uninstallations
  StatGame = 3,        // activity runs
  StatApartDays = 4,   // days skipped since the previous activity run
  StatKeepDays = 5,    // consecutive days with an activity run
  StatWeekDays = 6,    // days with an activity run among the last seven
  StatUpdate = 7,      // self-updates
};

// Updates one figure in the statistics file and returns its new value.
std::int64_t RecordStatistic(int type);

}  // namespace telemetry
