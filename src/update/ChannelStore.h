// What the launcher keeps, per user, of its signed update channel, in
// HKEY_CURRENT_USER\Software\Orlix\GameLogin\Tavrel\Update:
//
//   Serial        REG_QWORD   publication number of the last accepted configuration
//   ConfigSha256  REG_BINARY  SHA-256 of that configuration's bytes (32 bytes)
//   LastValid     REG_QWORD   when a configuration was last accepted (UTC seconds),
//                             or when the first check found none
//   CurrentKey    REG_SZ      the current key a key roll named
//   RetiredKeys   subkey      one REG_DWORD value per retired key, named by its text
//
// Written only after a configuration has been accepted in full, so that a
// refused one changes nothing; a retirement is never taken back. A value of
// the wrong type or form reads as absent (the registry is as hostile as the
// network; a user who can write it can run programs as that user anyway).
#pragma once

#include <cstdint>

#include "release/SignedRelease.h"
#include "release/UpdateKeys.h"

namespace update {

struct ChannelRecord {
  AcceptedRecord accepted;
  KeyText rolledCurrentKey = {};  // empty: no key roll accepted
  std::int64_t lastValid = 0;     // 0: no check has run yet
};

// Reads the record; absent values stay at their defaults.
void LoadChannelRecord(ChannelRecord* record);

// True when |key| has been retired by an accepted key roll.
bool IsKeyRetired(const wchar_t* key);

// Stores an accepted configuration: its key roll (retirements first), its
// publication number and digest, and |nowUtc| as LastValid. False when a
// value could not be written (the next check then sees the older record).
bool StoreAcceptedConfig(const SignedRelease& release, const std::uint8_t (&configSha256)[kSha256Bytes],
                         std::int64_t nowUtc);

// Starts the freeze clock: writes |nowUtc| as LastValid when there is none.
void StartFreezeClock(std::int64_t nowUtc);

}  // namespace update
