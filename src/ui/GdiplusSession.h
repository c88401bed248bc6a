// One start-up of GDI+ held for a scope: GdiplusShutdown runs only when the
// start-up succeeded, so a failed start-up leaves the library's count alone.
// The library counts nested start-ups; the application holds one for its
// whole run and the image loader brackets each load with another.
#pragma once

#include <windows.h>

namespace ui {

class GdiplusSession {
 public:
  GdiplusSession() noexcept;
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

  bool ok() const noexcept { return m_token != 0; }

 private:
  ULONG_PTR m_token = 0;
};

}  // namespace ui
