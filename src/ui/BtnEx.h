// The launcher's push button: owner-drawn from a four-frame image strip
// (normal, hover, pressed, disabled) over its parent's skin, with an optional
// centred caption and tooltip. Hover comes from the system's mouse tracking.
#pragma once

#include <windows.h>

#include <string>

#include "app/Window.h"

namespace ui {

enum ButtonFrame : int { FrameNormal = 0, FrameHover = 1, FramePressed = 2, FrameDisabled = 3 };

class CBtnEx : public app::CWnd {
 public:
  CBtnEx() = default;
  ~CBtnEx() override;

  // Creates a BUTTON child of |parent| and binds it (PreSubclassWindow).
  bool Create(const wchar_t* text, DWORD style, const RECT& rect, HWND parent, UINT id);
  // Copies |strip| (four frames side by side; magenta transparent) into the
  // button's image list; with |resize| the button becomes one frame large.
  // The caller keeps |strip|.
  BOOL SetImageStrip(HBITMAP strip, BOOL resize);
  // Creates the button with its right edge at |right| and its top at |top|,
  // one frame of |strip| large.
  BOOL CreateRightAligned(int right, int top, HBITMAP strip, UINT id, HWND parent);
  void SetToolTipText(const wchar_t* text);
  void SetText(const wchar_t* text) { m_strText = text ? text : L""; }

  // The frame DrawItem picks for |itemState| (ODS_ flags); sets the pressed
  // latch when it picks the pressed frame.
  int ChooseFrame(UINT itemState);

  BOOL m_bTracking = FALSE;
  BOOL m_bHover = FALSE;
  RECT m_rcWindow = {};
  std::wstring m_strText;
  COLORREF m_crText = 0;
  app::CImageList m_imageList;
  BOOL m_bPressedLatch = FALSE;
  BOOL m_bHandCursor = FALSE;
  BOOL m_bToolTip = FALSE;
  app::CToolTipCtrl m_toolTip;
  std::wstring m_strToolTip;
  // The frame drawn last, for tests and diagnostics; -1 before any drawing.
  int m_nLastFrame = -1;

 protected:
  void PreSubclassWindow() override;
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  // Relays mouse messages to the tooltip (MFC relays from its message loop;
  // here the button's own window procedure sees them first).
  virtual void PreTranslateMessage(const MSG& msg);
  virtual void DrawItem(const DRAWITEMSTRUCT& item);

 private:
  void ReadWindowRect();
};

// Paints |child|'s part of its parent's skin into |dc| (an off-screen context
// of the child's size): the parent erases into |dc| with the origin moved to
// the child's offset in the parent window. Leaves |dc| with the identity
// mapping.
void PaintParentBackground(HWND child, HDC dc);

}  // namespace ui
