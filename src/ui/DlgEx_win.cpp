#include "ui/DlgEx.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "ui/SkinMath.h"

namespace ui {

namespace {

constexpr COLORREF kKey = RGB(255, 0, 255);
constexpr int kCornerScan = 9;  // the corner squares examined for the region

}  // namespace

CDlgEx::CDlgEx(UINT templateId, HWND parent) : app::CDialog(templateId, parent) {}

CDlgEx::~CDlgEx() {
  m_btnClose.DestroyWindow();
  m_btnMin.DestroyWindow();
  m_btnMax.DestroyWindow();
}

BOOL CDlgEx::OnInitDialog() {
  app::CDialog::OnInitDialog();
  LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
  style = (style & ~static_cast<LONG_PTR>(WS_CAPTION | DS_MODALFRAME)) | WS_MINIMIZEBOX;
  ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, style);
  LONG_PTR exStyle = ::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE);
  ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, exStyle & ~static_cast<LONG_PTR>(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE));
  // Let the frame change take effect (CWnd::ModifyStyle with SWP_FRAMECHANGED).
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  RECT work = {};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int w = work.right - work.left;
  const int h = work.bottom - work.top;
  m_nMaxWidth = w;
  m_nMaxHeight = h;
  m_rcRestore = {w / 8, h / 8, work.right - w / 8, work.bottom - h / 8};
  return TRUE;
}

BOOL CDlgEx::SetSkin(base::UniqueHBitmap background, HBITMAP closeStrip) {
  m_bSkinStretch = TRUE;
  m_bmpBack = std::move(background);
  BuildSkinRegion();
  if (closeStrip && m_hWnd) {
    m_btnClose.DestroyWindow();
    const RECT client = ClientRect();
    m_btnClose.CreateRightAligned(client.right - m_nBtnRightMargin, m_nBtnTop, closeStrip, kCloseCommand, m_hWnd);
    m_btnClose.SetToolTipText(L"关闭");
  }
  return TRUE;
}

HICON CDlgEx::SmallIcon() const {
  return reinterpret_cast<HICON>(::SendMessageW(m_hWnd, WM_GETICON, ICON_SMALL, 0));
}

void CDlgEx::SetTitle(const wchar_t* text) {
  if (!m_hWnd) return;
  ::SetWindowTextW(m_hWnd, text ? text : L"");
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  LOGFONTW lf = {};
  if (font) ::GetObjectW(font, sizeof(lf), &lf);
  int q = (m_nTitleHeight + 1 - std::abs(static_cast<int>(lf.lfHeight))) / 2;
  if (q < 0) q = 6;
  const int x = m_nBorder + 5 + (SmallIcon() ? 16 : 0);
  const int y = q - 2;
  RECT measure = {x, y, x, y};
  {
    base::UniqueWindowDC dc(m_hWnd);
    base::ScopedSelectObject selectFont(dc.get(), font);
    ::DrawTextW(dc.get(), text ? text : L"", -1, &measure, DT_CALCRECT);
  }
  RECT strip = {x, y, ClientRect().right, measure.bottom};
  ::InvalidateRect(m_hWnd, &strip, TRUE);
}

void CDlgEx::PostClose() { ::PostMessageW(m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); }

void CDlgEx::PostMinimize() { ::PostMessageW(m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0); }

BOOL CDlgEx::ToggleMaximize() {
  if (m_bMaximized) {
    ::MoveWindow(m_hWnd, m_rcRestore.left, m_rcRestore.top, m_rcRestore.right - m_rcRestore.left,
                 m_rcRestore.bottom - m_rcRestore.top, TRUE);
    UpdateMaxButton(FALSE);
  } else {
    RECT work = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int w = work.right - work.left;
    const int h = work.bottom - work.top;
    if (w > m_nMaxWidth) {
      const int shrink = (w - m_nMaxWidth) / 2;
      work.left += shrink;
      work.right -= shrink;
    }
    if (h > m_nMaxHeight) {
      const int shrink = (h - m_nMaxHeight) / 2;
      work.top += shrink;
      work.bottom -= shrink;
    }
    ::MoveWindow(m_hWnd, work.left, work.top, work.right - work.left, work.bottom - work.top, TRUE);
    UpdateMaxButton(TRUE);
  }
  m_btnMax.m_bHover = FALSE;
  m_btnMax.m_bTracking = FALSE;
  m_bMaximized = !m_bMaximized;
  return m_bMaximized;
}

void CDlgEx::UpdateMaxButton(BOOL maximized) {
  if (!m_btnMax.m_hWnd) return;
  HBITMAP strip = maximized ? m_bmpRestoreBtn.get() : m_bmpMaxBtn.get();
  if (strip) m_btnMax.SetImageStrip(strip, FALSE);
  ::GetWindowRect(m_btnMax.m_hWnd, &m_btnMax.m_rcWindow);
  m_btnMax.SetToolTipText(maximized ? L"还原" : L"最大化");
}

void CDlgEx::BuildSkinRegion() {
  if (!m_hWnd || !m_bmpBack) return;
  const RECT wr = WindowRect();
  const int W = wr.right - wr.left;
  const int H = wr.bottom - wr.top;
  BITMAP bm = {};
  if (!::GetObjectW(m_bmpBack.get(), sizeof(bm), &bm)) return;
  const int bw = bm.bmWidth;
  const int bh = bm.bmHeight;
  base::UniqueMemoryDC mem(::CreateCompatibleDC(nullptr));
  if (!mem) return;
  base::ScopedSelectObject select(mem.get(), m_bmpBack.get());
  base::UniqueHRgn region(::CreateRectRgn(0, 0, W, H));
  if (!region) return;
  // Each key pixel is cut out with RGN_DIFF: a pixel found by two passes
  // (a skin under 18 pixels high or wide) stays cut instead of being put
  // back by a second exclusive-or.
  auto cut = [&](int x, int y) {
    base::UniqueHRgn pixel(::CreateRectRgn(x, y, x + 1, y + 1));
    if (pixel) ::CombineRgn(region.get(), region.get(), pixel.get(), RGN_DIFF);
  };
  auto isKey = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= bw || y >= bh) return false;
    return ::GetPixel(mem.get(), x, y) == kKey;
  };
  for (int y = 0; y < bh && y < kCornerScan; ++y) {
    for (int x = 0; x < bw && x < kCornerScan; ++x) {
      if (isKey(x, y)) cut(x, y);
      if (isKey(bw - 1 - x, y)) cut(W - 1 - x, y);
    }
  }
  for (int y = bh - kCornerScan; y < bh; ++y) {
    const int Y = H - bh + y;
    for (int x = 0; x < bw && x < kCornerScan; ++x) {
      if (isKey(x, y)) cut(x, Y);
      if (isKey(bw - 1 - x, y)) cut(W - 1 - x, Y);
    }
  }
  if (::SetWindowRgn(m_hWnd, region.get(), FALSE)) region.release();  // the window owns it now
}

void CDlgEx::DrawSkin(HDC dc, int W, int H, HDC src, int bw, int bh) {
  const int c = m_nBorder;
  const int t = m_nTitleHeight;
  auto copy = [&](int x, int y, int w, int h, int sx, int sy) { ::BitBlt(dc, x, y, w, h, src, sx, sy, SRCCOPY); };
  auto stretch = [&](int x, int y, int w, int h, int sx, int sy, int sw, int sh) {
    ::StretchBlt(dc, x, y, w, h, src, sx, sy, sw, sh, SRCCOPY);
  };
  ::SetStretchBltMode(dc, COLORONCOLOR);
  if (t < 0) {
    copy(0, 0, c, c, 0, 0);
    stretch(c, 0, W - 2 * c, c, c, 0, bw - 2 * c, c);
    copy(W - c, 0, c, c, bw - c, 0);
    stretch(0, c, c, H - 2 * c, 0, c, c, bh - 2 * c);
    stretch(W - c, c, c, H - 2 * c, bw - c, c, c, bh - 2 * c);
    stretch(c, c, W - 2 * c, H - 2 * c, c, c, bw - 2 * c, bh - 2 * c);
  } else {
    copy(0, 0, c, t, 0, 0);
    const int tile = bw - 2 * c;
    const std::vector<int> tiles = TitleTilePositions(W, bw, c);
    if (tiles.empty()) {
      // A skin too narrow to tile (no middle column): stretch what there is.
      stretch(c, 0, W - 2 * c, t, std::min(c, std::max(bw - 1, 0)), 0, std::max(tile, 1), t);
    } else {
      for (int x : tiles) copy(x, 0, tile, t, c, 0);
    }
    copy(W - c, 0, c, t, bw - c, 0);
    stretch(0, t, c, H - t - c, 0, t, c, bh - t - c);
    stretch(W - c, t, c, H - t - c, bw - c, t, c, bh - t - c);
    stretch(c, t, W - 2 * c, H - t - c, c, t, bw - 2 * c, bh - t - c);
  }
  copy(0, H - c, c, c, 0, bh - c);
  stretch(c, H - c, W - 2 * c, c, c, bh - c, bw - 2 * c, c);
  copy(W - c, H - c, c, c, bw - c, bh - c);
}

bool CDlgEx::PaintSkin(HDC dc) {
  const RECT wr = WindowRect();
  const int W = wr.right - wr.left;
  const int H = wr.bottom - wr.top;
  if (!m_bmpBack || W <= 0 || H <= 0) return false;
  base::UniqueMemoryDC mem(::CreateCompatibleDC(dc));
  base::UniqueHBitmap canvas(::CreateCompatibleBitmap(dc, W, H));
  if (!mem || !canvas) return false;
  base::ScopedSelectObject selectCanvas(mem.get(), canvas.get());

  BITMAP bm = {};
  ::GetObjectW(m_bmpBack.get(), sizeof(bm), &bm);
  {
    base::UniqueMemoryDC skin(::CreateCompatibleDC(dc));
    base::ScopedSelectObject selectSkin(skin.get(), m_bmpBack.get());
    DrawSkin(mem.get(), W, H, skin.get(), bm.bmWidth, bm.bmHeight);
  }

  int iconWidth = 0;
  HICON icon = SmallIcon();
  if (icon && m_bShowIcon) {
    const int y = m_nTitleHeight == -1 ? 6 : (m_nTitleHeight - 15) / 2;
    ::DrawIconEx(mem.get(), m_nBorder, y, icon, 16, 16, 0, nullptr, DI_NORMAL);
    iconWidth = 16;
  }

  if (m_bShowTitle) {
    const int saved = ::SaveDC(mem.get());
    ::SetBkMode(mem.get(), TRANSPARENT);
    ::SetTextColor(mem.get(), m_crTitleText);
    LOGFONTW lf = {};
    HFONT dialogFont = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    if (dialogFont) ::GetObjectW(dialogFont, sizeof(lf), &lf);
    lf.lfHeight = -12;
    lf.lfWeight = m_nTitleWeight;
    lstrcpynW(lf.lfFaceName, L"微软雅黑", LF_FACESIZE);
    base::UniqueHFont font(::CreateFontIndirectW(&lf));
    if (font) ::SelectObject(mem.get(), font.get());
    int q = (m_nTitleHeight - 11) / 2;
    if (q < 0) q = 6;
    const int len = ::GetWindowTextLengthW(m_hWnd);
    std::wstring title(static_cast<size_t>(len) + 1, L'\0');
    const int got = ::GetWindowTextW(m_hWnd, &title[0], len + 1);
    ::TextOutW(mem.get(), m_nBorder + m_nTitleTextOffset + iconWidth + 5, q - 2, title.c_str(), got > 0 ? got : 0);
    ::RestoreDC(mem.get(), saved);  // deselects the font before it is deleted
  }

  ::BitBlt(dc, 0, 0, W, H, mem.get(), 0, 0, SRCCOPY);
  return true;
}

LRESULT CDlgEx::HitTest(POINT screen) {
  POINT p = screen;
  ::ScreenToClient(m_hWnd, &p);
  const RECT client = ClientRect();
  const int w = client.right;
  const int h = client.bottom;
  const int c = m_nBorder;
  if (m_bResizable) {
    if (p.x >= 0 && p.x < c) {
      if (p.y >= 0 && p.y < c) return HTTOPLEFT;
      if (p.y >= h - c && p.y < h) return HTBOTTOMLEFT;
      return HTLEFT;
    }
    if (p.x >= w - c && p.x < w) {
      if (p.y >= 0 && p.y < c) return HTTOPRIGHT;
      if (p.y >= h - c && p.y < h) return HTBOTTOMRIGHT;
      return HTRIGHT;
    }
    if (p.y >= 0 && p.y < 3) return HTTOP;
    if (p.y >= 0 && p.y < m_nTitleHeight) return HTCAPTION;
    if (m_nTitleHeight == -1) return HTCAPTION;
    if (p.y >= h - c && p.y < h) return HTBOTTOM;
    return DefaultProc(WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
  }
  if (p.y >= 0 && p.y < m_nTitleHeight) return HTCAPTION;
  if (m_nTitleHeight == -1) return HTCAPTION;
  return DefaultProc(WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
}

void CDlgEx::LayoutTitleButtons(int clientWidth) {
  int x = clientWidth - m_nBtnRightMargin;
  for (CBtnEx* button : {&m_btnClose, &m_btnMax, &m_btnMin}) {
    if (!button->m_hWnd) continue;
    RECT rc = button->WindowRect();
    POINT topLeft = {rc.left, rc.top};
    ::ScreenToClient(m_hWnd, &topLeft);
    const int bw = rc.right - rc.left;
    ::SetWindowPos(button->m_hWnd, nullptr, x - bw, topLeft.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::GetWindowRect(button->m_hWnd, &button->m_rcWindow);
    x -= bw + m_nBtnGap;
  }
}

bool CDlgEx::OnCommand(WORD id, WORD code, HWND control) {
  switch (id) {
    case kCloseCommand:
      PostClose();
      return true;
    case kMaximizeCommand:
      ToggleMaximize();
      return true;
    case kMinimizeCommand:
      PostMinimize();
      return true;
    default:
      return app::CDialog::OnCommand(id, code, control);
  }
}

bool CDlgEx::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (msg) {
    case WM_ERASEBKGND:
      *result = PaintSkin(reinterpret_cast<HDC>(wParam)) ? TRUE : FALSE;
      return true;
    case WM_NCHITTEST:
      if (m_bMaximized) return false;
      *result = HitTest({static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      return true;
    case WM_NCLBUTTONDOWN: {
      const POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      m_ptNcClick = p;
      if (wParam >= HTLEFT && wParam <= HTBOTTOMRIGHT) {
        ::SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_SIZE + (wParam - HTLEFT + 1), MAKELPARAM(p.x, p.y));
      } else {
        DefaultProc(msg, wParam, lParam);  // HTCAPTION: the system's move loop
      }
      if (m_hWnd) ::GetWindowRect(m_hWnd, &m_rcRestore);
      *result = 0;
      return true;
    }
    case WM_NCLBUTTONDBLCLK:
      if (wParam == HTCAPTION && m_bResizable) {
        ToggleMaximize();
        *result = 0;
        return true;
      }
      return false;
    case WM_LBUTTONDBLCLK: {
      const int y = static_cast<short>(HIWORD(lParam));
      if (m_bMaximized && ((y >= 0 && y < m_nTitleHeight) || m_nTitleHeight == -1)) ToggleMaximize();
      return false;
    }
    case WM_SIZE:
      if (m_bmpBack) {
        BuildSkinRegion();
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
        LayoutTitleButtons(static_cast<short>(LOWORD(lParam)));
      }
      *result = 0;
      return true;
    default:
      return app::CDialog::OnMessage(msg, wParam, lParam, result);
  }
}

}  // namespace ui
