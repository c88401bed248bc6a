#include "diagnostics/MemoryRanges.h"

namespace diagnostics {

bool MemoryRangeSet::Add(std::uint64_t start, std::uint64_t end) {
  if (start >= end) return false;
  // The first range that ends at or after |start|: everything before it lies
  // wholly below the new range and stays.
  std::size_t first = 0;
  while (first < count_ && ranges_[first].end < start) ++first;
  // Ranges from |first| up to |last| (exclusive) touch the new one.
  std::size_t last = first;
  while (last < count_ && ranges_[last].start <= end) ++last;
  if (first == last) {
    if (count_ == kCapacity) return false;
    for (std::size_t i = count_; i > first; --i) ranges_[i] = ranges_[i - 1];
    ranges_[first].start = start;
    ranges_[first].end = end;
    ++count_;
    return true;
  }
  MemoryRange merged;
  merged.start = ranges_[first].start < start ? ranges_[first].start : start;
  merged.end = ranges_[last - 1].end > end ? ranges_[last - 1].end : end;
  ranges_[first] = merged;
  std::size_t removed = last - first - 1;
  for (std::size_t i = first + 1; i + removed < count_; ++i) ranges_[i] = ranges_[i + removed];
  count_ -= removed;
  return true;
}

bool MemoryRangeSet::Contains(std::uint64_t address) const {
  std::size_t low = 0;
  std::size_t high = count_;
  while (low < high) {
    std::size_t mid = low + (high - low) / 2;
    if (ranges_[mid].end <= address) {
      low = mid + 1;
    } else if (ranges_[mid].start > address) {
      high = mid;
    } else {
      return true;
    }
  }
  return false;
}

std::uint64_t MemoryRangeSet::TotalBytes() const {
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < count_; ++i) total += ranges_[i].end - ranges_[i].start;
  return total;
}

}  // namespace diagnostics
