// The skinned dialog base: a borderless modal dialog painted from one small
// background bitmap (corners kept, edges and body stretched, the title band
// tiled), outlined by the bitmap's transparent corner pixels, dragged by its
// title band, with its title text drawn in a fixed font and a skinned close
// button at the top right. Minimise, maximise and resizable edges are part of
// the class but stay off in the launcher's two windows.
#pragma once

#include <windows.h>

#include "app/Dialog.h"
#include "base/UniqueHandle.h"
#include "ui/BtnEx.h"

namespace ui {

constexpr UINT kCloseCommand = 50000;
constexpr UINT kMinimizeCommand = 50001;
constexpr UINT kMaximizeCommand = 50002;

class CDlgEx : public app::CDialog {
 public:
  CDlgEx(UINT templateId, HWND parent);
  ~CDlgEx() override;

  // Takes |background| over; |closeStrip| stays the caller's (the close
  // button copies it into its image list).
  BOOL SetSkin(base::UniqueHBitmap background, HBITMAP closeStrip);
  void SetTitle(const wchar_t* text);

  virtual void PostClose();
  virtual void PostMinimize();
  virtual BOOL ToggleMaximize();
  virtual void UpdateMaxButton(BOOL maximized);

  // Paints the whole skin into |dc| at its current origin; false when there
  // is no background.
  bool PaintSkin(HDC dc);

  BOOL m_bShowTitle = TRUE;
  BOOL m_bShowIcon = TRUE;
  BOOL m_bMaximized = FALSE;
  int m_nTitleTextOffset = 0;
  POINT m_ptNcClick = {0, 0};
  CBtnEx m_btnClose;
  CBtnEx m_btnMin;
  CBtnEx m_btnMax;
  int m_nTitleHeight = -1;
  int m_nBtnRightMargin = 5;
  int m_nBtnTop = 1;
  int m_nBtnGap = 0;
  int m_nBorder = 3;
  COLORREF m_crTitleText = RGB(255, 255, 255);
  int m_nTitleWeight = FW_NORMAL;
  base::UniqueHBitmap m_bmpBack;
  int m_nMaxWidth = 1440;
  int m_nMaxHeight = 900;
  RECT m_rcRestore = {};
  BOOL m_bResizable = FALSE;
  BOOL m_bSkinStretch = FALSE;
  base::UniqueHBitmap m_bmpMaxBtn;
  base::UniqueHBitmap m_bmpRestoreBtn;

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnCommand(WORD id, WORD code, HWND control) override;

  // Gives the window the region of its rectangle minus the background's
  // key-coloured corner pixels.
  void BuildSkinRegion();
  void DrawSkin(HDC dc, int width, int height, HDC skinDc, int skinWidth, int skinHeight);
  LRESULT HitTest(POINT screen);
  void LayoutTitleButtons(int clientWidth);
  HICON SmallIcon() const;
};

}  // namespace ui
