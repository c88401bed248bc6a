// Where the launcher keeps its files and registry values, and the small
// file-system functions that build and test paths.
//
// Every path lives in a 260-character buffer (MAX_PATH, terminator included),
// and the functions that fill one take it by reference to that array type, so
// that the compiler holds every caller to the size. A path that would not fit is
// refused with a failure result, never cut.
#pragma once

#include <cstddef>

#include "base/FixedText.h"

namespace layout {

using base::kPathChars;

// Folders, relative to the shell folders they hang off.
constexpr const wchar_t* kOrlixSubFolder = L"\\Orlix";              // under local app data
constexpr const wchar_t* kGameLoginSubFolder = L"\\GameLogin";      // under "\Orlix"
constexpr const wchar_t* kMakerSubPath = L"\\Orlix\\GameLogin";     // under local app data
constexpr const wchar_t* kInstallSubFolder = L"\\Tavrel";           // under the maker folder
constexpr const wchar_t* kStartMenuGroup = L"\\Orlix登录器";         // under the programs folder
constexpr const wchar_t* kDumpSubPath = L"\\Orlix\\dump\\";         // under the documents folder

// Files.
constexpr const wchar_t* kLauncherExeName = L"Tavrel_Launcher.exe";
constexpr const wchar_t* kGameExeName = L"tavr_online.exe";
constexpr const wchar_t* kUploaderExeName = L"BugReport.exe";
constexpr const wchar_t* kPackageFileName = L"tavrelair.zip";
constexpr const wchar_t* kStatisticsSubPath = L"\\Orlix\\GameLogin\\Statistic.ini";  // under local app data
constexpr const wchar_t* kSettingsFileName = L"GsZuduviz.ini";
constexpr const wchar_t* kUpdateConfigFileName = L"ConfigTavrel.htm";
constexpr const wchar_t* kNewLauncherFileName = L"NewTavrel.exe";
constexpr const wchar_t* kOldLauncherTmpFileName = L"OldTavrel.exe.tmp";
constexpr const wchar_t* kOldLauncherFileName = L"OldTavrel.exe";
constexpr const wchar_t* kGameShortcutName = L"OrlixDuskmere.lnk";
constexpr const wchar_t* kUninstallShortcutName = L"卸载 OrlixDuskmere.lnk";
constexpr const wchar_t* kPortalShortcutName = L"Orlix网页游戏.lnk";
constexpr const char* kSelfDeletePrefix = "DelSelf";

// Registry (machine keys under HKEY_LOCAL_MACHINE, the device key under
// HKEY_CURRENT_USER). Every read, write and deletion of a machine key asks
// for the registry's 32-bit view, kMachineKeyView: that is where the shipped
// 32-bit launcher lands on 64-bit Windows anyway (HKLM\Software goes to
// WOW6432Node) and where the maker's other 32-bit programs read
// "DisableDays"; the x86_64 build asking for it keeps both builds on the
// same keys. 32-bit Windows has one view and ignores the flag.
// HKEY_CURRENT_USER\Software is shared by both views: the device key needs none.
constexpr unsigned long kMachineKeyView = 0x0200;  // KEY_WOW64_32KEY
constexpr const wchar_t* kDisableDaysKey = L"Software\\Orlix\\GameLogin\\Tavrel";
constexpr const wchar_t* kDisableDaysValue = L"DisableDays";
constexpr const wchar_t* kUninstallKey = L"Software\\Orlix\\Tavrel\\Tavrel";
constexpr const wchar_t* kDeviceIdKey = L"Software\\Orlix\\ZezudEdezod";

// Statistics file section and settings file keys.
constexpr const wchar_t* kStatisticsSection = L"Tavrel";
constexpr const wchar_t* kSettingsSection = L"Update";
constexpr const wchar_t* kAutoUpdateKey = L"autoUpd";

// The running executable's path, or its folder joined with |fileName| (no
// leading backslash). Returns 1, or 0 with |out| empty when the path holds no
// backslash or the result would not fit.
int GetExeFolderPath(wchar_t (&out)[kPathChars], const wchar_t* fileName);

// The part of |path| before its last backslash or, with none, its last
// forward slash, into |out|. Returns 0 for a null path, a path without a
// separator, or a part that does not fit; |out| is then untouched.
int GetFolderPart(const wchar_t* path, wchar_t (&out)[kPathChars]);
// Only tests |path| for a separator: 1 when it has one.
int GetFolderPart(const wchar_t* path);

// Creates |path| and every missing parent. Returns 0 for a null path or one
// shorter than 4 characters (a drive root), else 1; the creating calls' own
// results are not looked at.
int CreateDirectoryTree(const wchar_t* path);

// Number of files in the whole tree under |folder|, folders not counted, plus
// 1 for every subtree that cannot be listed (also one whose path would not
// fit). 0 for a null or empty path.
int CountFiles(const wchar_t* folder);

// 1 when |path| exists and is a folder.
int IsDirectory(const wchar_t* path);

// 1 when |path| exists and is not a folder.
int FileExists(const wchar_t* path);

// Folder builders. Each returns true with |out| filled, or false with |out|
// untouched when the shell folder is unavailable or the result would not fit.
bool GetLocalAppDataFolder(wchar_t (&out)[kPathChars]);  // CSIDL_LOCAL_APPDATA
bool GetMakerFolder(wchar_t (&out)[kPathChars]);         // ...\Orlix\GameLogin
bool GetInstallFolder(wchar_t (&out)[kPathChars]);       // ...\Orlix\GameLogin\Tavrel
bool GetInstallFilePath(wchar_t (&out)[kPathChars], const wchar_t* fileName);  // install folder\fileName
bool GetStatisticsFilePath(wchar_t (&out)[kPathChars]);  // ...\Orlix\GameLogin\Statistic.ini
bool GetDesktopFolder(wchar_t (&out)[kPathChars]);       // CSIDL_DESKTOPDIRECTORY
bool GetStartMenuGroupFolder(wchar_t (&out)[kPathChars]);  // CSIDL_PROGRAMS\Orlix登录器
bool GetDumpFolderPath(wchar_t (&out)[kPathChars]);      // CSIDL_PERSONAL\Orlix\dump\ (trailing backslash)

// Creates "\Orlix", "\GameLogin" and "\Tavrel" under local app data, one
// level at a time, ignoring "already exists"; the second form also gives the
// install folder's path.
bool EnsureInstallFolder();
bool EnsureInstallFolder(wchar_t (&installFolder)[kPathChars]);

}  // namespace layout
