#include "deploy/SelfDeleteScript.h"

namespace deploy {

std::wstring EscapeBatchPath(const std::wstring& path) {
  std::wstring out;
  out.reserve(path.size());
  for (wchar_t c : path) {
    out += c;
    if (c == L'%') out += L'%';
  }
  return out;
}

std::wstring FormatSelfDeleteScript(const std::wstring& launcherPath, const std::wstring& launcherFolder,
                                    const std::wstring& scriptPath) {
  const std::wstring exe = L"\"" + EscapeBatchPath(launcherPath) + L"\"";
  const std::wstring folder = L"\"" + EscapeBatchPath(launcherFolder) + L"\"";
  const std::wstring script = L"\"" + EscapeBatchPath(scriptPath) + L"\"";
  const wchar_t* eol = L"\r\n";

  std::wstring text;
  // From the drive root, so that cmd's current folder does not keep the
  // launcher's folder in use.
  text += L"cd\\" + std::wstring(eol);
  // Both counters start here: the launcher is often gone at the first try,
  // and that path jumps straight to :delfolder.
  text += L"set /a tries=0" + std::wstring(eol);
  text += L"set /a rdtries=0" + std::wstring(eol);
  text += L":delexe" + std::wstring(eol);
  text += L"ping -n 2 127.0.0.1 >nul" + std::wstring(eol);
  // /F: a read-only launcher would otherwise keep the loop going.
  text += L"del /F /A " + exe + eol;
  text += L"if not exist " + exe + L" goto delfolder" + eol;
  text += L"set /a tries+=1" + std::wstring(eol);
  text += L"if %tries% lss " + std::to_wstring(kSelfDeleteAttempts) + L" goto delexe" + eol;
  text += L":delfolder" + std::wstring(eol);
  text += L"del " + folder + L" /Q /F /A" + eol;
  // rd /S does not follow junctions (del /S would) and removes read-only files.
  text += L"rd /S /Q " + folder + eol;
  // A process that is still ending (the game just ended by the uninstall)
  // may hold the folder for a moment: try again, for at most a minute.
  text += L"if not exist " + folder + L" goto done" + eol;
  text += L"set /a rdtries+=1" + std::wstring(eol);
  text += L"ping -n 2 127.0.0.1 >nul" + std::wstring(eol);
  text += L"if %rdtries% lss " + std::to_wstring(kFolderDeleteAttempts) + L" goto delfolder" + eol;
  text += L":done" + std::wstring(eol);
  text += L"del " + script + eol;
  return text;
}

}  // namespace deploy
