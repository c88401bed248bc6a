// The "DisableDays" registry value that the first run writes for the maker's
// other programs: three day-of-week numbers (0-6) drawn from the C runtime's
// unseeded pseudo-random generator and the millisecond of the clock.
#pragma once

#include <array>
#include <cstdint>

namespace deploy {

// The generator of the Microsoft C runtime's rand(): a 32-bit linear
// congruential generator (x = x * 214013 + 2531011) returning bits 16-30 of
// the state. Reproduced here so that the sequence is the same whatever C
// runtime the launcher is linked with. The launcher never seeds it, so every
// run starts from state 1 and draws 41, then 18467.
class MsvcRand {
 public:
  explicit MsvcRand(std::uint32_t seed = 1) : state_(seed) {}
  int Next() {
    state_ = state_ * 214013u + 2531011u;  // wraps modulo 2^32
    return static_cast<int>((state_ >> 16) & 0x7FFFu);
  }

 private:
  std::uint32_t state_;
};

// The four value bytes, in stored order: second day, first day, third day, 0.
using DisableDaysBytes = std::array<std::uint8_t, 4>;

// Day numbers from the two drawn numbers and the millisecond field (0-999):
//   first  A = (r1 + 7 - ms) mod 7, second B = (r2 + 7 - ms) mod 7, both on
//   unsigned 32-bit integers (the subtraction wraps below zero and the
//   wrapped value is reduced), third C = ms mod 7;
//   C equal to A becomes (C + 6) mod 7, B equal to A becomes (B + 1) mod 7.
DisableDaysBytes ComputeDisableDays(unsigned milliseconds, int r1, int r2);

// The value a run writes: the first two numbers of a fresh unseeded generator.
DisableDaysBytes ComputeDisableDays(unsigned milliseconds);

// Writes "DisableDays" under HKEY_LOCAL_MACHINE\Software\Orlix\GameLogin\Tavrel
// in the machine keys' 32-bit view (layout::kMachineKeyView). Returns 1 when
// the value was written, 0 when the key cannot be opened or created or the
// value cannot be set.
int WriteDisableDays();

}  // namespace deploy
