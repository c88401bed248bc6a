// The arithmetic of the skinned windows, free of any window: the keyed pixel
// conversion of decoded images, the title band's tiles, the progress bar's
// fill pieces and the message box's layout.
#pragma once

#include <cstdint>
#include <vector>

namespace ui {

// Magenta: transparent in every skinned drawing. The same 32-bit value reads
// as RGB(255, 0, 255) as a COLORREF and as blue 255, green 0, red 255,
// reserved 0 as a DIB pixel.
constexpr std::uint32_t kKeyColor = 0x00FF00FFu;

// One pixel of 32-bit ARGB (bytes blue, green, red, alpha) turned into a
// DIB pixel (blue, green, red, reserved 0): opaque pixels keep their colour,
// fully transparent ones become the key colour, translucent ones are blended
// over white.
std::uint32_t KeyedPixel(std::uint8_t blue, std::uint8_t green, std::uint8_t red, std::uint8_t alpha);

// Converts a top-down ARGB image (|srcStride| bytes per row) into bottom-up
// DIB rows of width × 4 bytes at |dst|, so that the picture stays upright.
void ConvertArgbToKeyedDib(const std::uint8_t* src, int srcStride, int width, int height, std::uint8_t* dst);

// x positions of the title band's tiles for a window |windowWidth| wide, a
// skin |skinWidth| wide and corners |border| wide: a tile every
// skinWidth − 2·border pixels from x = border, the last one being the first
// at or beyond windowWidth − border. Empty when the tile width is below 1
// (such a skin is stretched instead).
std::vector<int> TitleTilePositions(int windowWidth, int skinWidth, int border);

// The filled part of the progress bar: the fill image's left end, |leftWidth|
// pixels from source x 0, and its right end, |rightWidth| pixels from source
// x |rightSourceX|, drawn side by side.
struct ProgressFill {
  int width = 0;
  int leftWidth = 0;
  int rightWidth = 0;
  int rightSourceX = 0;
};

// Fill for |position| in [lower, upper] over a fill image |fillWidth| wide.
// An empty range draws nothing; the position is clamped into the range.
ProgressFill ComputeProgressFill(int position, int lower, int upper, int fillWidth);

// Percentage shown by the bar: 0 for an empty range, else clamped to 0..100.
int ProgressPercent(int position, int lower, int upper);

// Window size and button rectangles of the message box.
struct Rect {
  int left, top, right, bottom;
};
struct MessageBoxLayout {
  int width = 0;
  int height = 0;
  int buttonCount = 0;
  Rect buttons[2] = {};
};

// |textWidth| × |textHeight| is the measured message, |lines| its line count,
// |stripWidth| × |stripHeight| the first button's image strip (four frames).
MessageBoxLayout ComputeMessageBoxLayout(int style, int textWidth, int textHeight, int lines, int stripWidth,
                                         int stripHeight);

// Buttons on a client area |clientWidth| × |clientHeight| for frames of
// |buttonWidth| × |buttonHeight|: two side by side 20 pixels apart, or one
// centred, 30 pixels above the bottom. Returns the number of buttons.
int PlaceMessageBoxButtons(int style, int clientWidth, int clientHeight, int buttonWidth, int buttonHeight,
                           Rect buttons[2]);

// 1 + the number of line feeds in |text|.
int CountLines(const wchar_t* text);

// End codes of the message box's buttons for |style| (4: Yes/No, 1: OK/Cancel,
// else OK only).
int FirstButtonResult(int style);
int SecondButtonResult(int style);
bool HasSecondButton(int style);
const wchar_t* DefaultFirstCaption(int style);
const wchar_t* DefaultSecondCaption(int style);

}  // namespace ui
