// The device code sent with the activity ping: the MD5 digest of a random
// identifier kept in the current user's registry.
#pragma once

#include <cstddef>

#include "base/Md5.h"

namespace telemetry {

constexpr std::size_t kDeviceCodeChars = kMd5HexChars;  // 64

// Fills |out| with the device code, 32 lowercase hexadecimal digits and zeros
// after them, and returns |out|. The identifier is the default value of
// HKCU\Software\Orlix\ZezudEdezod; when there is none (or it is empty, or 64
// bytes or longer) a new one is made from a GUID ("%08X-%04X-%04X-" and 16
// hexadecimal digits, 35 characters) and stored.
wchar_t* GetDeviceCode(wchar_t (&out)[kDeviceCodeChars]);

}  // namespace telemetry
