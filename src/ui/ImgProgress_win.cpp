#include "ui/ImgProgress.h"

#include <commctrl.h>

#include <cwchar>
#include <utility>

#include "ui/BtnEx.h"

namespace ui {

namespace {

constexpr COLORREF kKey = RGB(255, 0, 255);

SIZE BitmapSize(HBITMAP bitmap) {
  BITMAP bm = {};
  if (!bitmap || !::GetObjectW(bitmap, sizeof(bm), &bm)) return {0, 0};
  return {bm.bmWidth, bm.bmHeight};
}

}  // namespace

BOOL CImgProgress::SetImages(base::UniqueHBitmap track, base::UniqueHBitmap fill) {
  m_hTrack = std::move(track);
  m_hFill = std::move(fill);
  const SIZE t = BitmapSize(m_hTrack.get());
  const SIZE f = BitmapSize(m_hFill.get());
  if (m_hWnd)
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, t.cx, t.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  m_rcBar = {0, 0, t.cx, t.cy};
  const int dx = (t.cx - f.cx) / 2;
  const int dy = (t.cy - f.cy) / 2;
  m_rcFill = {dx, dy, dx + f.cx, dy + f.cy};
  return TRUE;
}

ProgressFill CImgProgress::CurrentFill() const {
  if (!m_hWnd) return {};
  const int position = static_cast<int>(::SendMessageW(m_hWnd, PBM_GETPOS, 0, 0));
  PBRANGE range = {};
  ::SendMessageW(m_hWnd, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
  return ComputeProgressFill(position, range.iLow, range.iHigh, BitmapSize(m_hFill.get()).cx);
}

void CImgProgress::Paint(HDC target) {
  const int w = m_rcBar.right - m_rcBar.left;
  const int h = m_rcBar.bottom - m_rcBar.top;
  if (w <= 0 || h <= 0) return;
  base::UniqueMemoryDC mem(::CreateCompatibleDC(target));
  base::UniqueHBitmap canvas(::CreateCompatibleBitmap(target, w, h));
  if (!mem || !canvas) return;
  base::ScopedSelectObject selectCanvas(mem.get(), canvas.get());

  PaintParentBackground(m_hWnd, mem.get());

  base::UniqueMemoryDC images(::CreateCompatibleDC(target));
  if (images && m_hTrack) {
    base::ScopedSelectObject select(images.get(), m_hTrack.get());
    ::TransparentBlt(mem.get(), 0, 0, w, h, images.get(), 0, 0, w, h, kKey);
  }
  const ProgressFill fill = CurrentFill();
  if (images && m_hFill && fill.width > 0) {
    base::ScopedSelectObject select(images.get(), m_hFill.get());
    const int L = m_rcFill.left;
    const int T = m_rcFill.top;
    const int FH = m_rcFill.bottom - m_rcFill.top;
    // TransparentBlt fails on zero-sized pieces (a one-pixel fill has no
    // left piece), so those are skipped.
    if (fill.leftWidth > 0)
      ::TransparentBlt(mem.get(), L, T, fill.leftWidth, FH, images.get(), 0, 0, fill.leftWidth, FH, kKey);
    if (fill.rightWidth > 0)
      ::TransparentBlt(mem.get(), L + fill.leftWidth, T, fill.rightWidth, FH, images.get(), fill.rightSourceX, 0,
                       fill.rightWidth, FH, kKey);
  }

  if (m_bShowPercent) {
    PBRANGE range = {};
    ::SendMessageW(m_hWnd, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    const int position = static_cast<int>(::SendMessageW(m_hWnd, PBM_GETPOS, 0, 0));
    wchar_t text[8] = {};
    std::swprintf(text, 8, L"%d%%", ProgressPercent(position, range.iLow, range.iHigh));
    ::SetTextColor(mem.get(), m_crPercent);
    ::SetBkMode(mem.get(), TRANSPARENT);
    RECT bar = m_rcBar;
    ::DrawTextW(mem.get(), text, -1, &bar, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }

  ::BitBlt(target, 0, 0, w, h, mem.get(), 0, 0, SRCCOPY);
}

bool CImgProgress::OnMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT* result) {
  switch (msg) {
    case WM_ERASEBKGND:
      *result = TRUE;
      return true;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = wParam ? reinterpret_cast<HDC>(wParam) : ::BeginPaint(m_hWnd, &ps);
      if (dc) Paint(dc);
      if (!wParam) ::EndPaint(m_hWnd, &ps);
      *result = 0;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace ui
