// The least window layer the launcher's skinned windows need, in the manner of
// MFC's CWnd: an object bound to one window (comctl32's subclass reference
// data carries it to the subclass procedure; a window property lets a parent
// find it), with messages dispatched to a small virtual handler. Windows made elsewhere (dialog template controls) are bound
// by subclassing them with SetWindowSubclass; windows the object creates are
// bound the same way right after creation.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/UniqueHandle.h"

namespace app {

// The module whose dialog templates and images the windows load: by default
// the program's own executable; tests point it at the launcher's executable
// loaded as a data file (like MFC's AfxSetResourceHandle).
HINSTANCE ResourceInstance();
void SetResourceInstance(HINSTANCE module);

// Reflected notifications: a parent sends these to the control that caused
// them (the OCM_ scheme of ATL and the Windows SDK's olectl.h).
constexpr UINT kReflectBase = WM_USER + 0x1C00;
constexpr UINT kReflectDrawItem = kReflectBase + WM_DRAWITEM;
constexpr UINT kReflectNotify = kReflectBase + WM_NOTIFY;

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND GetSafeHwnd() const { return m_hWnd; }

  // Binds this object to |hwnd| (a window of this thread); false when the
  // object already has a window or the subclass cannot be installed.
  bool SubclassWindow(HWND hwnd);
  // Binds to the control |id| of |parent|.
  bool SubclassDlgItem(int id, HWND parent);
  // Lets go of the window without destroying it.
  void UnsubclassWindow();
  // Destroys the window this object created or bound, if any.
  void DestroyWindow();

  // The object bound to |hwnd| through this layer, or null.
  static CWnd* FromHandlePermanent(HWND hwnd);

  // Window rectangle in screen coordinates, client size; zero when no window.
  RECT WindowRect() const;
  RECT ClientRect() const;
  void Invalidate(bool erase) const;

  HWND m_hWnd = nullptr;

 protected:
  // Called once the object is bound to its window, before any message of it
  // reaches OnMessage.
  virtual void PreSubclassWindow() {}
  // Called for every message of the window. Return true and set *result when
  // handled; false hands the message to the default handling.
  virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // Messages the parent reflects to this control (kReflectDrawItem, ...).
  virtual bool OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // The default handling of a message, from inside OnMessage.
  virtual LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam);

  friend class CDialog;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR refData);
};

namespace traits {

// A window this layer created itself (a tooltip), destroyed with its owner
// object; windows bound by subclassing are not owned this way.
struct Window {
  using Type = HWND;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::DestroyWindow(h); }
};

struct ImageList {
  using Type = HIMAGELIST;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::ImageList_Destroy(h); }
};

}  // namespace traits

using UniqueWindow = base::UniqueAny<traits::Window>;
using UniqueImageList = base::UniqueAny<traits::ImageList>;

// A tooltip control owned by one window (MFC's CToolTipCtrl).
class CToolTipCtrl {
 public:
  bool Create(HWND owner, DWORD style);
  // Registers |tool| as a whole-window tool (TTF_IDISHWND) whose text comes
  // from |text| (LPSTR_TEXTCALLBACK: asked for with TTN_GETDISPINFO).
  bool AddTool(HWND tool, const wchar_t* text);
  void UpdateTipText(HWND tool, const wchar_t* text);
  void SetDelayTime(DWORD which, int milliseconds);
  void RelayEvent(const MSG& msg);
  void Destroy() { m_window.reset(); }
  HWND hwnd() const { return m_window.get(); }

 private:
  UniqueWindow m_window;
};

// An image list (MFC's CImageList); deleted with the object.
class CImageList {
 public:
  bool Create(int cx, int cy, UINT flags, int initial, int grow);
  // Adds |bitmap| cut into frames of the list's width, |mask| transparent.
  int AddMasked(HBITMAP bitmap, COLORREF mask);
  bool GetImageInfo(int index, IMAGEINFO* info) const;
  bool Draw(HDC dc, int index, int x, int y, UINT style) const;
  int GetImageCount() const;
  void DeleteImageList() { m_list.reset(); }
  HIMAGELIST get() const { return m_list.get(); }

 private:
  UniqueImageList m_list;
};

}  // namespace app
