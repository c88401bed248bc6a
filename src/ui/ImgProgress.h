// A standard progress control painted from two images of the same shape: the
// track (empty bar) and the fill. The filled length is made of the fill
// image's left end and right end meeting in the middle, so it always shows
// both rounded caps. Position and range stay the control's own (PBM_*).
#pragma once

#include <windows.h>

#include "app/Window.h"
#include "base/UniqueHandle.h"
#include "ui/SkinMath.h"

namespace ui {

class CImgProgress : public app::CWnd {
 public:
  CImgProgress() = default;
  ~CImgProgress() override = default;

  // Takes both images over and sizes the control to the track.
  BOOL SetImages(base::UniqueHBitmap track, base::UniqueHBitmap fill);

  // The fill pieces for the control's current position and range.
  ProgressFill CurrentFill() const;

  base::UniqueHBitmap m_hTrack;
  base::UniqueHBitmap m_hFill;
  RECT m_rcBar = {};
  RECT m_rcFill = {};
  BOOL m_bShowPercent = FALSE;
  COLORREF m_crPercent = 0xFFFFFFFF;

 protected:
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void Paint(HDC target);
};

}  // namespace ui
