// The launcher's application object. One run is one call of InitInstance,
// which picks the run mode and does that mode's work in a fixed order; it
// always returns FALSE, so no message loop runs and the process ends after
// ExitInstance.
//
// The class lives below the subsystems that are handed it (deploy, update,
// telemetry use its members), while its start-up sequence calls them all: so
// InitInstance, ExitInstance and their helpers, with the constructor and
// destructor (which place the class's virtual table beside them), are defined
// at the top in core/ZuduvizApp_win.cpp; StartProgram is defined here and
// SendPing with the pings in telemetry/Ping_win.cpp.
#pragma once

#include <windows.h>

#include <optional>

#include "app/AppBase.h"
#include "base/FixedText.h"
#include "base/UniqueHandle.h"
#include "ui/ClientUpdDlg.h"
#include "ui/GdiplusSession.h"
#include "release/PatchOffer.h"
#include "release/SignedRelease.h"

class CZuduvizApp : public app::CWinAppBase {
 public:
  CZuduvizApp();
  ~CZuduvizApp() override;

  // How long a run waits at most for the install, update or uninstall ping
  // to finish before it goes on; the ping is then left to end with the process.
  static constexpr unsigned kPingWaitSeconds = 10;

  BOOL InitInstance() override;
  int ExitInstance() override;

  // Starts |path| (at most 260 characters), or this executable when null, as
  // a new process without arguments at idle priority. Failure is silent.
  void StartProgram(const wchar_t* path);

  // Hands |url| (at most 511 characters, in the caller's buffer) to a new
  // ping worker and returns 1 once the worker has copied it; the buffer may
  // then be reused. m_hDoneEvent is set when the request has finished.
  // Defined with the pings in telemetry/Ping_win.cpp.
  int SendPing(const wchar_t* url);

 private:
  // The update gate of the shortcut and installed modes: true when an update
  // was offered and allowed, which ends the run (after a swap the new
  // launcher has been started).
  bool RunUpdateGate();
  // Statistics, the activity ping and the game start of a playing run.
  void RunActivity();
  // Waits for the ping worker to finish its request, at most
  // kPingWaitSeconds: a statistics server that does not answer must not keep
  // the player from the game. True when the request has finished.
  bool WaitForPing();
  // Starts the detached thread that deletes the previous launcher's copies.
  void StartOldCopyCleanup();

 public:
  // GDI+ for the run: started once the update gate is passed, shut down by
  // ExitInstance (the session holds the start-up's token).
  std::optional<ui::GdiplusSession> m_gdiplusToken;
  // The update window, shown while a newer launcher is downloaded.
  update::CClientUpdDlg m_updateDlg;
  // Download address of a newer launcher, filled by the update check.
  wchar_t m_updAddr[base::kUrlChars] = {};
  // The version key the update server published with m_updAddr; the
  // download's own version key must equal it in full before it may replace
  // the launcher.
  wchar_t m_updKey[64] = {};
  // What the signed configuration promised of that download (its SHA-256);
  // filled only by a build that carries an update key.
  update::SignedRelease m_updRelease;
  // Days a keyed launcher has had no valid update configuration, when more
  // than the maker's setting (else 0): sent with the activity ping.
  unsigned m_updFrozenDays = 0;
  // The patches to that launcher the configuration offers, by the launcher
  // file each applies to.
  update::PatchOffers m_updPatches;
  // Manual-reset events of the worker hand-over: set once a worker has
  // copied its argument, and once a ping's request has finished.
  base::UniqueHandle m_hTakenEvent;
  base::UniqueHandle m_hDoneEvent;
};

extern CZuduvizApp theApp;
