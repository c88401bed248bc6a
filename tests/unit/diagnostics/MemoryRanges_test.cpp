#include "diagnostics/MemoryRanges.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace {

using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

Ranges Contents(const diagnostics::MemoryRangeSet& set) {
  Ranges out;
  for (std::size_t i = 0; i < set.size(); ++i) out.emplace_back(set[i].start, set[i].end);
  return out;
}

TEST(MemoryRanges, AddsInOrderAndMergesWhatTouches) {
  struct Case {
    Ranges added;
    Ranges expected;
  } cases[] = {
      {{{10, 20}}, {{10, 20}}},
      {{{30, 40}, {10, 20}}, {{10, 20}, {30, 40}}},
      {{{10, 20}, {20, 30}}, {{10, 30}}},                    // adjoining
      {{{10, 20}, {15, 25}}, {{10, 25}}},                    // overlapping
      {{{10, 20}, {12, 14}}, {{10, 20}}},                    // inside
      {{{10, 20}, {30, 40}, {50, 60}, {15, 55}}, {{10, 60}}},  // bridges three
      {{{10, 20}, {30, 40}, {50, 60}, {20, 30}}, {{10, 40}, {50, 60}}},
      {{{10, 20}, {5, 8}}, {{5, 8}, {10, 20}}},
      {{{10, 20}, {5, 10}}, {{5, 20}}},
      {{{10, 10}}, {}},  // empty
  };
  for (const Case& c : cases) {
    diagnostics::MemoryRangeSet set;
    for (const auto& range : c.added) set.Add(range.first, range.second);
    EXPECT_EQ(c.expected, Contents(set));
  }
}

TEST(MemoryRanges, ContainsAndTotal) {
  diagnostics::MemoryRangeSet set;
  set.Add(100, 200);
  set.Add(300, 310);
  EXPECT_TRUE(set.Contains(100));
  EXPECT_TRUE(set.Contains(199));
  EXPECT_FALSE(set.Contains(200));
  EXPECT_FALSE(set.Contains(99));
  EXPECT_TRUE(set.Contains(305));
  EXPECT_FALSE(set.Contains(400));
  EXPECT_EQ(110u, set.TotalBytes());
}

TEST(MemoryRanges, FullSetRefusesNewRangesButStillMerges) {
  auto set = std::make_unique<diagnostics::MemoryRangeSet>();
  for (std::uint64_t i = 0; i < diagnostics::MemoryRangeSet::kCapacity; ++i) ASSERT_TRUE(set->Add(i * 10, i * 10 + 5));
  EXPECT_FALSE(set->Add(100000, 100001));
  EXPECT_EQ(diagnostics::MemoryRangeSet::kCapacity, set->size());
  EXPECT_TRUE(set->Add(3, 12));  // joins the first two
  EXPECT_EQ(diagnostics::MemoryRangeSet::kCapacity - 1, set->size());
  EXPECT_EQ(0u, (*set)[0].start);
  EXPECT_EQ(15u, (*set)[0].end);
  EXPECT_EQ(20u, (*set)[1].start);
}

}  // namespace
