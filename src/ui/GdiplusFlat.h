// MinGW-w64's <gdiplus.h>, for its flat API (Gdiplus::DllExports).
// The C++ wrapper classes of that header use unqualified min and max, which
// NOMINMAX (set for the whole build) removes from <windows.h>.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <algorithm>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus

#include <gdiplus.h>
