// The text of the self-delete script: a batch file that waits until the
// launcher executable can be deleted (the launcher has exited), then empties
// and removes the launcher's folder and deletes itself.
#pragma once

#include <cstddef>
#include <string>

namespace deploy {

// Size of the narrow buffer the script text is written from, terminator
// included.
constexpr std::size_t kSelfDeleteScriptBytes = 2048;

// How long the script waits for the launcher to release its executable:
// one attempt a second ("ping -n 2" waits one second between its two echoes,
// on Windows and in Wine's ping alike), for at most an hour. After that it
// removes what it can and ends rather than wait hidden forever. ping is the
// delay because it exists everywhere: Wine 8 ships neither timeout.exe nor
// choice.exe, and timeout refuses to run when its input is not a console.
constexpr int kSelfDeleteAttempts = 3600;
// Attempts at removing the emptied folder, one a second.
constexpr int kFolderDeleteAttempts = 60;

// A path for a batch line: '%' doubled so that cmd does not expand it as a
// variable reference (a folder named "100%x%" stays itself). cmd takes every
// other character literally inside double quotes; '"' cannot occur in a path.
std::wstring EscapeBatchPath(const std::wstring& path);

// The script for the launcher at |launcherPath| in |launcherFolder| (its path
// up to the last backslash), written to |scriptPath|. Lines end in CR LF:
//
//   cd\                                      the folder must not be in use
//   set /a tries=0
//   set /a rdtries=0
//   :delexe
//   ping -n 2 127.0.0.1 >nul                 about one second
//   del /F /A "<launcher>"
//   if not exist "<launcher>" goto delfolder
//   set /a tries+=1
//   if %tries% lss 3600 goto delexe
//   :delfolder
//   del "<folder>" /Q /F /A                  the folder's files, any attribute
//   rd /S /Q "<folder>"                      its subfolders and the folder
//   if not exist "<folder>" goto done
//   set /a rdtries+=1
//   ping -n 2 127.0.0.1 >nul
//   if %rdtries% lss 60 goto delfolder       a moment later, for a minute
//   :done
//   del "<script>"
std::wstring FormatSelfDeleteScript(const std::wstring& launcherPath, const std::wstring& launcherFolder,
                                    const std::wstring& scriptPath);

}  // namespace deploy
