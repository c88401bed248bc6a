// Version keys of the launcher executable. A key is 32 characters: the first
// characters of the executable's MD5 digest (lowercase hexadecimal), then the
// version text without its dots ("3.0.1.5" -> "3015"), so 28 + 4 here.
#pragma once

#include <cstddef>

namespace update {

constexpr std::size_t kVersionKeyLength = 32;
constexpr std::size_t kVersionKeyChars = 64;  // buffer size, terminator included

// Builds the key of an executable whose digest is |digestHex| (32 hexadecimal
// digits) for |version|. False, with |key| untouched, when the digest is
// shorter than needed or the version leaves no room for a digest.
bool MakeVersionKey(const wchar_t* digestHex, const wchar_t* version, wchar_t (&key)[kVersionKeyChars]);

// Number of leading digest characters a key of |version| carries (28 for "3.0.1.5").
std::size_t DigestPartLength(const wchar_t* version);

// True when the keys differ, letters A to Z compared without regard to case.
bool VersionKeysDiffer(const wchar_t* a, const wchar_t* b);

}  // namespace update
