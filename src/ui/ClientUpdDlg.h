// The update window: a small skinned window with a title, a close button and
// an image progress bar, shown while a newer launcher is downloaded. The
// transfer and watcher threads of the HTTP client do the work and report to
// the window through DownloadSink; a close or cancel runs the client's cancel.
#pragma once

#include <windows.h>

#include "ui/DlgEx.h"
#include "ui/ImgProgress.h"
#include "http/HttpClient.h"

namespace update {

constexpr int kUpdateProgressId = 1003;

class CClientUpdDlg : public ui::CDlgEx, public DownloadSink {
 public:
  explicit CClientUpdDlg(HWND parent = nullptr);
  ~CClientUpdDlg() override;

  // The owner fills m_download.url and m_download.targetPath, then calls
  // DoModal: IDOK when the file was downloaded completely, IDCANCEL when the
  // download failed or was cancelled, -1 when the window could not be made.

  ui::CImgProgress m_progress;
  DownloadState m_download;

  // DownloadSink, called from the transfer and watcher threads.
  HWND UpdateWindow() override { return m_hWnd; }
  HWND ProgressControl() override { return m_progress.m_hWnd; }
  void TransferEnded(int endCode) override;

 protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override;
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  // Posted by the watcher thread with the end code in wParam: the modal loop
  // is ended on the window's own thread.
  static constexpr UINT kTransferEndedMessage = WM_APP + 0x31;
  // Set while a started transfer has not yet reported its end (window thread).
  bool m_bTransferRunning = false;
};

}  // namespace update
