// First-run installation: the launcher copies itself into the install folder
// as "Tavrel_Launcher.exe", makes the game and uninstall shortcuts and starts
// the installed copy, which then unpacks the game. No window, no questions.
#pragma once

class CZuduvizApp;

namespace deploy {

// Installs the running launcher for the current user:
//   - makes the install folder (local app data\Orlix\GameLogin\Tavrel);
//   - sets |gamePresent| to 1 when "tavr_online.exe" already stood there as a
//     file before anything was copied, else 0 (when |gamePresent| is given);
//   - unless this executable already runs from the install folder, copies it
//     to "Tavrel_Launcher.exe" there, overwriting an earlier copy;
//   - makes the desktop and start-menu game shortcuts ("/TavrelD") and the
//     start-menu uninstall shortcut ("/uninst"), COM initialised around them;
//   - starts the installed copy through |app|.StartProgram.
// Every failure is silent (nothing is made for a missing copy). Returns 1.
int InstallLauncher(CZuduvizApp& app, int* gamePresent);

}  // namespace deploy
