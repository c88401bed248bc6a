#include "ui/ResourceImage.h"

#include <gtest/gtest.h>

#include "SkinTestSupport.h"
#include "resources/resource.h"
#include "ui/GdiplusFlat.h"
#include "ui/GdiplusSession.h"
#include "ui/SkinMath.h"

namespace ui {
namespace {

using skin_test::DibPixel;
using skin_test::LauncherResources;

struct Loaded {
  explicit Loaded(UINT id) : owner(LoadResourceImage(LauncherResources(), id)), bitmap(owner.get()) {}
  base::UniqueHBitmap owner;
  HBITMAP bitmap;
};

TEST(LoadResourceImage, SkinImagesComeOutAsBottomUp32BitDibs) {
  ASSERT_NE(nullptr, LauncherResources());
  struct Case {
    UINT id;
    int width, height;
  } cases[] = {{IDB_SKIN_CLOSE, 132, 28}, {IDB_SKIN_DIALOG, 30, 51}, {IDB_SKIN_BUTTON, 228, 23},
               {IDB_SKIN_TRACK, 390, 21}, {IDB_SKIN_FILL, 390, 21}};
  for (const Case& c : cases) {
    Loaded image(c.id);
    ASSERT_NE(nullptr, image.bitmap) << c.id;
    DIBSECTION ds = {};
    ASSERT_EQ(static_cast<int>(sizeof(ds)), ::GetObjectW(image.bitmap, sizeof(ds), &ds)) << c.id;
    EXPECT_EQ(40u, ds.dsBmih.biSize);
    EXPECT_EQ(c.width, ds.dsBmih.biWidth);
    EXPECT_EQ(c.height, ds.dsBmih.biHeight);  // positive: bottom-up rows
    EXPECT_EQ(32, ds.dsBmih.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), ds.dsBmih.biCompression);
  }
}

TEST(LoadResourceImage, DialogBackgroundCornersReadAsKey) {
  Loaded back(IDB_SKIN_DIALOG);
  ASSERT_NE(nullptr, back.bitmap);
  const int cut[][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {0, 2}};
  for (const auto& p : cut) {
    EXPECT_EQ(kKeyColor, DibPixel(back.bitmap, p[0], p[1])) << p[0] << "," << p[1];
    EXPECT_EQ(kKeyColor, DibPixel(back.bitmap, 29 - p[0], p[1])) << "mirror of " << p[0] << "," << p[1];
  }
  const int kept[][2] = {{3, 0}, {2, 1}, {1, 2}, {0, 3}, {26, 0}, {0, 50}, {29, 50}, {15, 25}};
  for (const auto& p : kept) {
    const unsigned px = DibPixel(back.bitmap, p[0], p[1]);
    EXPECT_NE(kKeyColor, px) << p[0] << "," << p[1];
    EXPECT_EQ(0u, px >> 24) << "reserved byte at " << p[0] << "," << p[1];
  }
}

TEST(LoadResourceImage, MissingImageIsNullAndLeavesTheLibraryBalanced) {
  EXPECT_FALSE(LoadResourceImage(LauncherResources(), 999));
  EXPECT_FALSE(LoadResourceImage(nullptr, IDB_SKIN_DIALOG));
  // A failed load shut down what it started: the next loads still work.
  for (int i = 0; i < 3; ++i) {
    Loaded again(IDB_SKIN_CLOSE);
    EXPECT_NE(nullptr, again.bitmap);
  }
}

// Builds a GDI+ bitmap from ARGB pixels (bytes blue, green, red, alpha).
class ArgbImage {
 public:
  ArgbImage(int width, int height, const std::uint8_t* pixels) {
    Gdiplus::DllExports::GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                                                   const_cast<BYTE*>(pixels), &m_image);
  }
  ~ArgbImage() {
    if (m_image) Gdiplus::DllExports::GdipDisposeImage(m_image);
  }
  Gdiplus::GpBitmap* get() const { return m_image; }

 private:
  Gdiplus::GpBitmap* m_image = nullptr;
};

TEST(ConvertToKeyedDib, ExactKeyedValuesFromTheDecoder) {
  GdiplusSession session;
  ASSERT_TRUE(session.ok());
  // Top row: transparent red, opaque magenta, half-transparent black;
  // bottom row: alpha 1 black, alpha 254 black, opaque (10, 20, 30).
  const std::uint8_t pixels[] = {0, 0, 255, 0,   255, 0, 255, 255, 0,  0,  0,  128,
                                 0, 0, 0,   1,   0,   0, 0,   254, 30, 20, 10, 255};
  std::uint8_t copy[sizeof(pixels)];
  memcpy(copy, pixels, sizeof(pixels));
  ArgbImage image(3, 2, copy);
  ASSERT_NE(nullptr, image.get());
  const base::UniqueHBitmap owner = ConvertToKeyedDib(image.get(), RGB(255, 0, 255));
  const HBITMAP dib = owner.get();
  ASSERT_NE(nullptr, dib);
  EXPECT_EQ(0x00FF00FFu, DibPixel(dib, 0, 0));
  EXPECT_EQ(0x00FF00FFu, DibPixel(dib, 1, 0));
  EXPECT_EQ(0x007F7F7Fu, DibPixel(dib, 2, 0));
  EXPECT_EQ(0x00FEFEFEu, DibPixel(dib, 0, 1));
  EXPECT_EQ(0x00010101u, DibPixel(dib, 1, 1));
  EXPECT_EQ(0x000A141Eu, DibPixel(dib, 2, 1));
  // Bottom-up storage: the top-left pixel is in the last row of memory.
  DIBSECTION ds = {};
  ::GetObjectW(dib, sizeof(ds), &ds);
  ::GdiFlush();
  EXPECT_EQ(0x00FF00FFu, static_cast<const unsigned*>(ds.dsBm.bmBits)[3]);
  EXPECT_EQ(0x00FEFEFEu, static_cast<const unsigned*>(ds.dsBm.bmBits)[0]);
  EXPECT_FALSE(ConvertToKeyedDib(nullptr, RGB(255, 0, 255)));
}

}  // namespace
}  // namespace ui
