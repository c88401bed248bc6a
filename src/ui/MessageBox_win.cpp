#include "ui/MessageBox.h"

#include <utility>

#include "app/Window.h"
#include "resources/resource.h"
#include "ui/ResourceImage.h"
#include "ui/SkinMessageBox.h"

namespace ui {

int ShowMessageBox(const wchar_t* text, const wchar_t* caption, int style, const wchar_t* firstCaption,
                   const wchar_t* secondCaption) {
  HMODULE module = app::ResourceInstance();
  base::UniqueHBitmap firstStrip = LoadResourceImage(module, IDB_SKIN_BUTTON);
  base::UniqueHBitmap secondStrip = LoadResourceImage(module, IDB_SKIN_BUTTON);
  base::UniqueHBitmap closeStrip = LoadResourceImage(module, IDB_SKIN_CLOSE);
  base::UniqueHBitmap background = LoadResourceImage(module, IDB_SKIN_DIALOG);
  return RunMessageBox(std::move(background), std::move(closeStrip), std::move(firstStrip), std::move(secondStrip),
                       text, caption, style, firstCaption, secondCaption);
}

}  // namespace ui
