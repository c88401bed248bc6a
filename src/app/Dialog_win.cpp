#include "app/Dialog.h"

namespace app {

CDialog::CDialog(UINT templateId, HWND parent) : m_nTemplateId(templateId), m_hParent(parent) {}

CDialog::~CDialog() {
  // A dialog still open here (never in a modal run) is closed without its
  // procedure reaching this object again.
  if (m_hWnd) {
    ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
    ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
  }
}

INT_PTR CDialog::DoModal() {
  if (m_hWnd) return -1;
  return ::DialogBoxParamW(ResourceInstance(), MAKEINTRESOURCEW(m_nTemplateId), m_hParent, &CDialog::DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CDialog::CenterWindow() {
  if (!m_hWnd) return;
  RECT area = {};
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
    ::GetWindowRect(owner, &area);
  } else {
    MONITORINFO mi = {sizeof(mi)};
    if (::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &mi)) area = mi.rcWork;
    else ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT wr = {};
  ::GetWindowRect(m_hWnd, &wr);
  const int w = wr.right - wr.left;
  const int h = wr.bottom - wr.top;
  ::SetWindowPos(m_hWnd, nullptr, area.left + (area.right - area.left - w) / 2, area.top + (area.bottom - area.top - h) / 2,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::EndDialog(INT_PTR result) {
  if (m_hWnd) ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog() {
  DoDataExchange();
  return TRUE;
}

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnCommand(WORD id, WORD, HWND) {
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

bool CDialog::DDX_Control(int id, CWnd& control) {
  if (control.m_hWnd) return true;
  return control.SubclassDlgItem(id, m_hWnd);
}

LRESULT CDialog::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  // DefDlgProc would call this dialog procedure again; what it does for the
  // messages the dialog takes over is DefWindowProc's handling.
  return ::DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

bool CDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (msg) {
    case WM_COMMAND:
      if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))) {
        *result = 0;
        return true;
      }
      return false;
    case WM_DRAWITEM: {
      // Owner-drawn controls draw themselves (MFC's reflection).
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      CWnd* control = item ? CWnd::FromHandlePermanent(item->hwndItem) : nullptr;
      if (control && control->OnChildNotify(kReflectDrawItem, wParam, lParam, result)) {
        *result = TRUE;
        return true;
      }
      return false;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (!header) return false;
      // Tooltip text requests of whole-window tools name the tool window in
      // idFrom; others name the sending control.
      HWND from = header->hwndFrom;
      if (header->code == TTN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        if (info->uFlags & TTF_IDISHWND) from = reinterpret_cast<HWND>(header->idFrom);
      }
      CWnd* control = CWnd::FromHandlePermanent(from);
      return control && control->OnChildNotify(kReflectNotify, wParam, lParam, result);
    }
    default:
      return false;
  }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialog*>(lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->m_hWnd = hwnd;
    RECT before = {};
    ::GetWindowRect(hwnd, &before);
    const BOOL result = self->OnInitDialog();
    // Like MFC after WM_INITDIALOG: a dialog that did not place itself is
    // centred (the templates carry no DS_CENTER, and their 0, 0 would put it
    // in the screen's corner).
    RECT after = {};
    if (self->m_hWnd && ::GetWindowRect(hwnd, &after) && after.left == before.left && after.top == before.top)
      self->CenterWindow();
    return result;
  }
  auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self) return FALSE;  // messages before WM_INITDIALOG: the system's handling
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    return FALSE;
  }
  LRESULT result = 0;
  if (!self->OnMessage(msg, wParam, lParam, &result)) return FALSE;
  ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace app
