// Owners of CNG (bcrypt) handles, for base::UniqueAny.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "base/UniqueHandle.h"

namespace update {

namespace cng_traits {

struct Algorithm {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct Key {
  using Type = BCRYPT_KEY_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::BCryptDestroyKey(h); }
};

struct Hash {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::BCryptDestroyHash(h); }
};

}  // namespace cng_traits

using UniqueCngAlgorithm = base::UniqueAny<cng_traits::Algorithm>;
using UniqueCngKey = base::UniqueAny<cng_traits::Key>;
using UniqueCngHash = base::UniqueAny<cng_traits::Hash>;

// NTSTATUS success: zero or a positive (informational) code.
inline bool CngSucceeded(NTSTATUS status) { return status >= 0; }

}  // namespace update
