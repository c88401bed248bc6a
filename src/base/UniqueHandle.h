// Move-only ownership of Win32 handles, in the manner of WIL's unique_any and
// Chromium's ScopedHandle (WIL itself does not build with this MinGW).
//
// A Traits type names the handle type, its invalid value and how to close it:
//
//   struct Traits {
//     using Type = HANDLE;
//     static Type Invalid();
//     static void Close(Type);
//   };
//
// Declare owners in the order the handles are opened: C++ destroys locals in
// reverse order, which closes them in reverse order of opening on every path.
#pragma once

#include <windows.h>
#include <wininet.h>
#include <shlobj.h>

#include <cstdio>
#include <utility>

namespace base {

template <typename Traits>
class UniqueAny {
 public:
  using Type = typename Traits::Type;

  UniqueAny() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueAny(Type value) noexcept : value_(value) {}
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  ~UniqueAny() { reset(); }

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Closes the held handle (if any) and takes ownership of |value|.
  void reset(Type value = Traits::Invalid()) noexcept {
    Type old = value_;
    value_ = value;
    if (old != Traits::Invalid()) Traits::Close(old);
  }

  // Gives up ownership without closing.
  Type release() noexcept {
    Type old = value_;
    value_ = Traits::Invalid();
    return old;
  }

  // For out-parameters of creating calls: closes what is held first.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_;
};

namespace traits {

// Kernel objects whose creating calls return null on failure (events,
// processes, threads, mappings).
struct Kernel {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};

// File handles: CreateFileW and CreateToolhelp32Snapshot report failure
// with INVALID_HANDLE_VALUE, not null.
struct File {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};

struct Find {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::FindClose(h); }
};

struct RegKey {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::RegCloseKey(h); }
};

struct Internet {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::InternetCloseHandle(h); }
};

template <typename T>
struct GdiObject {
  using Type = T;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::DeleteObject(h); }
};

// Memory device contexts from CreateCompatibleDC (window DCs are released
// with ReleaseDC and use WindowDC below).
struct MemoryDC {
  using Type = HDC;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::DeleteDC(h); }
};

struct LocalMemory {
  using Type = HLOCAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::LocalFree(h); }
};

// C runtime streams (fopen, _wfopen).
struct StdFile {
  using Type = std::FILE*;
  static Type Invalid() { return nullptr; }
  static void Close(Type f) { std::fclose(f); }
};

}  // namespace traits

using UniqueHandle = UniqueAny<traits::Kernel>;
using UniqueFile = UniqueAny<traits::File>;
using UniqueFind = UniqueAny<traits::Find>;
using UniqueStdFile = UniqueAny<traits::StdFile>;
using UniqueHKey = UniqueAny<traits::RegKey>;
using UniqueInternet = UniqueAny<traits::Internet>;
using UniqueHFont = UniqueAny<traits::GdiObject<HFONT>>;
using UniqueHBitmap = UniqueAny<traits::GdiObject<HBITMAP>>;
using UniqueHRgn = UniqueAny<traits::GdiObject<HRGN>>;
using UniqueMemoryDC = UniqueAny<traits::MemoryDC>;
using UniqueLocal = UniqueAny<traits::LocalMemory>;

// A window DC from GetDC, released with ReleaseDC against its window.
class UniqueWindowDC {
 public:
  explicit UniqueWindowDC(HWND hwnd) noexcept : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
  UniqueWindowDC(const UniqueWindowDC&) = delete;
  UniqueWindowDC& operator=(const UniqueWindowDC&) = delete;
  ~UniqueWindowDC() {
    if (dc_) ::ReleaseDC(hwnd_, dc_);
  }
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// COM interface pointer: Release on destruction.
template <typename I>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  I* get() const noexcept { return p_; }
  I* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (p_) {
      I* old = p_;
      p_ = nullptr;
      old->Release();
    }
  }
  I** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  // QueryInterface into another owner; |out| is untouched on failure.
  template <typename J>
  HRESULT As(REFIID iid, ComPtr<J>* out) const noexcept {
    J* q = nullptr;
    HRESULT hr = p_ ? p_->QueryInterface(iid, reinterpret_cast<void**>(&q)) : E_POINTER;
    if (SUCCEEDED(hr)) {
      out->reset();
      *out->put() = q;
    }
    return hr;
  }

 private:
  I* p_ = nullptr;
};

// Selects a GDI object into a DC and restores the previous one on scope exit;
// restores nothing when the selection failed.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ obj) noexcept : dc_(dc), old_(dc && obj ? ::SelectObject(dc, obj) : nullptr) {}
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
  ~ScopedSelectObject() {
    if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
  }
  bool ok() const noexcept { return old_ && old_ != HGDI_ERROR; }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// CoInitialize for one operation; CoUninitialize only when it succeeded
// (S_FALSE, already initialised on this thread, also needs the balancing call).
class ScopedCoInitialize {
 public:
  ScopedCoInitialize() noexcept : hr_(::CoInitialize(nullptr)) {}
  ScopedCoInitialize(const ScopedCoInitialize&) = delete;
  ScopedCoInitialize& operator=(const ScopedCoInitialize&) = delete;
  ~ScopedCoInitialize() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  bool ok() const noexcept { return SUCCEEDED(hr_); }
  HRESULT result() const noexcept { return hr_; }

 private:
  HRESULT hr_;
};

}  // namespace base
