// Skin images: PNG or JPEG data in resources of type "PNG", decoded with
// GDI+ into 32-bit DIB sections whose transparent pixels carry the key colour.
#pragma once

#include <windows.h>

#include "base/UniqueHandle.h"

namespace Gdiplus {
class GpBitmap;
}

namespace ui {

// The image |id| of |module| as a bitmap the caller owns, or an empty owner.
// A bitmap resource (RT_BITMAP) of that id wins and comes back as it is;
// otherwise the "PNG" resource is decoded and keyed (ConvertToKeyedDib).
base::UniqueHBitmap LoadResourceImage(HMODULE module, UINT id);

// A new bottom-up 32-bit DIB section of |image|: opaque pixels keep their
// colour, fully transparent ones become |key|, translucent ones are blended
// over white; the reserved byte is 0. Empty on failure.
base::UniqueHBitmap ConvertToKeyedDib(Gdiplus::GpBitmap* image, COLORREF key);

}  // namespace ui
