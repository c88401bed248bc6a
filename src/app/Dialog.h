// Modal dialogs from templates (MFC's CDialog): one static dialog procedure
// attaches the object at WM_INITDIALOG (the object comes in as the creation
// parameter and is kept in the window's DWLP_USER slot) and detaches it at
// WM_NCDESTROY; messages go to the virtual OnMessage handlers.
#pragma once

#include <windows.h>

#include "app/Window.h"

namespace app {

class CDialog : public CWnd {
 public:
  CDialog(UINT templateId, HWND parent);
  ~CDialog() override;

  // Runs the dialog from ResourceInstance()'s template; returns the code
  // given to EndDialog, or -1 when the dialog could not be created.
  virtual INT_PTR DoModal();
  void EndDialog(INT_PTR result);
  // Centres the window on its visible owner, else on the work area of its
  // monitor (CWnd::CenterWindow).
  void CenterWindow();

  UINT templateId() const { return m_nTemplateId; }

 protected:
  // WM_INITDIALOG: binds the template's controls (DoDataExchange); TRUE lets
  // the system set the focus.
  virtual BOOL OnInitDialog();
  // Binds template controls to objects with DDX_Control.
  virtual void DoDataExchange() {}
  // Enter (IDOK) and Escape (IDCANCEL) end the dialog unless overridden.
  virtual void OnOK();
  virtual void OnCancel();
  // WM_COMMAND from a control or a menu; true when handled.
  virtual bool OnCommand(WORD id, WORD code, HWND control);

  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  // The system's handling of a message the dialog procedure takes over.
  LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

  // Binds control |id| of the dialog to |control| by subclassing it.
  bool DDX_Control(int id, CWnd& control);

  UINT m_nTemplateId;
  HWND m_hParent;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

}  // namespace app
