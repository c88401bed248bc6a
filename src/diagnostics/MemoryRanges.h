// A sorted set of address ranges in a fixed array: the memory a minidump
// carries besides the thread stacks. It takes no memory of its own, since it
// is filled while the launcher reports its own crash.
#pragma once

#include <cstddef>
#include <cstdint>

namespace diagnostics {

// [start, end)
struct MemoryRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

class MemoryRangeSet {
 public:
  static constexpr std::size_t kCapacity = 1024;

  // Adds [start, end), merged with every range it overlaps or adjoins. False,
  // with the set unchanged, for an empty range or when it would need a slot
  // and all are taken.
  bool Add(std::uint64_t start, std::uint64_t end);

  // True when |address| lies in one of the ranges.
  bool Contains(std::uint64_t address) const;

  void Clear() { count_ = 0; }
  std::size_t size() const { return count_; }
  const MemoryRange& operator[](std::size_t i) const { return ranges_[i]; }
  std::uint64_t TotalBytes() const;

 private:
  MemoryRange ranges_[kCapacity];
  std::size_t count_ = 0;
};

}  // namespace diagnostics
