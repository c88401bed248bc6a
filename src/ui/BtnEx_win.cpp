#include "ui/BtnEx.h"

#include <commctrl.h>

#include "base/UniqueHandle.h"
#include "ui/SkinMath.h"

namespace ui {

void PaintParentBackground(HWND child, HDC dc) {
  HWND parent = ::GetParent(child);
  if (!parent) return;
  RECT self = {}, outer = {};
  ::GetWindowRect(child, &self);
  ::GetWindowRect(parent, &outer);
  const int dx = self.left - outer.left;
  const int dy = self.top - outer.top;
  ::SetWindowOrgEx(dc, dx, dy, nullptr);
  ::SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  ::SetViewportOrgEx(dc, dx, dy, nullptr);
}

CBtnEx::~CBtnEx() {
  m_toolTip.Destroy();
  DestroyWindow();
}

bool CBtnEx::Create(const wchar_t* text, DWORD style, const RECT& rect, HWND parent, UINT id) {
  if (m_hWnd) return false;
  HWND hwnd = ::CreateWindowExW(0, L"BUTTON", text ? text : L"", style, rect.left, rect.top, rect.right - rect.left,
                                rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                ::GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return false;
  if (!SubclassWindow(hwnd)) {
    ::DestroyWindow(hwnd);
    return false;
  }
  return true;
}

void CBtnEx::PreSubclassWindow() {
  const int n = ::GetWindowTextLengthW(m_hWnd);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  const int got = ::GetWindowTextW(m_hWnd, &text[0], n + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  m_strText = text;
  ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, ::GetWindowLongPtrW(m_hWnd, GWL_STYLE) | BS_OWNERDRAW);
  ReadWindowRect();
}

void CBtnEx::ReadWindowRect() {
  if (m_hWnd) ::GetWindowRect(m_hWnd, &m_rcWindow);
}

BOOL CBtnEx::SetImageStrip(HBITMAP strip, BOOL resize) {
  BITMAP bm = {};
  if (!strip || !::GetObjectW(strip, sizeof(bm), &bm)) return FALSE;
  const int frameWidth = bm.bmWidth / 4;
  const int frameHeight = bm.bmHeight;
  m_imageList.DeleteImageList();
  if (frameWidth < 1 || !m_imageList.Create(frameWidth, frameHeight, ILC_COLOR24 | ILC_MASK, 4, 0)) return FALSE;
  m_imageList.AddMasked(strip, RGB(255, 0, 255));
  if (resize && m_hWnd)
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, frameWidth, frameHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ReadWindowRect();
  return TRUE;
}

BOOL CBtnEx::CreateRightAligned(int right, int top, HBITMAP strip, UINT id, HWND parent) {
  BITMAP bm = {};
  if (!strip || !::GetObjectW(strip, sizeof(bm), &bm)) return FALSE;
  const int frameWidth = bm.bmWidth / 4;
  RECT rc = {right - frameWidth, top, right, top + bm.bmHeight};
  if (!Create(L"", WS_CHILD | WS_VISIBLE, rc, parent, id)) return FALSE;
  SetImageStrip(strip, FALSE);
  ReadWindowRect();
  return TRUE;
}

void CBtnEx::SetToolTipText(const wchar_t* text) {
  m_strToolTip = text ? text : L"";
  m_bToolTip = TRUE;
  if (!m_toolTip.hwnd() && m_hWnd) {
    if (m_toolTip.Create(m_hWnd, TTS_ALWAYSTIP)) {
      m_toolTip.AddTool(m_hWnd, LPSTR_TEXTCALLBACKW);
      m_toolTip.SetDelayTime(TTDT_AUTOMATIC, 660);
    }
  }
}

void CBtnEx::PreTranslateMessage(const MSG& msg) {
  if (m_bToolTip) m_toolTip.RelayEvent(msg);
}

int CBtnEx::ChooseFrame(UINT itemState) {
  if (itemState & (ODS_GRAYED | ODS_DISABLED)) return FrameDisabled;
  if ((itemState & ODS_SELECTED) || m_bPressedLatch) {
    m_bPressedLatch = TRUE;
    return FramePressed;
  }
  return m_bHover ? FrameHover : FrameNormal;
}

bool CBtnEx::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) {
    MSG m = {m_hWnd, msg, wParam, lParam, static_cast<DWORD>(::GetMessageTime()), {}};
    DWORD pos = ::GetMessagePos();
    m.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
    PreTranslateMessage(m);
  }
  switch (msg) {
    case WM_ERASEBKGND:
      *result = TRUE;  // DrawItem paints everything
      return true;
    case WM_MOUSEMOVE:
      if (!m_bTracking) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_HOVER | TME_LEAVE, m_hWnd, 10};
        m_bTracking = ::_TrackMouseEvent(&tme) ? TRUE : FALSE;
      }
      return false;
    case WM_MOUSEHOVER:
      m_bHover = TRUE;
      ::InvalidateRect(m_hWnd, nullptr, FALSE);
      if (m_bToolTip) m_toolTip.UpdateTipText(m_hWnd, m_strToolTip.c_str());
      *result = 0;
      return true;
    case WM_MOUSELEAVE:
      m_bHover = FALSE;
      m_bTracking = FALSE;
      ::InvalidateRect(m_hWnd, nullptr, FALSE);
      *result = 0;
      return true;
    case WM_LBUTTONUP:
      // Released off the button the control itself has nothing to redraw
      // (it left the pushed state when the pointer left), so the latched
      // pressed frame is repainted away here.
      if (m_bPressedLatch) ::InvalidateRect(m_hWnd, nullptr, FALSE);
      m_bPressedLatch = FALSE;
      return false;
    case WM_SETCURSOR:
      ::SetCursor(::LoadCursorW(nullptr, m_bHandCursor ? IDC_HAND : IDC_ARROW));
      *result = TRUE;
      return true;
    default:
      return false;
  }
}

bool CBtnEx::OnChildNotify(UINT msg, WPARAM, LPARAM lParam, LRESULT* result) {
  if (msg == app::kReflectDrawItem) {
    DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    *result = TRUE;
    return true;
  }
  if (msg == app::kReflectNotify) {
    auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
    if (info->hdr.code != TTN_GETDISPINFOW) return false;
    info->lpszText = const_cast<wchar_t*>(m_strToolTip.c_str());
    *result = 0;
    return true;
  }
  return false;
}

void CBtnEx::DrawItem(const DRAWITEMSTRUCT& item) {
  const int w = m_rcWindow.right - m_rcWindow.left;
  const int h = m_rcWindow.bottom - m_rcWindow.top;
  if (w <= 0 || h <= 0) return;
  base::UniqueMemoryDC mem(::CreateCompatibleDC(item.hDC));
  base::UniqueHBitmap canvas(::CreateCompatibleBitmap(item.hDC, w, h));
  if (!mem || !canvas) return;
  base::ScopedSelectObject selectCanvas(mem.get(), canvas.get());

  PaintParentBackground(m_hWnd, mem.get());

  const int frame = ChooseFrame(item.itemState);
  m_nLastFrame = frame;
  IMAGEINFO info = {};
  if (m_imageList.get() && m_imageList.GetImageInfo(frame, &info)) {
    const int fw = info.rcImage.right - info.rcImage.left;
    const int fh = info.rcImage.bottom - info.rcImage.top;
    if (fw == w && fh == h) {
      m_imageList.Draw(mem.get(), frame, 0, 0, ILD_TRANSPARENT);
    } else {
      // Scaled: the frame goes onto a key-coloured canvas of its own size
      // first, then TransparentBlt keeps the magenta parts out.
      base::UniqueMemoryDC frameDc(::CreateCompatibleDC(item.hDC));
      base::UniqueHBitmap frameBmp(::CreateCompatibleBitmap(item.hDC, fw, fh));
      if (frameDc && frameBmp) {
        base::ScopedSelectObject selectFrame(frameDc.get(), frameBmp.get());
        RECT fr = {0, 0, fw, fh};
        ::SetBkColor(frameDc.get(), RGB(255, 0, 255));
        ::ExtTextOutW(frameDc.get(), 0, 0, ETO_OPAQUE, &fr, nullptr, 0, nullptr);  // FillSolidRect
        m_imageList.Draw(frameDc.get(), frame, 0, 0, ILD_TRANSPARENT);
        ::TransparentBlt(mem.get(), 0, 0, w, h, frameDc.get(), 0, 0, fw, fh, RGB(255, 0, 255));
      }
    }
  }

  if (!m_strText.empty()) {
    ::SetBkMode(mem.get(), TRANSPARENT);
    ::SetTextColor(mem.get(), frame == FrameDisabled ? ::GetSysColor(COLOR_GRAYTEXT) : m_crText);
    HFONT base = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    if (!base) base = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW lf = {};
    ::GetObjectW(base, sizeof(lf), &lf);
    lf.lfHeight = -12;
    base::UniqueHFont font(::CreateFontIndirectW(&lf));
    base::ScopedSelectObject selectFont(mem.get(), font.get());
    RECT client = {};
    ::GetClientRect(m_hWnd, &client);
    ::DrawTextW(mem.get(), m_strText.c_str(), -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }

  ::BitBlt(item.hDC, 0, 0, w, h, mem.get(), 0, 0, SRCCOPY);
}

}  // namespace ui
