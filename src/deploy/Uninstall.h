// Uninstallation, after the player has confirmed it: the registry key, the
// shortcuts and, through the self-delete script, the installed launcher's
// files go; a running game is ended; the uninstallation is counted and
// reported; the player is told.
#pragma once

class CZuduvizApp;

namespace deploy {

// The player's closing notice: the removal is done, some files go when the
// program has exited or the computer restarts.
constexpr const wchar_t* kUninstallDoneMessage =
    L"OrlixDuskmere已成功移除，部分文件将在程序退出\r\n或计算机重启后自行删除";

// In this order: deletes HKEY_LOCAL_MACHINE\Software\Orlix\Tavrel\Tavrel with
// its subkeys (in the machine keys' 32-bit view), removes the shortcuts, starts the self-delete script (only for
// a launcher running from the install folder), ends the game, counts the
// uninstallation (StatUnInst), hands the uninstall ping to a worker through
// |app|.SendPing and shows the closing notice. Each step's failure is silent
// and the next one still runs. Returns the notice's button; |app|'s
// m_hDoneEvent is set once the ping's request has finished.
int RunUninstall(CZuduvizApp& app);

}  // namespace deploy
