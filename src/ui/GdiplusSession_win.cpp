#include "ui/GdiplusSession.h"

#include "ui/GdiplusFlat.h"

namespace ui {

GdiplusSession::GdiplusSession() noexcept {
  // Version 1, no debug callback, background thread and external codecs
  // allowed: the default input.
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) m_token = token;
}

GdiplusSession::~GdiplusSession() {
  if (m_token) Gdiplus::GdiplusShutdown(m_token);
}

}  // namespace ui
