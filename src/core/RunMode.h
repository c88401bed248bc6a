// How a run is chosen: by the first command-line argument, else by whether
// the executable lies under the maker folder.
#pragma once

namespace core {

enum RunMode : int {
  ModeFirstRun = 0,
  ModeWebStart = 1,
  ModeShortcut = 2,
  ModeInstalled = 3,
  ModeUninstall = 4,
  // 5 is never produced.
  ModeNewGame = 6,
};

constexpr const wchar_t* kSwitchWebStart = L"/webOrlixD";
constexpr const wchar_t* kSwitchShortcut = L"/TavrelD";
constexpr const wchar_t* kSwitchUninstall = L"/uninst";
constexpr const wchar_t* kSwitchNewGame = L"/newgm";

// The mode a first argument selects (ASCII letters compared without regard to
// case), or -1 when it is none of the switches.
int RunModeFromSwitch(const wchar_t* firstArgument);

// ModeInstalled when |makerFolderUpper| occurs anywhere in |exePathUpper|
// (both already upper-cased; a plain substring test), else ModeFirstRun.
RunMode RunModeFromLocation(const wchar_t* exePathUpper, const wchar_t* makerFolderUpper);

// The run mode of this process, from its command line and its location.
int GetRunMode();

}  // namespace core
