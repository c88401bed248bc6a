#include "core/RunMode.h"

#include <cwchar>

#include "base/FixedText.h"

namespace core {

int RunModeFromSwitch(const wchar_t* firstArgument) {
  struct Entry {
    const wchar_t* text;
    RunMode mode;
  };
  static const Entry kSwitches[] = {
      {kSwitchWebStart, ModeWebStart},
      {kSwitchShortcut, ModeShortcut},
      {kSwitchUninstall, ModeUninstall},
      {kSwitchNewGame, ModeNewGame},
  };
  if (!firstArgument) return -1;
  for (const Entry& e : kSwitches) {
    if (base::EqualsIgnoreAsciiCase(firstArgument, e.text)) return e.mode;
  }
  return -1;
}

RunMode RunModeFromLocation(const wchar_t* exePathUpper, const wchar_t* makerFolderUpper) {
  if (!exePathUpper || !makerFolderUpper || !makerFolderUpper[0]) return ModeFirstRun;
  return std::wcsstr(exePathUpper, makerFolderUpper) ? ModeInstalled : ModeFirstRun;
}

}  // namespace core
