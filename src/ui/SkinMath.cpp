#include "ui/SkinMath.h"

#include <algorithm>
#include <cstring>

namespace ui {

std::uint32_t KeyedPixel(std::uint8_t blue, std::uint8_t green, std::uint8_t red, std::uint8_t alpha) {
  if (alpha == 255) return blue | (green << 8) | (static_cast<std::uint32_t>(red) << 16);
  if (alpha == 0) return kKeyColor;
  // c over white: (A·c + (255 − A)·255) / 255 = (A·(c − 255) + 65025) / 255,
  // never negative, rounded down.
  auto blend = [alpha](int c) { return static_cast<std::uint32_t>((alpha * (c - 255) + 65025) / 255); };
  return blend(blue) | (blend(green) << 8) | (blend(red) << 16);
}

void ConvertArgbToKeyedDib(const std::uint8_t* src, int srcStride, int width, int height, std::uint8_t* dst) {
  for (int i = 0; i < height; ++i) {
    const std::uint8_t* in = src + static_cast<std::ptrdiff_t>(i) * srcStride;
    std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(height - 1 - i) * width * 4;
    for (int j = 0; j < width; ++j) {
      std::uint32_t px = KeyedPixel(in[4 * j], in[4 * j + 1], in[4 * j + 2], in[4 * j + 3]);
      std::memcpy(out + 4 * j, &px, 4);  // little-endian: blue first
    }
  }
}

std::vector<int> TitleTilePositions(int windowWidth, int skinWidth, int border) {
  std::vector<int> tiles;
  const int step = skinWidth - 2 * border;
  if (step < 1) return tiles;
  for (int x = border;; x += step) {
    tiles.push_back(x);
    if (x >= windowWidth - border) break;
  }
  return tiles;
}

ProgressFill ComputeProgressFill(int position, int lower, int upper, int fillWidth) {
  ProgressFill fill;
  if (upper <= lower || fillWidth <= 0) return fill;
  const int p = std::clamp(position, lower, upper);
  // Double precision as the control's own figures; truncated.
  const double perUnit = static_cast<double>(fillWidth) / (static_cast<double>(upper) - lower);
  int w = static_cast<int>((static_cast<double>(p) - lower) * perUnit);
  w = std::clamp(w, 0, fillWidth);
  fill.width = w;
  fill.leftWidth = w / 2;
  fill.rightWidth = w - fill.leftWidth;
  fill.rightSourceX = fillWidth - fill.rightWidth;
  return fill;
}

int ProgressPercent(int position, int lower, int upper) {
  if (upper <= lower) return 0;
  const long long p = std::clamp(position, lower, upper);
  return static_cast<int>((p - lower) * 100 / (static_cast<long long>(upper) - lower));
}

MessageBoxLayout ComputeMessageBoxLayout(int style, int textWidth, int textHeight, int lines, int stripWidth,
                                         int stripHeight) {
  MessageBoxLayout m;
  const int bw = stripWidth / 4;
  const int bh = stripHeight;
  m.width = (2 * bw + 60 >= textWidth) ? 2 * bw + 60 : textWidth + 60;
  m.height = 3 * lines + 90 + textHeight + bh;
  // The box has no frame: its client area is the whole window.
  m.buttonCount = PlaceMessageBoxButtons(style, m.width, m.height, bw, bh, m.buttons);
  return m;
}

int PlaceMessageBoxButtons(int style, int cw, int ch, int bw, int bh, Rect buttons[2]) {
  if (HasSecondButton(style)) {
    buttons[0] = {cw / 2 - 10 - bw, ch - 30 - bh, cw / 2 - 10, ch - 30};
    buttons[1] = {cw / 2 + 10, ch - 30 - bh, cw / 2 + 10 + bw, ch - 30};
    return 2;
  }
  buttons[0] = {(cw - bw) / 2, ch - 30 - bh, (cw - bw) / 2 + bw, ch - 30};
  return 1;
}

int CountLines(const wchar_t* text) {
  int lines = 1;
  for (const wchar_t* p = text; p && *p; ++p) lines += (*p == L'\n');
  return lines;
}

bool HasSecondButton(int style) { return style == 4 || style == 1; }

int FirstButtonResult(int style) { return style == 4 ? 6 : 1; }

int SecondButtonResult(int style) { return style == 4 ? 7 : 2; }

const wchar_t* DefaultFirstCaption(int style) { return style == 4 ? L"是" : L"确定"; }

const wchar_t* DefaultSecondCaption(int style) {
  if (style == 4) return L"否";
  if (style == 1) return L"取消";
  return L"";
}

}  // namespace ui
