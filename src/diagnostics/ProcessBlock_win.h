// The process environment block of the running process.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace diagnostics {

// GCC 12 takes the segment-relative read in MinGW's NtCurrentTeb for an
// access through a null pointer and warns that it is out of bounds (GCC bug
// 99578); the read is the documented way to reach the thread block.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
inline PEB* CurrentPeb() { return NtCurrentTeb()->ProcessEnvironmentBlock; }
#pragma GCC diagnostic pop

}  // namespace diagnostics
