// The ping worker. CZuduvizApp::SendPing (appobject/ZuduvizApp.h) starts it; the
// uninstallation starts PingThread itself with the same argument and then
// waits for m_hTakenEvent and resets it, exactly as SendPing does.
#pragma once

#include <windows.h>

class CZuduvizApp;

namespace telemetry {

// Built on the starter's stack; valid only until m_hTakenEvent is set.
struct PingArgument {
  const wchar_t* url;  // at most 511 characters
  CZuduvizApp* app;    // owner of m_hTakenEvent and m_hDoneEvent
};

// Copies the URL into its own buffer, sets m_hTakenEvent, sends the request
// with HttpGetNoReply (the answer is not read) and sets m_hDoneEvent on every
// path. A URL longer than 511 characters is not sent (it would be cut).
DWORD WINAPI PingThread(void* argument);

}  // namespace telemetry
