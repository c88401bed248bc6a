#include "ui/MessageBox.h"

#include "app/Window.h"
#include "resources/resource.h"
#include "ui/ResourceImage.h"
#include "ui/SkinMessageBox.h"

namespace ui {

int ShowMessageBox(const wchar_t* text, const wchar_t* caption, int style, const wchar_t* firstCaption,
                   const wchar_t* secondCaption) {
  HMODULE module = app::ResourceInstance();
  HBITMAP firstStrip = LoadResourceImage(module, IDB_SKIN_BUTTON);
  HBITMAP secondStrip = LoadResourceImage(module, IDB_SKIN_BUTTON);
  HBITMAP closeStrip = LoadResourceImage(module, IDB_SKIN_CLOSE);
  HBITMAP background = LoadResourceImage(module, IDB_SKIN_DIALOG);
  return RunMessageBox(background, closeStrip, firstStrip, secondStrip, text, caption, style, firstCaption,
                       secondCaption);
}

}  // namespace ui
