#include "deploy/DisableDays.h"

namespace deploy {

DisableDaysBytes ComputeDisableDays(unsigned milliseconds, int r1, int r2) {
  const std::uint32_t ms = milliseconds;
  // Unsigned on purpose: r + 7 - ms wraps to 2^32 - k when ms is larger, and
  // that wrapped value is what is reduced modulo 7.
  std::uint32_t first = (static_cast<std::uint32_t>(r1) + 7u - ms) % 7u;
  std::uint32_t second = (static_cast<std::uint32_t>(r2) + 7u - ms) % 7u;
  std::uint32_t third = ms % 7u;
  if (third == first) third = (third + 6u) % 7u;
  if (second == first) second = (second + 1u) % 7u;
  return {static_cast<std::uint8_t>(second), static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(third), 0};
}

DisableDaysBytes ComputeDisableDays(unsigned milliseconds) {
  MsvcRand rand;
  const int r1 = rand.Next();
  const int r2 = rand.Next();
  return ComputeDisableDays(milliseconds, r1, r2);
}

}  // namespace deploy
