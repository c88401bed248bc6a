// The skinned windows on real windows: the message box's geometry, region,
// captions and end codes as a player's clicks and keys produce them; the
// dialog base's tiles, region and hit-test; the progress bar's fill pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "SkinTestSupport.h"
#include "resources/resource.h"
#include "ui/BtnEx.h"
#include "ui/DlgEx.h"
#include "ui/ImgProgress.h"
#include "ui/MessageBox.h"
#include "ui/ResourceImage.h"
#include "ui/SkinMath.h"
#include "ui/SkinMessageBox.h"

namespace ui {
namespace {

using skin_test::Canvas;
using skin_test::Click;
using skin_test::DialogObject;
using skin_test::DibPixel;
using skin_test::LauncherResources;
using skin_test::ModalThread;
using skin_test::PressKey;

RECT ChildRect(HWND parent, HWND child) {
  RECT rc = {};
  ::GetWindowRect(child, &rc);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

// The message measured as the box measures it: in the dialog's font.
SIZE MeasureInDialogFont(HWND dialog, const wchar_t* text) {
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  RECT rc = {};
  ::DrawTextW(dc, text, -1, &rc, DT_CALCRECT);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return {rc.right, rc.bottom};
}

std::wstring Caption(HWND button) {
  auto* b = dynamic_cast<CBtnEx*>(app::CWnd::FromHandlePermanent(button));
  return b ? b->m_strText : L"<unbound>";
}

struct BoxCase {
  const char* name;
  const wchar_t* message;
  const wchar_t* caption;
  int style;
  const wchar_t* first;
  const wchar_t* second;
  const wchar_t* shownFirst;
  const wchar_t* shownSecond;  // null: one button
  int lines;
};

// The launcher's four messages and the plain styles.
const BoxCase kBoxes[] = {
    {"no_network", L"当前网络不可用，请检查网络连接是否正常！", L"OrlixDuskmere", 0, L"", L"", L"确定", nullptr, 1},
    {"uninstall_question", L"确定要移除 OrlixDuskmere吗？", L"OrlixDuskmere", 4, L"", L"", L"是", L"否", 1},
    {"uninstall_done", L"OrlixDuskmere已成功移除，部分文件将在程序退出\r\n或计算机重启后自行删除", L"OrlixDuskmere", 0,
     L"", L"", L"确定", nullptr, 2},
    {"start_failed", L"游戏启动异常(2)", L"Duskmere3.0.1.5", 4, L"确定", L"查看帮助", L"确定", L"查看帮助", 1},
    {"ok_cancel", L"短", L"Box", 1, nullptr, nullptr, L"确定", L"取消", 1},
    {"long_line", L"A rather long single line of text that is certainly wider than two buttons together", L"Wide",
     4, L"", L"", L"是", L"否", 1},
};

void PrintTo(const BoxCase& c, std::ostream* os) { *os << c.name; }

class MessageBoxWindow : public testing::TestWithParam<BoxCase> {
 protected:
  void SetUp() override { ASSERT_NE(nullptr, LauncherResources()); }
};

TEST_P(MessageBoxWindow, SizedToTheTextWithButtonsRegionAndCaptions) {
  const BoxCase& c = GetParam();
  ModalThread run([&] { return static_cast<INT_PTR>(ShowMessageBox(c.message, c.caption, c.style, c.first, c.second)); });
  HWND box = run.WaitForDialog();
  ASSERT_NE(nullptr, box);
  CMessageBox* object = DialogObject<CMessageBox>(box);
  ASSERT_NE(nullptr, object);
  EXPECT_EQ(c.lines, object->m_nLines);

  wchar_t title[64] = {};
  ::GetWindowTextW(box, title, 64);
  EXPECT_STREQ(c.caption, title);
  EXPECT_EQ(0, ::GetWindowLongPtrW(box, GWL_STYLE) & (WS_CAPTION | DS_MODALFRAME));

  const SIZE text = MeasureInDialogFont(box, c.message);
  const MessageBoxLayout expected = ComputeMessageBoxLayout(c.style, text.cx, text.cy, c.lines, 228, 23);
  RECT wr = {}, cr = {};
  ::GetWindowRect(box, &wr);
  ::GetClientRect(box, &cr);
  const int W = wr.right - wr.left;
  EXPECT_EQ(expected.width, W);
  EXPECT_EQ(expected.height, wr.bottom - wr.top);
  EXPECT_EQ(W, cr.right);  // no frame: the client area is the window
  EXPECT_EQ(wr.bottom - wr.top, cr.bottom);

  HWND first = ::GetDlgItem(box, kFirstButtonId);
  HWND second = ::GetDlgItem(box, kSecondButtonId);
  ASSERT_NE(nullptr, first);
  const RECT r1 = ChildRect(box, first);
  EXPECT_EQ(expected.buttons[0].left, r1.left);
  EXPECT_EQ(expected.buttons[0].top, r1.top);
  EXPECT_EQ(expected.buttons[0].right, r1.right);
  EXPECT_EQ(expected.buttons[0].bottom, r1.bottom);
  EXPECT_EQ(c.shownFirst, Caption(first));
  if (c.shownSecond) {
    ASSERT_NE(nullptr, second);
    const RECT r2 = ChildRect(box, second);
    EXPECT_EQ(expected.buttons[1].left, r2.left);
    EXPECT_EQ(expected.buttons[1].right, r2.right);
    EXPECT_EQ(expected.buttons[1].top, r2.top);
    EXPECT_EQ(c.shownSecond, Caption(second));
  } else {
    EXPECT_EQ(nullptr, second);
  }

  // The close button sits flush in the top-right corner, 33 × 28.
  HWND close = ::GetDlgItem(box, kCloseCommand);
  ASSERT_NE(nullptr, close);
  const RECT rc = ChildRect(box, close);
  EXPECT_EQ(W - 33, rc.left);
  EXPECT_EQ(0, rc.top);
  EXPECT_EQ(W, rc.right);
  EXPECT_EQ(28, rc.bottom);

  // The region lacks exactly the background's transparent corner pixels,
  // mirrored onto the window's right end; the bottom corners are square.
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(ERROR, ::GetWindowRgn(box, region));
  const int cut[][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {0, 2}};
  for (const auto& p : cut) {
    EXPECT_FALSE(::PtInRegion(region, p[0], p[1])) << p[0] << "," << p[1];
    EXPECT_FALSE(::PtInRegion(region, W - 1 - p[0], p[1])) << "mirror of " << p[0] << "," << p[1];
  }
  const int H = wr.bottom - wr.top;
  const int kept[][2] = {{3, 0}, {2, 1}, {1, 2}, {0, 3}, {W - 4, 0}, {0, H - 1}, {W - 1, H - 1}, {20, 20}};
  for (const auto& p : kept) EXPECT_TRUE(::PtInRegion(region, p[0], p[1])) << p[0] << "," << p[1];
  ::DeleteObject(region);

  // The skin painted into any context, with and without the title: the
  // caption's text starts at (9, 7) in the title band (border 4 + 5, no icon).
  Canvas withTitle(W, H), without(W, H);
  EXPECT_EQ(TRUE, ::SendMessageW(box, WM_ERASEBKGND, reinterpret_cast<WPARAM>(withTitle.dc()), 0));
  object->m_bShowTitle = FALSE;  // read by the dialog's thread inside the next call
  ::SendMessageW(box, WM_ERASEBKGND, reinterpret_cast<WPARAM>(without.dc()), 0);
  object->m_bShowTitle = TRUE;
  int minX = W, minY = H, maxY = -1;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      if (withTitle.Pixel(x, y) == without.Pixel(x, y)) continue;
      minX = std::min(minX, x);
      minY = std::min(minY, y);
      maxY = std::max(maxY, y);
    }
  }
  EXPECT_GE(minX, 9);
  EXPECT_LE(minX, 12);
  EXPECT_GE(minY, 7);
  EXPECT_LE(minY, 12);
  EXPECT_LT(maxY, 30);  // inside the band

  Click(first);
  ASSERT_TRUE(run.Join(10000));
  EXPECT_EQ(FirstButtonResult(c.style), run.result());
}

INSTANTIATE_TEST_SUITE_P(Boxes, MessageBoxWindow, testing::ValuesIn(kBoxes),
                         [](const testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

struct AnswerCase {
  int style;
  int button;  // 0 first, 1 second, 2 the close button
  int expected;
};

TEST(MessageBoxAnswers, EachButtonEndsWithItsCodeAndCloseWithCancel) {
  ASSERT_NE(nullptr, LauncherResources());
  const AnswerCase cases[] = {{0, 0, 1}, {0, 2, 2}, {1, 0, 1}, {1, 1, 2}, {1, 2, 2},
                              {4, 0, 6}, {4, 1, 7}, {4, 2, 2}, {3, 0, 1}};
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "style " << c.style << " button " << c.button);
    ModalThread run([&] { return static_cast<INT_PTR>(ShowMessageBox(L"问题", L"OrlixDuskmere", c.style, L"", L"")); });
    HWND box = run.WaitForDialog();
    ASSERT_NE(nullptr, box);
    const UINT ids[] = {kFirstButtonId, kSecondButtonId, kCloseCommand};
    HWND button = ::GetDlgItem(box, static_cast<int>(ids[c.button]));
    ASSERT_NE(nullptr, button);
    Click(button);
    ASSERT_TRUE(run.Join(10000));
    EXPECT_EQ(c.expected, run.result());
  }
}

TEST(MessageBoxAnswers, EnterAndEscapeChangeNothing) {
  ASSERT_NE(nullptr, LauncherResources());
  for (int style : {0, 1, 4}) {
    ModalThread run([&] { return static_cast<INT_PTR>(ShowMessageBox(L"按键", L"Keys", style, nullptr, nullptr)); });
    HWND box = run.WaitForDialog();
    ASSERT_NE(nullptr, box);
    // Also with the focus on a button, where Enter would click a push button.
    for (HWND focus : {box, ::GetDlgItem(box, kFirstButtonId)}) {
      ::SendMessageW(box, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
      PressKey(box, VK_RETURN);
      PressKey(box, VK_ESCAPE);
      ::Sleep(300);
      // A message sent through the dialog's thread has passed the keys.
      ::SendMessageW(box, WM_NULL, 0, 0);
      EXPECT_TRUE(run.Running()) << "style " << style;
    }
    // A system close request still ends it with IDCANCEL.
    ::PostMessageW(box, WM_CLOSE, 0, 0);
    ASSERT_TRUE(run.Join(10000));
    EXPECT_EQ(2, run.result());
  }
}

// ---- Dialog base ---------------------------------------------------------------

// A CDlgEx on the update window's template, configured by the test.
class ProbeDialog : public CDlgEx {
 public:
  explicit ProbeDialog(std::function<void(ProbeDialog&)> init) : CDlgEx(IDD_UPDATE, nullptr), m_init(std::move(init)) {}
  using CDlgEx::DrawSkin;
  CImgProgress m_progress;

 protected:
  void DoDataExchange() override { DDX_Control(1003, m_progress); }
  BOOL OnInitDialog() override {
    CDlgEx::OnInitDialog();
    m_nTitleHeight = 30;
    m_nBorder = 4;
    m_nBtnRightMargin = 0;
    m_nBtnTop = 0;
    m_init(*this);
    return TRUE;
  }
  std::function<void(ProbeDialog&)> m_init;
};

// A background whose every column has its own red value: (x, 100, 200) in
// the title band and (x, 50, 50) below.
base::UniqueHBitmap ColumnCodedSkin(int width, int height, int keyX = -1, int keyY = -1) {
  base::UniqueHBitmap bmp;
  {
    base::UniqueWindowDC screen(nullptr);
    bmp.reset(::CreateCompatibleBitmap(screen.get(), width, height));
  }
  base::UniqueMemoryDC dc(::CreateCompatibleDC(nullptr));
  base::ScopedSelectObject select(dc.get(), bmp.get());
  for (int x = 0; x < width; ++x)
    for (int y = 0; y < height; ++y) ::SetPixel(dc.get(), x, y, y < 30 ? RGB(x, 100, 200) : RGB(x, 50, 50));
  if (keyX >= 0) ::SetPixel(dc.get(), keyX, keyY, RGB(255, 0, 255));
  return bmp;
}

TEST(SkinnedDialog, TitleBandIsTiledAndCornersDrawnOverTheLastTile) {
  ProbeDialog probe([](ProbeDialog&) {});
  probe.m_nTitleHeight = 30;
  probe.m_nBorder = 4;
  base::UniqueHBitmap skin = ColumnCodedSkin(30, 51);
  base::UniqueMemoryDC src(::CreateCompatibleDC(nullptr));
  HGDIOBJ old = ::SelectObject(src.get(), skin.get());
  Canvas out(100, 60);
  probe.DrawSkin(out.dc(), 100, 60, src.get(), 30, 51);
  // Tiles of 22 columns (source x 4..25) at x = 4, 26, 48, 70, 92; the right
  // corner (source 26..29) covers 96..99.
  for (int x = 0; x < 100; ++x) {
    int sourceX;
    if (x < 4) sourceX = x;
    else if (x >= 96) sourceX = 26 + (x - 96);
    else sourceX = 4 + (x - 4) % 22;
    EXPECT_EQ(static_cast<unsigned>(sourceX << 16 | 100 << 8 | 200), out.Pixel(x, 10)) << "x " << x;
  }
  // Below the band the body is stretched, not tiled: the middle column of
  // the window comes from the middle of the skin.
  EXPECT_EQ(50u, out.Pixel(50, 45) & 0xFF);

  // A skin too narrow to tile (8 columns, borders of 4) is stretched and the
  // drawing ends.
  base::UniqueHBitmap narrow = ColumnCodedSkin(8, 51);
  ::SelectObject(src.get(), narrow.get());
  Canvas out2(100, 60);
  probe.DrawSkin(out2.dc(), 100, 60, src.get(), 8, 51);
  EXPECT_EQ(static_cast<unsigned>(4 << 16 | 100 << 8 | 200), out2.Pixel(50, 10));
  ::SelectObject(src.get(), old);  // the bitmaps go after the DC lets go of them
}

TEST(SkinnedDialog, RegionHitTestAndCloseButtonOnARealWindow) {
  ASSERT_NE(nullptr, LauncherResources());
  ModalThread run([] {
    ProbeDialog dialog([](ProbeDialog& d) {
      // A key pixel away from the corners must not cut the region.
      d.SetSkin(ColumnCodedSkin(30, 51, 20, 20), nullptr);
      base::UniqueHBitmap real = LoadResourceImage(LauncherResources(), IDB_SKIN_DIALOG);
      base::UniqueHBitmap close = LoadResourceImage(LauncherResources(), IDB_SKIN_CLOSE);
      ::SetWindowPos(d.m_hWnd, nullptr, 100, 100, 400, 120, SWP_NOZORDER);
      HRGN plain = ::CreateRectRgn(0, 0, 0, 0);
      ::GetWindowRgn(d.m_hWnd, plain);
      ::SetPropW(d.m_hWnd, L"plain", plain);
      d.SetSkin(std::move(real), close.get());
    });
    return dialog.DoModal();
  });
  HWND dialog = run.WaitForDialog();
  ASSERT_NE(nullptr, dialog);
  HRGN plain = static_cast<HRGN>(::GetPropW(dialog, L"plain"));
  ASSERT_NE(nullptr, plain);
  EXPECT_TRUE(::PtInRegion(plain, 20, 20));
  RECT box = {};
  EXPECT_EQ(SIMPLEREGION, ::GetRgnBox(plain, &box));
  EXPECT_EQ(400, box.right);
  ::DeleteObject(plain);

  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(ERROR, ::GetWindowRgn(dialog, region));
  int missing = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 400; ++x) missing += !::PtInRegion(region, x, y);
  EXPECT_EQ(12, missing);
  for (auto p : {POINT{0, 0}, POINT{1, 0}, POINT{2, 0}, POINT{0, 1}, POINT{1, 1}, POINT{0, 2}, POINT{399, 0},
                 POINT{398, 0}, POINT{397, 0}, POINT{399, 1}, POINT{398, 1}, POINT{399, 2}})
    EXPECT_FALSE(::PtInRegion(region, p.x, p.y)) << p.x << "," << p.y;
  ::DeleteObject(region);

  // The title band drags (HTCAPTION) down to y = 29; y = 30 is client area.
  RECT wr = {};
  ::GetWindowRect(dialog, &wr);
  auto hit = [&](int x, int y) {
    return ::SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(wr.left + x, wr.top + y));
  };
  EXPECT_EQ(HTCAPTION, hit(100, 0));
  EXPECT_EQ(HTCAPTION, hit(100, 29));
  EXPECT_EQ(HTCLIENT, hit(100, 30));
  // The close button moved with the resize to the new top-right corner.
  const RECT close = ChildRect(dialog, ::GetDlgItem(dialog, kCloseCommand));
  EXPECT_EQ(367, close.left);
  EXPECT_EQ(400, close.right);

  Click(::GetDlgItem(dialog, kCloseCommand));
  ASSERT_TRUE(run.Join(10000));
  EXPECT_EQ(IDCANCEL, run.result());
}

// ---- Progress bar ----------------------------------------------------------------

TEST(ImageProgress, FillPiecesComeFromBothEndsOfTheFillImage) {
  ASSERT_NE(nullptr, LauncherResources());
  ModalThread run([] {
    ProbeDialog dialog([](ProbeDialog& d) {
      HMODULE m = LauncherResources();
      d.SetSkin(LoadResourceImage(m, IDB_SKIN_DIALOG), nullptr);
      d.m_progress.SetImages(LoadResourceImage(m, IDB_SKIN_TRACK), LoadResourceImage(m, IDB_SKIN_FILL));
    });
    return dialog.DoModal();
  });
  HWND dialog = run.WaitForDialog();
  ASSERT_NE(nullptr, dialog);
  HWND bar = ::GetDlgItem(dialog, 1003);
  ASSERT_NE(nullptr, bar);
  RECT wr = {};
  ::GetWindowRect(bar, &wr);
  EXPECT_EQ(390, wr.right - wr.left);
  EXPECT_EQ(21, wr.bottom - wr.top);

  const base::UniqueHBitmap track = LoadResourceImage(LauncherResources(), IDB_SKIN_TRACK);
  const base::UniqueHBitmap fill = LoadResourceImage(LauncherResources(), IDB_SKIN_FILL);
  struct Case {
    int lower, upper, pos;
    int left, right;  // fill pieces expected
  } cases[] = {{0, 100, 0, 0, 0},     {0, 100, 50, 97, 98}, {0, 100, 100, 195, 195},
               {0, 100, 1, 1, 2},     {0, 0, 0, 0, 0},      {0, 100, 37, 72, 72}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "range " << c.lower << ".." << c.upper << " position " << c.pos);
    ::SendMessageW(bar, PBM_SETRANGE32, c.lower, c.upper);
    ::SendMessageW(bar, PBM_SETPOS, c.pos, 0);
    Canvas out(390, 21);
    ::SendMessageW(bar, WM_PAINT, reinterpret_cast<WPARAM>(out.dc()), 0);
    int wrong = 0;
    for (int y : {5, 10, 15}) {
      for (int x = 0; x < 390; ++x) {
        unsigned source;
        if (x < c.left) source = DibPixel(fill.get(), x, y);
        else if (x < c.left + c.right) source = DibPixel(fill.get(), 390 - c.right + (x - c.left), y);
        else source = DibPixel(track.get(), x, y);
        if (source == kKeyColor) continue;  // the skin shows through there
        if (out.Pixel(x, y) != (source & 0xFFFFFF) && wrong++ < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " " << std::hex << out.Pixel(x, y) << " != " << source;
      }
    }
    EXPECT_EQ(0, wrong);
  }
  ::PostMessageW(dialog, WM_CLOSE, 0, 0);
  ASSERT_TRUE(run.Join(10000));
}

// ---- Button --------------------------------------------------------------------

class ButtonParent : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, LauncherResources());
    parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 500, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, parent);
    strip = LoadResourceImage(LauncherResources(), IDB_SKIN_BUTTON);
    close = LoadResourceImage(LauncherResources(), IDB_SKIN_CLOSE);
  }
  void TearDown() override { ::DestroyWindow(parent); }
  HWND parent = nullptr;
  base::UniqueHBitmap strip;
  base::UniqueHBitmap close;
};

TEST_F(ButtonParent, StripFramesSizeAndRightAlignment) {
  CBtnEx resized;
  ASSERT_TRUE(resized.Create(L"", WS_CHILD | WS_VISIBLE, RECT{10, 10, 200, 100}, parent, 7));
  EXPECT_TRUE(resized.SetImageStrip(strip.get(), TRUE));
  RECT rc = ChildRect(parent, resized.m_hWnd);
  EXPECT_EQ(10, rc.left);
  EXPECT_EQ(57, rc.right - rc.left);
  EXPECT_EQ(23, rc.bottom - rc.top);
  EXPECT_EQ(4, resized.m_imageList.GetImageCount());
  EXPECT_EQ(BS_OWNERDRAW, ::GetWindowLongPtrW(resized.m_hWnd, GWL_STYLE) & BS_TYPEMASK);

  CBtnEx right;
  ASSERT_TRUE(right.CreateRightAligned(400, 5, close.get(), 8, parent));
  rc = ChildRect(parent, right.m_hWnd);
  EXPECT_EQ(367, rc.left);
  EXPECT_EQ(5, rc.top);
  EXPECT_EQ(400, rc.right);
  EXPECT_EQ(28, rc.bottom - rc.top);

  // A strip 130 pixels wide gives frames 32 pixels wide.
  base::UniqueHBitmap odd;
  {
    base::UniqueWindowDC screen(nullptr);
    odd.reset(::CreateCompatibleBitmap(screen.get(), 130, 20));
  }
  EXPECT_TRUE(right.SetImageStrip(odd.get(), FALSE));
  IMAGEINFO info = {};
  ASSERT_TRUE(right.m_imageList.GetImageInfo(0, &info));
  EXPECT_EQ(32, info.rcImage.right - info.rcImage.left);
}

TEST_F(ButtonParent, FrameChoiceAndPressedLatch) {
  CBtnEx button;
  ASSERT_TRUE(button.Create(L"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 57, 23}, parent, 9));
  EXPECT_EQ(FrameNormal, button.ChooseFrame(0));
  button.m_bHover = TRUE;
  EXPECT_EQ(FrameHover, button.ChooseFrame(0));
  EXPECT_EQ(FrameDisabled, button.ChooseFrame(ODS_DISABLED));
  EXPECT_EQ(FrameDisabled, button.ChooseFrame(ODS_GRAYED | ODS_SELECTED));
  EXPECT_EQ(FramePressed, button.ChooseFrame(ODS_SELECTED));
  // Dragged off with the mouse button held: the pressed frame stays.
  button.m_bHover = FALSE;
  EXPECT_EQ(FramePressed, button.ChooseFrame(0));
  ::SendMessageW(button.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(300, 300));
  EXPECT_FALSE(button.m_bPressedLatch);
  EXPECT_EQ(FrameNormal, button.ChooseFrame(0));
}

// Exposes DrawItem to draw into a test canvas.
class DrawableButton : public CBtnEx {
 public:
  using CBtnEx::DrawItem;
};

TEST_F(ButtonParent, FramesDrawOneToOneOrStretchedWithMagentaLeftOut) {
  const struct {
    int width, height;
    UINT state;
    int frame;
  } cases[] = {{57, 23, 0, FrameNormal}, {57, 23, ODS_SELECTED, FramePressed}, {57, 23, ODS_DISABLED, FrameDisabled},
               {114, 46, 0, FrameNormal}, {114, 46, ODS_DISABLED, FrameDisabled}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " frame " << c.frame);
    DrawableButton button;
    ASSERT_TRUE(button.Create(L"", WS_CHILD | WS_VISIBLE, RECT{10, 10, 10 + c.width, 10 + c.height}, parent, 11));
    button.SetImageStrip(strip.get(), FALSE);
    Canvas out(c.width, c.height);
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_BUTTON;
    item.hwndItem = button.m_hWnd;
    item.hDC = out.dc();
    item.itemState = c.state;
    ::GetClientRect(button.m_hWnd, &item.rcItem);
    button.DrawItem(item);
    EXPECT_EQ(c.frame, button.m_nLastFrame);
    const int scale = c.width / 57;
    int compared = 0, magentaShown = 0;
    for (int y = 0; y < 23; ++y) {
      for (int x = 0; x < 57; ++x) {
        const unsigned source = DibPixel(strip.get(), c.frame * 57 + x, y) & 0xFFFFFF;
        const unsigned drawn = out.Pixel(x * scale, y * scale);
        if (drawn == kKeyColor) ++magentaShown;
        if (source == kKeyColor) continue;
        ++compared;
        EXPECT_EQ(source, drawn) << "frame pixel " << x << "," << y;
        if (HasFailure()) return;
      }
    }
    EXPECT_GT(compared, 57 * 23 / 2);
    EXPECT_EQ(0, magentaShown);  // the key colour never reaches the screen
  }
}

TEST_F(ButtonParent, ToolTipCreatedOnceKeepsTheLastText) {
  CBtnEx button;
  ASSERT_TRUE(button.Create(L"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 33, 28}, parent, 10));
  button.SetToolTipText(L"关闭");
  HWND tip = button.m_toolTip.hwnd();
  ASSERT_NE(nullptr, tip);
  button.SetToolTipText(L"还原");
  EXPECT_EQ(tip, button.m_toolTip.hwnd());
  EXPECT_EQ(L"还原", button.m_strToolTip);
  EXPECT_EQ(1, ::SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0));
}

}  // namespace
}  // namespace ui
