#include "ui/ResourceImage.h"

#include "base/UniqueHandle.h"
#include "ui/GdiplusFlat.h"
#include "ui/GdiplusSession.h"
#include "ui/SkinMath.h"

namespace ui {

namespace {

namespace gp = Gdiplus::DllExports;

// A decoded image, disposed of with the library's call.
struct GpImageTraits {
  using Type = Gdiplus::GpBitmap*;
  static Type Invalid() { return nullptr; }
  static void Close(Type image) { gp::GdipDisposeImage(image); }
};
using UniqueGpBitmap = base::UniqueAny<GpImageTraits>;

// A loaded resource: FreeResource is a no-op on Win32, but the handle is
// still given back as the API pairs it.
struct ResourceTraits {
  using Type = HGLOBAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::FreeResource(h); }
};
using UniqueResource = base::UniqueAny<ResourceTraits>;

// Locked pixels of a decoded image, unlocked on scope exit.
class ScopedLockBits {
 public:
  ScopedLockBits(Gdiplus::GpBitmap* image, int width, int height) : m_image(image) {
    Gdiplus::GpRect rect(0, 0, width, height);
    m_locked = gp::GdipBitmapLockBits(image, &rect, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &m_data) ==
               Gdiplus::Ok;
  }
  ~ScopedLockBits() {
    if (m_locked) gp::GdipBitmapUnlockBits(m_image, &m_data);
  }
  ScopedLockBits(const ScopedLockBits&) = delete;
  ScopedLockBits& operator=(const ScopedLockBits&) = delete;
  const BYTE* bits() const { return m_locked ? static_cast<const BYTE*>(m_data.Scan0) : nullptr; }
  int stride() const { return m_data.Stride; }

 private:
  Gdiplus::GpBitmap* m_image;
  Gdiplus::BitmapData m_data = {};
  bool m_locked = false;
};

}  // namespace

base::UniqueHBitmap ConvertToKeyedDib(Gdiplus::GpBitmap* image, COLORREF key) {
  if (!image) return {};
  UINT width = 0, height = 0;
  if (gp::GdipGetImageWidth(image, &width) != Gdiplus::Ok || gp::GdipGetImageHeight(image, &height) != Gdiplus::Ok)
    return {};
  if (width < 1 || height < 1 || width > 0x7FFF || height > 0x7FFF) return {};
  const int w = static_cast<int>(width);
  const int h = static_cast<int>(height);

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;  // positive: rows stored bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  base::UniqueHBitmap dib;
  {
    base::UniqueWindowDC screen(nullptr);
    dib.reset(::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  }
  if (!dib || !bits) return {};

  ScopedLockBits locked(image, w, h);
  // A negative stride would mean a bottom-up lock; the library hands out
  // top-down rows for 32bpp ARGB, as the conversion expects.
  if (!locked.bits() || locked.stride() < w * 4) return {};
  ConvertArgbToKeyedDib(locked.bits(), locked.stride(), w, h, static_cast<std::uint8_t*>(bits));
  (void)key;  // the key colour's COLORREF and DIB readings are the same value
  static_assert(kKeyColor == RGB(255, 0, 255), "key colour reads the same as COLORREF and DIB pixel");
  return dib;
}

base::UniqueHBitmap LoadResourceImage(HMODULE module, UINT id) {
  if (!module) return {};
  GdiplusSession gdiplus;
  if (!gdiplus.ok()) return {};

  // A bitmap resource of the same id takes precedence and is not converted.
  base::UniqueHBitmap bitmap(::LoadBitmapW(module, MAKEINTRESOURCEW(id)));
  if (bitmap) return bitmap;

  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
  if (!found) return {};
  const DWORD size = ::SizeofResource(module, found);
  UniqueResource loaded(::LoadResource(module, found));
  const void* data = loaded ? ::LockResource(loaded.get()) : nullptr;
  if (!data || size == 0) return {};

  // The decoder reads from a stream over its own copy of the bytes (the
  // stream frees its memory on release).
  base::ComPtr<IStream> stream;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) return {};
  ULONG written = 0;
  if (FAILED(stream->Write(data, size, &written)) || written != size) return {};
  loaded.reset();

  UniqueGpBitmap image;
  if (gp::GdipCreateBitmapFromStream(stream.get(), image.put()) != Gdiplus::Ok || !image) return {};

  base::UniqueHBitmap result = ConvertToKeyedDib(image.get(), kKeyColor);
  if (!result) {
    // The library's own conversion: transparency becomes opaque magenta.
    HBITMAP fallback = nullptr;
    if (gp::GdipCreateHBITMAPFromBitmap(image.get(), &fallback, 0xFFFF00FF) == Gdiplus::Ok) result.reset(fallback);
  }
  return result;
}

}  // namespace ui
