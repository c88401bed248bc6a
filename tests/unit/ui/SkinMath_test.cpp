#include "ui/SkinMath.h"

#include <gtest/gtest.h>

namespace ui {
namespace {

TEST(KeyedPixel, TransparencyAndBlendOverWhite) {
  struct Case {
    std::uint8_t b, g, r, a;
    std::uint32_t expected;
  } cases[] = {
      {0, 0, 255, 0, 0x00FF00FF},        // transparent red: the key, whatever lies under it
      {12, 34, 56, 0, 0x00FF00FF},
      {255, 0, 255, 255, 0x00FF00FF},    // opaque magenta stays magenta (reads as key later)
      {10, 20, 30, 255, 0x001E140A},     // opaque keeps its colour, reserved byte 0
      {0, 0, 0, 128, 0x007F7F7F},        // half-transparent black over white
      {0, 0, 0, 1, 0x00FEFEFE},
      {0, 0, 0, 254, 0x00010101},
      {255, 255, 255, 77, 0x00FFFFFF},   // white stays white at any alpha
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, KeyedPixel(c.b, c.g, c.r, c.a)) << int(c.b) << "," << int(c.g) << "," << int(c.r)
                                                             << " alpha " << int(c.a);
  }
}

TEST(KeyedPixel, ConversionKeepsPictureUprightInBottomUpRows) {
  // Two rows of two pixels: top row opaque blue then transparent, bottom row
  // opaque green then opaque red; the source rows carry 4 bytes of padding.
  const std::uint8_t src[] = {255, 0, 0, 255, 0, 0, 0, 0, 9, 9, 9, 9,
                              0, 255, 0, 255, 0, 0, 255, 255, 9, 9, 9, 9};
  std::uint32_t dst[4] = {};
  ConvertArgbToKeyedDib(src, 12, 2, 2, reinterpret_cast<std::uint8_t*>(dst));
  EXPECT_EQ(0x0000FF00u, dst[0]);  // memory row 0 = bottom of the picture
  EXPECT_EQ(0x00FF0000u, dst[1]);
  EXPECT_EQ(0x000000FFu, dst[2]);  // the top-left pixel lands in the last row
  EXPECT_EQ(kKeyColor, dst[3]);
}

TEST(TitleTiles, RepeatFromBorderUntilPastRightCorner) {
  EXPECT_EQ((std::vector<int>{4, 26, 48, 70, 92, 114}), TitleTilePositions(100, 30, 4));
  EXPECT_EQ((std::vector<int>{4}), TitleTilePositions(8, 30, 4));
  // Tile width below one pixel: no tiles (the band is stretched instead of
  // looping for ever).
  EXPECT_TRUE(TitleTilePositions(100, 8, 4).empty());
  EXPECT_TRUE(TitleTilePositions(100, 3, 4).empty());
  EXPECT_EQ((std::vector<int>{4, 5, 6}), TitleTilePositions(10, 9, 4));
}

TEST(ProgressFillPieces, FromBothEnds) {
  struct Case {
    int pos, lower, upper, fillWidth;
    ProgressFill expected;
  } cases[] = {
      {0, 0, 100, 390, {0, 0, 0, 390}},
      {50, 0, 100, 390, {195, 97, 98, 292}},
      {100, 0, 100, 390, {390, 195, 195, 195}},
      {1, 0, 100, 390, {3, 1, 2, 388}},
      // A range of zero width draws no fill.
      {5, 5, 5, 390, {0, 0, 0, 0}},
      {0, 0, 0, 390, {0, 0, 0, 0}},
      // Positions outside the range are clamped into it.
      {150, 0, 100, 390, {390, 195, 195, 195}},
      {-20, 0, 100, 390, {0, 0, 0, 390}},
      // The lower bound counts: the bar starts empty at it.
      {10, 10, 20, 390, {0, 0, 0, 390}},
      {20, 10, 20, 390, {390, 195, 195, 195}},
  };
  for (const Case& c : cases) {
    const ProgressFill f = ComputeProgressFill(c.pos, c.lower, c.upper, c.fillWidth);
    SCOPED_TRACE(testing::Message() << "pos " << c.pos << " range " << c.lower << ".." << c.upper);
    EXPECT_EQ(c.expected.width, f.width);
    EXPECT_EQ(c.expected.leftWidth, f.leftWidth);
    EXPECT_EQ(c.expected.rightWidth, f.rightWidth);
    if (f.rightWidth) {
      EXPECT_EQ(c.expected.rightSourceX, f.rightSourceX);
    }
  }
  EXPECT_EQ(37, ProgressPercent(37, 0, 100));
  EXPECT_EQ(0, ProgressPercent(3, 3, 3));
  EXPECT_EQ(100, ProgressPercent(300, 0, 100));
}

TEST(MessageBoxGeometry, SizesAndButtonPlaces) {
  // A short message: one 57 × 23 button centred on a 174-pixel window.
  MessageBoxLayout one = ComputeMessageBoxLayout(0, 120, 12, 1, 228, 23);
  EXPECT_EQ(174, one.width);
  EXPECT_EQ(128, one.height);  // 3 + 90 + 12 + 23
  ASSERT_EQ(1, one.buttonCount);
  EXPECT_EQ(58, one.buttons[0].left);
  EXPECT_EQ(75, one.buttons[0].top);
  EXPECT_EQ(115, one.buttons[0].right);
  EXPECT_EQ(98, one.buttons[0].bottom);
  EXPECT_EQ(174, ComputeMessageBoxLayout(0, 174, 12, 1, 228, 23).width);
  EXPECT_EQ(235, ComputeMessageBoxLayout(0, 175, 12, 1, 228, 23).width);

  // A message 300 pixels wide, two buttons.
  for (int style : {1, 4}) {
    MessageBoxLayout two = ComputeMessageBoxLayout(style, 300, 12, 1, 228, 23);
    EXPECT_EQ(360, two.width);
    ASSERT_EQ(2, two.buttonCount);
    EXPECT_EQ(113, two.buttons[0].left);
    EXPECT_EQ(170, two.buttons[0].right);
    EXPECT_EQ(190, two.buttons[1].left);
    EXPECT_EQ(247, two.buttons[1].right);
    EXPECT_EQ(75, two.buttons[1].top);
  }
  // Every line adds 3 pixels besides its own height.
  EXPECT_EQ(3 * 2 + 90 + 30 + 23, ComputeMessageBoxLayout(0, 100, 30, 2, 228, 23).height);
}

TEST(MessageBoxGeometry, StylesCaptionsAndEndCodes) {
  struct Case {
    int style;
    bool two;
    int first, second;
    const wchar_t* firstCaption;
    const wchar_t* secondCaption;
  } cases[] = {
      {4, true, 6, 7, L"是", L"否"},
      {1, true, 1, 2, L"确定", L"取消"},
      {0, false, 1, 2, L"确定", L""},
      {3, false, 1, 2, L"确定", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.two, HasSecondButton(c.style));
    EXPECT_EQ(c.first, FirstButtonResult(c.style));
    if (c.two) {
      EXPECT_EQ(c.second, SecondButtonResult(c.style));
    }
    EXPECT_STREQ(c.firstCaption, DefaultFirstCaption(c.style));
    EXPECT_STREQ(c.secondCaption, DefaultSecondCaption(c.style));
  }
  EXPECT_EQ(1, CountLines(L"one"));
  EXPECT_EQ(2, CountLines(L"OrlixDuskmere已成功移除，部分文件将在程序退出\r\n或计算机重启后自行删除"));
  EXPECT_EQ(2, CountLines(L"trailing\n"));
}

}  // namespace
}  // namespace ui
