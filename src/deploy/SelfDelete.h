// Removing the installed launcher's own files: a hidden batch script in the
// temporary folder outlives the launcher, deletes its executable once the
// process has ended, then empties and removes the install folder and itself.
//
// The script is narrow text. Its file and command line use the system ANSI
// code page (GetTempPathA, GetTempFileNameA, CreateFileA, CreateProcessA); its
// text uses the OEM code page, which is how cmd reads batch files (Windows
// and Wine's cmd alike). A path that either code page cannot hold exactly is
// replaced by its short (8.3) form when that one fits, else the script is
// refused: a lossy conversion turns characters into '?', which del takes as
// a wildcard.
#pragma once

#include <cstddef>
#include <string>

namespace deploy {

// Appends |text| (without its terminator) to the file |path|, creating the
// file when missing. Returns the number of bytes written, or -1 when the
// file cannot be opened, its end not reached or the write fails; the last
// error is then the failing call's.
long AppendTextToFile(const char* text, const char* path);

// |text| in code page |codePage|, only when every character converts and
// back exactly (no best-fit letters, no '?' for what the page lacks).
bool ToCodePageExact(unsigned codePage, const std::wstring& text, std::string* out);

// |path| itself when code page |codePage| holds it exactly, else its short
// (8.3) form when that one does (for a path that does not exist yet, its
// folder's short form and its own name). False when neither fits.
bool PathForCodePage(unsigned codePage, const std::wstring& path, std::wstring* usable);

// True when |a| and |b| name the same folder: compared in their long forms,
// without regard to case.
bool IsSameFolder(const std::wstring& a, const std::wstring& b);

// The OEM-code-page script text that deletes |launcherPath| and its folder
// |launcherFolder| and then |scriptPath|, into |text| (kSelfDeleteScriptBytes
// including the terminator). False, with |text| untouched, when a path cannot
// be written exactly or the text would not fit.
bool BuildSelfDeleteScriptText(const std::wstring& launcherPath, const std::wstring& launcherFolder,
                               const std::wstring& scriptPath, char* text, std::size_t textBytes);

// Writes the script to a new file named by GetTempFileNameA (prefix
// "DelSelf") with ".bat" appended, and starts it hidden at idle priority.
// Only a launcher running from the install folder removes anything: started
// from any other folder it writes no script and deletes nothing. Returns
// true when the script was started; |scriptPath|, when given, receives its
// narrow path.
bool StartSelfDelete(std::string* scriptPath = nullptr);

}  // namespace deploy
