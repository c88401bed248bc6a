#include "ui/ClientUpdDlg.h"

#include <utility>

#include "app/Window.h"
#include "resources/resource.h"
#include "ui/ResourceImage.h"

namespace update {

CClientUpdDlg::CClientUpdDlg(HWND parent) : ui::CDlgEx(IDD_UPDATE, parent) {}

CClientUpdDlg::~CClientUpdDlg() {
  // A transfer must never outlive the window it reports to.
  CancelDownload(&m_download);
}

void CClientUpdDlg::DoDataExchange() { DDX_Control(kUpdateProgressId, m_progress); }

BOOL CClientUpdDlg::OnInitDialog() {
  ui::CDlgEx::OnInitDialog();
  m_nTitleHeight = 30;
  m_nBorder = 4;
  m_nBtnRightMargin = 0;
  m_nBtnTop = 0;
  m_nBtnGap = 0;
  SetTitle(L"OrlixDuskmere,微端版本更新中...");

  HMODULE module = app::ResourceInstance();
  base::UniqueHBitmap closeStrip = ui::LoadResourceImage(module, IDB_SKIN_CLOSE);
  SetSkin(ui::LoadResourceImage(module, IDB_SKIN_DIALOG), closeStrip.get());
  // The close button has copied the strip into its image list.
  closeStrip.reset();

  CenterWindow();
  ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

  base::UniqueHBitmap fill = ui::LoadResourceImage(module, IDB_SKIN_FILL);
  base::UniqueHBitmap track = ui::LoadResourceImage(module, IDB_SKIN_TRACK);
  m_progress.SetImages(std::move(track), std::move(fill));

  m_bTransferRunning = StartDownload(&m_download, this);
  // Threads that could not be started end the window at once, as a failed
  // download does.
  if (!m_bTransferRunning) ::PostMessageW(m_hWnd, kTransferEndedMessage, IDCANCEL, 0);
  return TRUE;
}

void CClientUpdDlg::TransferEnded(int endCode) {
  // Watcher thread: never wait for the window's thread here.
  ::PostMessageW(m_hWnd, kTransferEndedMessage, static_cast<WPARAM>(endCode), 0);
}

void CClientUpdDlg::OnCancel() {
  const bool cancelled = CancelDownload(&m_download);
  // A transfer that ended by itself has its end code on the way; the window
  // ends with that code instead of IDCANCEL.
  if (!cancelled && m_bTransferRunning) return;
  m_bTransferRunning = false;
  app::CDialog::OnCancel();
}

bool CClientUpdDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (msg == kTransferEndedMessage) {
    m_bTransferRunning = false;
    EndDialog(wParam == IDOK ? IDOK : IDCANCEL);
    *result = 0;
    return true;
  }
  if (msg == WM_CLOSE) {
    // A system close request (the close button's SC_CLOSE, Alt+F4) cancels.
    OnCancel();
    *result = 0;
    return true;
  }
  return ui::CDlgEx::OnMessage(msg, wParam, lParam, result);
}

}  // namespace update
