// Helpers of the skinned-window tests: the launcher's own resources (its
// executable loaded as a data file), modal dialogs run on a second thread,
// and reading back pixels and window geometry.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "app/Dialog.h"
#include "app/Window.h"

namespace skin_test {

// The launcher's executable beside the test program holds the dialog
// templates and skin images; windows load them from there.
inline HMODULE LauncherResources() {
  static HMODULE module = [] {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    dir.resize(dir.find_last_of(L'\\') + 1);
    HMODULE m = ::LoadLibraryExW((dir + L"Tavrel_Launcher.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!m) m = ::LoadLibraryExW((dir + L"..\\Tavrel_Launcher.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    app::SetResourceInstance(m);
    return m;
  }();
  return module;
}

// Runs |body| (a modal dialog) on a thread of its own.
class ModalThread {
 public:
  explicit ModalThread(std::function<INT_PTR()> body) : m_body(std::move(body)) {
    m_thread = ::CreateThread(nullptr, 0, &ModalThread::Main, this, 0, &m_threadId);
  }
  ~ModalThread() {
    if (m_thread) {
      Join(10000);
      ::CloseHandle(m_thread);
    }
  }
  DWORD threadId() const { return m_threadId; }

  // The thread's visible dialog (class #32770), waited for up to |ms|.
  HWND WaitForDialog(DWORD ms = 15000) const {
    for (DWORD waited = 0; waited < ms; waited += 20) {
      HWND found = nullptr;
      ::EnumThreadWindows(
          m_threadId,
          [](HWND hwnd, LPARAM lp) -> BOOL {
            wchar_t cls[16] = {};
            ::GetClassNameW(hwnd, cls, 16);
            if (::IsWindowVisible(hwnd) && wcscmp(cls, L"#32770") == 0) {
              *reinterpret_cast<HWND*>(lp) = hwnd;
              return FALSE;
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&found));
      if (found) return found;
      if (::WaitForSingleObject(m_thread, 20) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
  }

  // Waits up to |ms| for the dialog to end; true when it did.
  bool Join(DWORD ms) { return ::WaitForSingleObject(m_thread, ms) == WAIT_OBJECT_0; }
  bool Running() const { return ::WaitForSingleObject(m_thread, 0) == WAIT_TIMEOUT; }
  INT_PTR result() const { return m_result; }

 private:
  static DWORD WINAPI Main(void* p) {
    auto* self = static_cast<ModalThread*>(p);
    self->m_result = self->m_body();
    return 0;
  }
  std::function<INT_PTR()> m_body;
  HANDLE m_thread = nullptr;
  DWORD m_threadId = 0;
  INT_PTR m_result = -2;
};

// The dialog object bound to |hwnd| by the window layer.
template <typename T>
T* DialogObject(HWND hwnd) {
  return dynamic_cast<T*>(reinterpret_cast<app::CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER)));
}

// A button click as the mouse makes it, posted to the button.
inline void Click(HWND button) {
  RECT rc = {};
  ::GetClientRect(button, &rc);
  const LPARAM at = MAKELPARAM(rc.right / 2, rc.bottom / 2);
  ::PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::PostMessageW(button, WM_LBUTTONUP, 0, at);
}

// A key press posted to the focus window of the dialog's thread (the path a
// real key takes: through the modal loop's IsDialogMessage).
inline void PressKey(HWND dialog, UINT vk) {
  GUITHREADINFO gui = {sizeof(gui)};
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &gui);
  HWND target = gui.hwndFocus ? gui.hwndFocus : dialog;
  ::PostMessageW(target, WM_KEYDOWN, vk, 1);
  ::PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

// A 32-bit top-down pixel buffer of |width| × |height| with a DC drawing into it.
class Canvas {
 public:
  Canvas(int width, int height) : m_width(width), m_height(height) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    m_dc = ::CreateCompatibleDC(nullptr);
    m_bitmap = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0);
    m_old = ::SelectObject(m_dc, m_bitmap);
  }
  ~Canvas() {
    ::SelectObject(m_dc, m_old);
    ::DeleteObject(m_bitmap);
    ::DeleteDC(m_dc);
  }
  HDC dc() const { return m_dc; }
  // 0x00RRGGBB like a DIB pixel.
  unsigned Pixel(int x, int y) const {
    ::GdiFlush();
    return m_bits[y * m_width + x] & 0xFFFFFF;
  }

 private:
  int m_width, m_height;
  HDC m_dc = nullptr;
  HBITMAP m_bitmap = nullptr;
  HGDIOBJ m_old = nullptr;
  unsigned* m_bits = nullptr;
};

// Pixel (x, y) of a 32-bit DIB section (as LoadResourceImage makes them).
inline unsigned DibPixel(HBITMAP bitmap, int x, int y) {
  DIBSECTION ds = {};
  if (::GetObjectW(bitmap, sizeof(ds), &ds) != sizeof(ds) || !ds.dsBm.bmBits) return 0xFFFFFFFF;
  const int h = ds.dsBm.bmHeight;
  const int row = ds.dsBmih.biHeight > 0 ? h - 1 - y : y;
  ::GdiFlush();
  return static_cast<const unsigned*>(ds.dsBm.bmBits)[row * ds.dsBm.bmWidth + x];
}

}  // namespace skin_test
