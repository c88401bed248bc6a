#include "app/Window.h"

namespace app {

namespace {

HINSTANCE g_resourceInstance = nullptr;

// One subclass of this layer per window; the id tells it apart from others
// (a tooltip's own TTF_SUBCLASS, for instance).
constexpr UINT_PTR kSubclassId = 0x4F524C58;  // "ORLX"

// The bound object is also kept in a window property, so a parent can find
// it: MinGW-w64's comctl32 import library lacks GetWindowSubclass (comctl32
// exports it by name only from version 6, by ordinal 411 before).
constexpr wchar_t kObjectProperty[] = L"Orlix.CWnd";

}  // namespace

HINSTANCE ResourceInstance() { return g_resourceInstance ? g_resourceInstance : ::GetModuleHandleW(nullptr); }

void SetResourceInstance(HINSTANCE module) { g_resourceInstance = module; }

CWnd::~CWnd() {
  // A window still bound here would call into a dead object: let it go first.
  if (m_hWnd) UnsubclassWindow();
}

bool CWnd::SubclassWindow(HWND hwnd) {
  if (m_hWnd || !hwnd || !::IsWindow(hwnd)) return false;
  if (!::SetWindowSubclass(hwnd, &CWnd::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) return false;
  m_hWnd = hwnd;
  ::SetPropW(hwnd, kObjectProperty, this);
  PreSubclassWindow();
  return true;
}

bool CWnd::SubclassDlgItem(int id, HWND parent) { return SubclassWindow(::GetDlgItem(parent, id)); }

void CWnd::UnsubclassWindow() {
  if (!m_hWnd) return;
  ::RemoveWindowSubclass(m_hWnd, &CWnd::SubclassProc, kSubclassId);
  ::RemovePropW(m_hWnd, kObjectProperty);
  m_hWnd = nullptr;
}

void CWnd::DestroyWindow() {
  if (!m_hWnd) return;
  // WM_NCDESTROY clears m_hWnd through SubclassProc.
  ::DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  return hwnd ? static_cast<CWnd*>(::GetPropW(hwnd, kObjectProperty)) : nullptr;
}

RECT CWnd::WindowRect() const {
  RECT rc = {};
  if (m_hWnd) ::GetWindowRect(m_hWnd, &rc);
  return rc;
}

RECT CWnd::ClientRect() const {
  RECT rc = {};
  if (m_hWnd) ::GetClientRect(m_hWnd, &rc);
  return rc;
}

void CWnd::Invalidate(bool erase) const {
  if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, erase ? TRUE : FALSE);
}

bool CWnd::OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

LRESULT CWnd::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::DefSubclassProc(m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR refData) {
  CWnd* self = reinterpret_cast<CWnd*>(refData);
  if (msg == WM_NCDESTROY) {
    // The documented place to remove a subclass: the window's last message.
    ::RemoveWindowSubclass(hwnd, &CWnd::SubclassProc, kSubclassId);
    ::RemovePropW(hwnd, kObjectProperty);
    if (self->m_hWnd == hwnd) self->m_hWnd = nullptr;
    return ::DefSubclassProc(hwnd, msg, wParam, lParam);
  }
  LRESULT result = 0;
  if (msg >= kReflectBase && msg < kReflectBase + WM_USER) {
    if (self->OnChildNotify(msg, wParam, lParam, &result)) return result;
    return 0;
  }
  if (self->OnMessage(msg, wParam, lParam, &result)) return result;
  return ::DefSubclassProc(hwnd, msg, wParam, lParam);
}

// ---- CToolTipCtrl -------------------------------------------------------------

namespace {

// A whole-window tool (TTF_IDISHWND) of |tool|'s parent. The record's size is
// that of its Windows 2000 form: accepted by every comctl32 version, with or
// without the version 6 manifest.
TTTOOLINFOW WholeWindowTool(HWND tool, const wchar_t* text) {
  TTTOOLINFOW ti = {};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.uFlags = TTF_IDISHWND;
  ti.hwnd = ::GetParent(tool);
  ti.uId = reinterpret_cast<UINT_PTR>(tool);
  ti.lpszText = const_cast<wchar_t*>(text);
  return ti;
}

}  // namespace

bool CToolTipCtrl::Create(HWND owner, DWORD style) {
  if (m_window) return true;
  m_window.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | style, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr));
  return m_window.valid();
}

bool CToolTipCtrl::AddTool(HWND tool, const wchar_t* text) {
  if (!m_window) return false;
  TTTOOLINFOW ti = WholeWindowTool(tool, text);
  return ::SendMessageW(m_window.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)) != 0;
}

void CToolTipCtrl::UpdateTipText(HWND tool, const wchar_t* text) {
  if (!m_window) return;
  TTTOOLINFOW ti = WholeWindowTool(tool, text);
  ::SendMessageW(m_window.get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::SetDelayTime(DWORD which, int milliseconds) {
  if (m_window) ::SendMessageW(m_window.get(), TTM_SETDELAYTIME, which, MAKELPARAM(milliseconds, 0));
}

void CToolTipCtrl::RelayEvent(const MSG& msg) {
  if (m_window) ::SendMessageW(m_window.get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

// ---- CImageList -----------------------------------------------------------------

bool CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
  m_list.reset(::ImageList_Create(cx, cy, flags, initial, grow));
  return m_list.valid();
}

int CImageList::AddMasked(HBITMAP bitmap, COLORREF mask) {
  if (!m_list || !bitmap) return -1;
  return ::ImageList_AddMasked(m_list.get(), bitmap, mask);
}

bool CImageList::GetImageInfo(int index, IMAGEINFO* info) const {
  return m_list && ::ImageList_GetImageInfo(m_list.get(), index, info);
}

bool CImageList::Draw(HDC dc, int index, int x, int y, UINT style) const {
  return m_list && ::ImageList_Draw(m_list.get(), index, dc, x, y, style);
}

int CImageList::GetImageCount() const { return m_list ? ::ImageList_GetImageCount(m_list.get()) : 0; }

}  // namespace app
