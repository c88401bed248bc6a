// The launcher's one message box: every text the player sees goes through it.
#pragma once

namespace ui {

enum MessageBoxStyle : int {
  MessageBoxOk = 0,     // one OK button
  MessageBoxYesNo = 4,  // Yes and No buttons
};

// Shows |text| in the skinned box, modally, with |caption| as its title.
// |firstCaption| and |secondCaption|, when not empty, replace the button
// captions. Returns the identifier of the pressed button like the system's
// MessageBox: 1 (OK), 2 (closed), 6 (Yes), 7 (No).
int ShowMessageBox(const wchar_t* text, const wchar_t* caption, int style, const wchar_t* firstCaption,
                   const wchar_t* secondCaption);

}  // namespace ui
