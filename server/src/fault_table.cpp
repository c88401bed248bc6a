#include "fault_table.h"

std::optional<FaultMode> parse_fault_mode(std::string_view name) {
  static const std::pair<std::string_view, FaultMode> kModes[] = {
      {"404", FaultMode::NotFound},     {"500", FaultMode::ServerError},
      {"chunked", FaultMode::Chunked},  {"cut", FaultMode::Cut},
      {"extra", FaultMode::Extra},      {"stall", FaultMode::Stall},
      {"stall-connect", FaultMode::StallConnect}, {"slow", FaultMode::Slow},
      {"trickle", FaultMode::Trickle},  {"redirect", FaultMode::Redirect},
      {"no-ranges", FaultMode::NoRanges}, {"range-shift", FaultMode::RangeShift},
  };
  for (const auto& [mode_name, mode] : kModes) {
    if (mode_name == name) return mode;
  }
  return std::nullopt;
}

void FaultTable::arm(const std::string& path, Fault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  by_path_[path] = std::move(fault);
}

void FaultTable::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  by_path_.clear();
}

Fault FaultTable::lookup(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = by_path_.find(path);
  return found == by_path_.end() ? Fault{} : found->second;
}
