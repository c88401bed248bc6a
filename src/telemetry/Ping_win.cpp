#include "telemetry/Ping.h"

#include "base/FixedText.h"
#include "appobject/ZuduvizApp.h"
#include "http/HttpClient.h"

namespace telemetry {

DWORD WINAPI PingThread(void* argument) {
  const PingArgument* ping = static_cast<const PingArgument*>(argument);
  CZuduvizApp* app = ping->app;
  wchar_t url[base::kUrlChars] = {};
  const bool copied = base::CopyText(url, ping->url);
  // The argument and the caller's buffer may be gone once this is set.
  ::SetEvent(app->m_hTakenEvent.get());
  if (copied) update::HttpGetNoReply(url);
  ::SetEvent(app->m_hDoneEvent.get());
  return 0;
}

}  // namespace telemetry

int CZuduvizApp::SendPing(const wchar_t* url) {
  // Without the hand-over event the worker could not say when it has copied
  // the URL from this caller's stack: send nothing, but let any waiter on
  // m_hDoneEvent go on.
  if (!m_hTakenEvent) {
    if (m_hDoneEvent) ::SetEvent(m_hDoneEvent.get());
    return 0;
  }
  telemetry::PingArgument argument = {url, this};
  base::UniqueHandle thread(::CreateThread(nullptr, 0, telemetry::PingThread, &argument, 0, nullptr));
  if (!thread) {
    // No worker: the ping is lost, and m_hDoneEvent would otherwise never be
    // set for the caller that waits on it without time-out.
    if (m_hDoneEvent) ::SetEvent(m_hDoneEvent.get());
    return 0;
  }
  ::WaitForSingleObject(m_hTakenEvent.get(), INFINITE);
  ::ResetEvent(m_hTakenEvent.get());
  return 1;
}
