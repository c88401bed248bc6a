// The skinned message box: a CDlgEx sized to its message, with one or two
// skinned buttons whose end codes are those of the system's message box.
#pragma once

#include <windows.h>

#include <string>

#include "ui/DlgEx.h"

namespace ui {

constexpr UINT kFirstButtonId = 5000;
constexpr UINT kSecondButtonId = 5001;

class CMessageBox : public CDlgEx {
 public:
  explicit CMessageBox(HWND parent = nullptr);
  ~CMessageBox() override;

  // Takes the images over and stores the texts (null texts count as empty).
  void SetContent(base::UniqueHBitmap background, base::UniqueHBitmap closeStrip, base::UniqueHBitmap firstStrip,
                  base::UniqueHBitmap secondStrip, const wchar_t* message, const wchar_t* caption, int style,
                  const wchar_t* firstCaption, const wchar_t* secondCaption);

  base::UniqueHBitmap m_hBack;  // handed on to the dialog base by SetSkin
  base::UniqueHBitmap m_hClose;
  base::UniqueHBitmap m_hBtn1;
  base::UniqueHBitmap m_hBtn2;
  std::wstring m_strMessage;
  std::wstring m_strCaption;
  int m_nStyle = 0;
  int m_nLines = 1;
  HFONT m_pFont = nullptr;  // the dialog's font; not owned
  COLORREF m_crMsgText = 0;
  std::wstring m_strBtn1;
  std::wstring m_strBtn2;
  CBtnEx m_btn1;
  CBtnEx m_btn2;

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override {}
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  void PaintMessage();
  SIZE MeasureMessage(HDC dc) const;
};

// Runs one box with the given images and texts; returns the end code, -1
// when the dialog could not be created.
int RunMessageBox(base::UniqueHBitmap background, base::UniqueHBitmap closeStrip, base::UniqueHBitmap firstStrip,
                  base::UniqueHBitmap secondStrip, const wchar_t* message, const wchar_t* caption, int style,
                  const wchar_t* firstCaption, const wchar_t* secondCaption);

}  // namespace ui
