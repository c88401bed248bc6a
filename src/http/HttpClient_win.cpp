// WinINet side of the HTTP client: the one-way GET of the pings, the two
// forms of the file download, and the update window's transfer and watcher
// threads with their cancel.
//
// Window form and cancel. The transfer thread, the watcher thread and the
// window's thread share the DownloadState fields without locks. A small
// TransferControl, shared by the window and both threads, carries one phase
// word instead:
//
//   Running   no worker is touching DownloadState, the file or the window
//   Touching  the transfer thread is writing a block, reporting progress or
//             publishing/closing a handle (short; never waits on the network)
//   Finishing the watcher is closing the thread handles and ending the window
//   Finished  the watcher has ended the window
//   Cancelled the window's thread has taken everything over
//
// Network calls run outside Touching, on the thread's own copies of the
// handles. Cancel swaps the phase to Cancelled; if the transfer thread was
// Touching, it waits (handling messages sent to the window's thread, since a
// progress report is a synchronous SendMessageW) until that thread notices on
// leaving and signals |left|. Then cancel closes the file and the handles
// itself. Closing a request handle that another thread is reading from is
// WinINet's way to cancel a synchronous call: on Windows the read fails at
// once. Wine's WinINet keeps the connection of an in-flight call open until
// that call returns, so under Wine the stopped thread may stay blocked in its
// read for a while; it then finds the phase Cancelled and returns without
// touching anything but its TransferControl. No thread is ever terminated.
#include "http/HttpClient.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <io.h>
#include <new>
#include <utility>

#include "product/MakerSettings.h"
#include "http/HttpUrl.h"
#include "base/UniqueHandle.h"

namespace update {

namespace {

constexpr wchar_t kUserAgent[] = L"LHL";
// The blank before the first line break is part of the fixed request.
constexpr wchar_t kExtraHeaders[] = L"Accept-Language: zh-cn \r\nContent-Type: application/x-www-form-urlencoded\r\n";
constexpr DWORD kExtraHeadersLength = sizeof(kExtraHeaders) / sizeof(kExtraHeaders[0]) - 1;
static_assert(kExtraHeadersLength == 74, "fixed header text");
constexpr DWORD kBlockBytes = 512;
constexpr int kProgressWidth = 390;
constexpr int kProgressHeight = 21;

// Set before the first progress report of the process, never cleared.
volatile LONG g_progressPlaced = 0;

HINTERNET OpenInternet() {
  return ::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
}

HINTERNET Connect(HINTERNET internet, const SplitUrl& url) {
  return ::InternetConnectW(internet, url.host, url.port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
}

// Never answered from the cache nor written to it (configurations, pings and
// programs are nobody's pages to keep), and never redirected by WinINet
// itself: a redirect could lead a download off the allow-list, and a
// redirect loop would hold the caller for as long as the server likes.
HINTERNET OpenGetRequest(HINTERNET connection, const SplitUrl& url) {
  return ::HttpOpenRequestW(connection, L"GET", url.path, L"HTTP/1.1", nullptr, nullptr,
                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT, 0);
}

// The fixed headers, and after them |moreHeaders| (a resumed download's
// range request) when given.
bool SendRequest(HINTERNET request, const wchar_t* moreHeaders = nullptr) {
  if (!moreHeaders) return ::HttpSendRequestW(request, kExtraHeaders, kExtraHeadersLength, nullptr, 0) != FALSE;
  wchar_t headers[kExtraHeadersLength + kRangeHeaderChars] = {};
  if (!base::JoinText(headers, kExtraHeaders, moreHeaders)) return false;
  return ::HttpSendRequestW(request, headers, DWORD(std::wcslen(headers)), nullptr, 0) != FALSE;
}

// The answer's status, read as text (32 bytes); false when there is none.
bool ReadStatus(HINTERNET request, unsigned* code) {
  wchar_t status[16] = {};  // 32 bytes
  DWORD size = sizeof(status);
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE, status, &size, nullptr)) return false;
  status[15] = L'\0';
  const long value = std::wcstol(status, nullptr, 10);
  *code = value > 0 ? unsigned(value) : 0;
  return true;
}

// The Location field of a redirect; false when there is none or it does not
// fit an address buffer.
bool ReadLocation(HINTERNET request, wchar_t (&location)[base::kUrlChars]) {
  DWORD size = sizeof(location) - sizeof(wchar_t);
  if (!::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &size, nullptr)) return false;
  location[base::kUrlChars - 1] = L'\0';
  return true;
}

// A header field of the answer as text; false when it is missing or does
// not fit |out| (a field that long is not used).
template <std::size_t N>
bool QueryText(HINTERNET request, DWORD field, wchar_t (&out)[N]) {
  DWORD size = sizeof(out) - sizeof(wchar_t);
  if (!::HttpQueryInfoW(request, field, out, &size, nullptr)) {
    out[0] = L'\0';
    return false;
  }
  out[N - 1] = L'\0';
  return true;
}

// The declared length; false without one (a chunked answer).
bool DeclaredLength(HINTERNET request, std::uint32_t* length) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr)) {
    return false;
  }
  if (size != sizeof(value)) return false;
  *length = value;
  return true;
}

}  // namespace

// ---- Transfer control ---------------------------------------------------------

enum TransferPhase : LONG { kRunning = 0, kTouching = 1, kFinishing = 2, kFinished = 3, kCancelled = 4 };

struct TransferControl {
  volatile LONG phase = kRunning;
  base::UniqueHandle cancelEvent;     // set by cancel: the watcher stops waiting
  base::UniqueHandle leftEvent;       // set by a worker that found a cancel on leaving Touching
  base::UniqueHandle transferThread;  // the watcher's own handle of the transfer thread
  // Read only while the phase is Touching or Finishing: a cancelled thread
  // never looks at them again.
  DownloadState* state = nullptr;
  DownloadSink* sink = nullptr;
  // Bytes received so far, counted by the transfer thread for the watcher's
  // stall bound (DownloadState::stallMs, copied here at the start).
  volatile LONG received = 0;
  DWORD stallMs = 0;
};

namespace {

// A control block with both events, or null when either cannot be made.
std::shared_ptr<TransferControl> MakeControl(DownloadState* state, DownloadSink* sink) {
  auto control = std::make_shared<TransferControl>();
  control->state = state;
  control->sink = sink;
  control->cancelEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  control->leftEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!control->cancelEvent || !control->leftEvent) return nullptr;
  return control;
}

// A thread's share of the control block travels as its start parameter: a
// heap copy of the shared pointer, taken over by the thread (TakeControl), or
// by the starter again when the thread could not be made (DropControl).
void* GiveControl(const std::shared_ptr<TransferControl>& control) {
  return new (std::nothrow) std::shared_ptr<TransferControl>(control);
}

std::shared_ptr<TransferControl> TakeControl(void* parameter) {
  auto* share = static_cast<std::shared_ptr<TransferControl>*>(parameter);
  std::shared_ptr<TransferControl> control = std::move(*share);
  delete share;
  return control;
}

void DropControl(void* parameter) { TakeControl(parameter); }

// Starts |body| suspended with a share of |control|; null when the thread
// (or its share) could not be made.
base::UniqueHandle StartSuspended(LPTHREAD_START_ROUTINE body, const std::shared_ptr<TransferControl>& control) {
  void* share = GiveControl(control);
  if (!share) return base::UniqueHandle();
  base::UniqueHandle thread(::CreateThread(nullptr, 0, body, share, CREATE_SUSPENDED, nullptr));
  if (!thread) DropControl(share);
  return thread;
}

// How the shared download core reaches its fields: the window form through
// the transfer control's phase, the configuration form directly.
class TransferGuard {
 public:
  explicit TransferGuard(TransferControl* control) : control_(control) {}
  // Begins touching the shared fields; false once cancelled.
  bool Enter() {
    return !control_ || ::InterlockedCompareExchange(&control_->phase, kTouching, kRunning) == kRunning;
  }
  // Ends it; false when a cancel came meanwhile (the canceller is told).
  bool Leave() {
    if (!control_ || ::InterlockedCompareExchange(&control_->phase, kRunning, kTouching) == kTouching) return true;
    ::SetEvent(control_->leftEvent.get());
    return false;
  }
  // The update window's transfer: allow-list check of the address, progress.
  bool windowForm() const { return control_ != nullptr && control_->sink != nullptr; }
  // Counts received bytes for the watcher's stall bound.
  void Received(DWORD bytes) {
    if (control_) ::InterlockedExchangeAdd(&control_->received, LONG(bytes));
  }
  DownloadSink* sink() const { return control_->sink; }

 private:
  TransferControl* control_;
};

// Moves the progress bar to the middle of the window before the first report
// of the process, then sends the percentage synchronously.
void ReportProgress(DownloadSink* sink, unsigned percent) {
  HWND progress = sink->ProgressControl();
  if (::InterlockedExchange(&g_progressPlaced, 1) == 0) {
    RECT client = {};
    if (::GetClientRect(sink->UpdateWindow(), &client)) {
      const int width = client.right - client.left;
      const int height = client.bottom - client.top;
      ::MoveWindow(progress, (width - kProgressWidth) / 2, (height - kProgressHeight) / 2 + 10, kProgressWidth,
                   kProgressHeight, TRUE);
    }
  }
  ::SendMessageW(progress, PBM_SETPOS, percent, 0);
}

// Hands a freshly obtained handle to its field, which owns it from then on
// (the caller keeps a borrowed copy for its network calls); when the
// transfer was cancelled first, the handle closes here instead.
bool Publish(TransferGuard& guard, base::UniqueInternet* field, HINTERNET handle) {
  base::UniqueInternet owned(handle);
  if (!guard.Enter()) return false;
  *field = std::move(owned);
  return guard.Leave();
}

enum class Outcome { kCancelled, kFailed, kComplete };

// Closes the request and connection handles of one answer (a redirect's),
// so the next request can take their fields.
bool CloseAnswerHandles(TransferGuard& guard, DownloadState* slots) {
  if (!guard.Enter()) return false;
  slots->hRequest.reset();
  slots->hConnect.reset();
  return guard.Leave();
}

// Ends the transfer: records the outcome and closes the handles that are
// still open.
Outcome Finish(TransferGuard& guard, DownloadState* slots, DownloadFailure failure) {
  if (!guard.Enter()) return Outcome::kCancelled;
  slots->result = failure == DownloadFailure::kNone ? 1 : 0;
  slots->failure = failure;
  slots->hRequest.reset();
  slots->hConnect.reset();
  slots->hInternet.reset();
  if (!guard.Leave()) return Outcome::kCancelled;
  return failure == DownloadFailure::kNone ? Outcome::kComplete : Outcome::kFailed;
}

// The download core shared by both forms. |slots| holds the URL, the target
// path, the stream and the three WinINet handles; in the window form it is
// the window's DownloadState and is touched only between Enter and Leave.
// Returns kCancelled when the transfer was cancelled: the caller then must
// not touch anything.
Outcome RunDownload(DownloadState* slots, TransferGuard& guard) {
  wchar_t url[base::kUrlChars] = {};
  PartialDownload partial;
  if (!guard.Enter()) return Outcome::kCancelled;
  const bool copied = base::CopyText(url, slots->url);
  const std::uint32_t expectedSize = slots->expectedSize;
  partial = slots->partial;
  if (!guard.Leave()) return Outcome::kCancelled;
  // Kept bytes are asked for only with a validator that can guard them.
  wchar_t rangeHeaders[kRangeHeaderChars] = {};
  if (partial.from.offset != 0 && !FormatRangeHeaders(partial.from, rangeHeaders)) partial.from = ResumePoint();

  SplitUrl split;
  if (!copied || !HasHttpPrefix(url) || !SplitHttpUrl(url + 7, &split)) {
    return Finish(guard, slots, DownloadFailure::kBadAddress);
  }
  if (guard.windowForm() && !IsAllowedDownloadHost(url, maker::kAllowedDomains, 3)) {
    return Finish(guard, slots, DownloadFailure::kHostNotAllowed);
  }

  // Local copies for the network calls; the fields are what cancel closes.
  HINTERNET internet = OpenInternet();
  if (!Publish(guard, &slots->hInternet, internet)) return Outcome::kCancelled;
  if (!internet) return Finish(guard, slots, DownloadFailure::kNoAnswer);

  HINTERNET request = nullptr;
  unsigned status = 0;
  for (int redirects = 0;; ++redirects) {
    HINTERNET connection = Connect(internet, split);
    if (!Publish(guard, &slots->hConnect, connection)) return Outcome::kCancelled;
    request = connection ? OpenGetRequest(connection, split) : nullptr;
    if (!Publish(guard, &slots->hRequest, request)) return Outcome::kCancelled;
    if (!request || !SendRequest(request, partial.from.offset ? rangeHeaders : nullptr) ||
        !ReadStatus(request, &status)) {
      return Finish(guard, slots, DownloadFailure::kNoAnswer);
    }
    if (!IsRedirectStatus(status)) break;

    // Followed here, before a byte is written: only to an "http://" address
    // whose host is on the allow-list, and only so many times in a row.
    if (redirects == kMaxRedirects) return Finish(guard, slots, DownloadFailure::kTooManyRedirects);
    wchar_t location[base::kUrlChars] = {};
    wchar_t next[base::kUrlChars] = {};
    if (!ReadLocation(request, location) || !ResolveRedirect(url, location, next) ||
        !IsAllowedDownloadHost(next, maker::kAllowedDomains, 3) || !SplitHttpUrl(next + 7, &split)) {
      return Finish(guard, slots, DownloadFailure::kRedirectRefused);
    }
    base::CopyText(url, next);
    if (!CloseAnswerHandles(guard, slots)) return Outcome::kCancelled;
  }

  // A status of 404 fails the download; every other status, server errors
  // included, is accepted with its body.
  if (status == 404) return Finish(guard, slots, DownloadFailure::kNotFound);
  std::uint32_t declared = 0;
  if (!DeclaredLength(request, &declared)) return Finish(guard, slots, DownloadFailure::kNoLength);

  // A range request is answered with the rest of the kept file, with the
  // whole file (no range support, or the file changed), or with something
  // that fits neither and is refused before a byte is written.
  wchar_t rangeText[64] = {};
  ContentRange range;
  const bool haveRange = QueryText(request, HTTP_QUERY_CONTENT_RANGE, rangeText) && ParseContentRange(rangeText, &range);
  const RangeAnswer answer = JudgeRangeAnswer(partial.from, status, haveRange, range, declared);
  if (answer == RangeAnswer::kRefused) return Finish(guard, slots, DownloadFailure::kResumeRefused);
  const std::uint32_t kept = answer == RangeAnswer::kContinues ? partial.from.offset : 0;
  // A release of a known size: the kept bytes and this answer together must
  // be exactly that size, or it is refused before the target file is opened.
  if (expectedSize && (declared > expectedSize || kept != expectedSize - declared)) {
    return Finish(guard, slots, DownloadFailure::kSizeMismatch);
  }
  // What a later attempt needs to continue this one: only a complete 200
  // answer with a validator is worth keeping.
  wchar_t validator[kValidatorChars] = {};
  bool resumable = false;
  if (partial.recordPath[0] && kept == 0 && status == 200 && declared > 0 && declared <= kMaxResumableBytes) {
    wchar_t etag[kValidatorChars] = {};
    wchar_t lastModified[kValidatorChars] = {};
    QueryText(request, HTTP_QUERY_ETAG, etag);
    QueryText(request, HTTP_QUERY_LAST_MODIFIED, lastModified);
    resumable = ChooseValidator(etag, lastModified, validator);
  }

  if (!guard.Enter()) return Outcome::kCancelled;
  bool opened = false;
  if (kept != 0) {
    // Continued exactly at the kept size: whatever lies beyond it goes.
    slots->file.reset(::_wfopen(slots->targetPath, L"r+b"));
    opened = slots->file.valid() && ::_fseeki64(slots->file.get(), kept, SEEK_SET) == 0 &&
             ::_chsize_s(::_fileno(slots->file.get()), kept) == 0;
  } else {
    slots->file.reset(::_wfopen(slots->targetPath, L"wb"));
    opened = slots->file.valid();
    // The record follows the emptied file, so it never vouches for old bytes.
    if (partial.recordPath[0] && (!opened || !resumable || !WritePartialRecord(partial, validator, declared))) {
      DeletePartialFile(partial.recordPath);
    }
  }
  slots->partial.resumedFrom = kept;
  if (!guard.Leave()) return Outcome::kCancelled;
  if (!opened) return Finish(guard, slots, DownloadFailure::kFileNotWritable);

  std::uint32_t received = 0;
  bool writeFailed = false;
  char block[kBlockBytes];
  for (;;) {
    DWORD got = 0;
    if (!::InternetReadFile(request, block, kBlockBytes, &got)) break;
    guard.Received(got);
    // Never a byte past the declared length (which a known size has bounded).
    if (got > declared - received) {
      if (!guard.Enter()) return Outcome::kCancelled;
      std::fclose(slots->file.release());
      if (!guard.Leave()) return Outcome::kCancelled;
      return Finish(guard, slots, DownloadFailure::kOversize);
    }
    if (!guard.Enter()) return Outcome::kCancelled;
    if (got && std::fwrite(block, 1, got, slots->file.get()) != got) writeFailed = true;
    received += got;
    // The window's bar starts where the kept bytes end.
    if (guard.windowForm() && !writeFailed) {
      ReportProgress(guard.sink(), ProgressPercent(kept + received, kept + declared));
    }
    if (!guard.Leave()) return Outcome::kCancelled;
    if (got == 0 || writeFailed) break;
  }
  if (!guard.Enter()) return Outcome::kCancelled;
  // A block the disk refused, or a close that could not flush, is not a
  // complete file however many bytes came from the server.
  if (std::fclose(slots->file.release()) != 0) writeFailed = true;
  // A whole file has nothing left to resume; a broken one keeps its record.
  if (!writeFailed && received >= declared) DeletePartialFile(partial.recordPath);
  if (!guard.Leave()) return Outcome::kCancelled;
  if (writeFailed) return Finish(guard, slots, DownloadFailure::kFileNotWritable);
  return Finish(guard, slots, received >= declared ? DownloadFailure::kNone : DownloadFailure::kIncomplete);
}

DWORD WINAPI TransferThread(void* parameter) {
  const std::shared_ptr<TransferControl> control = TakeControl(parameter);
  TransferGuard guard(control.get());
  RunDownload(control->state, guard);
  return 0;
}

// How often the watcher looks at a transfer's progress when it has a stall bound.
constexpr DWORD kStallCheckMs = 1000;

// The watcher's end of a stalled transfer, in the Finishing phase: closes
// what cancel closes (closing the request handle is what ends the transfer
// thread's blocked read), records kStalled and ends the window with IDCANCEL.
void EndStalled(TransferControl& control) {
  DownloadState* state = control.state;
  state->file.reset();
  state->hRequest.reset();
  state->hConnect.reset();
  state->hInternet.reset();
  state->result = 0;
  state->failure = DownloadFailure::kStalled;
  state->hTransferThread.reset();
  state->hWatcherThread.reset();
  DownloadSink* sink = control.sink;
  ::InterlockedExchange(&control.phase, kFinished);
  sink->TransferEnded(IDCANCEL);
}

// Waits for the transfer thread, then closes both thread handles and ends the
// window with IDOK or IDCANCEL; returns at once when the window cancels. With
// a stall bound it ends a transfer that receives too little for too long.
DWORD WINAPI WatcherThread(void* parameter) {
  const std::shared_ptr<TransferControl> control = TakeControl(parameter);
  const HANDLE waits[2] = {control->transferThread.get(), control->cancelEvent.get()};
  DWORD woke = WAIT_TIMEOUT;
  LONG windowBytes = 0;
  DWORD windowStart = ::GetTickCount();
  while ((woke = ::WaitForMultipleObjects(2, waits, FALSE, control->stallMs ? kStallCheckMs : INFINITE)) ==
         WAIT_TIMEOUT) {
    const LONG received = control->received;
    if (received - windowBytes >= LONG(kStallProgressBytes)) {
      windowBytes = received;
      windowStart = ::GetTickCount();
      continue;
    }
    if (::GetTickCount() - windowStart < control->stallMs) continue;
    // Stalled. Taken over only while the transfer thread is in a network call
    // (Running): it then finds the phase changed when it returns and touches
    // nothing; Touching is short, so the next round takes it.
    const LONG seen = ::InterlockedCompareExchange(&control->phase, kFinishing, kRunning);
    if (seen == kTouching) continue;
    if (seen != kRunning) return 0;  // cancelled meanwhile
    EndStalled(*control);
    return 0;
  }
  if (woke == WAIT_OBJECT_0 && ::InterlockedCompareExchange(&control->phase, kFinishing, kRunning) == kRunning) {
    DownloadState* state = control->state;
    DownloadSink* sink = control->sink;
    state->hTransferThread.reset();
    state->hWatcherThread.reset();
    const int endCode = state->result == 1 ? IDOK : IDCANCEL;
    // The window's share (state->control) stays: the window's thread lets it
    // go, so that a cancel racing with this end never reads a control block
    // that has gone.
    ::InterlockedExchange(&control->phase, kFinished);
    sink->TransferEnded(endCode);
  }
  return 0;
}

// Handles messages sent to this thread from other threads (the transfer
// thread's synchronous progress reports) while waiting for |event|.
void WaitHandlingSentMessages(HANDLE event) {
  for (;;) {
    const DWORD woke = ::MsgWaitForMultipleObjectsEx(1, &event, INFINITE, QS_SENDMESSAGE, 0);
    if (woke != WAIT_OBJECT_0 + 1) return;  // signalled, or the wait failed
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

int DownloadDirectly(const wchar_t* url, const wchar_t* targetPath, DownloadFailure* failure) {
  DownloadState slots;
  if (!base::CopyText(slots.url, url) || !base::CopyText(slots.targetPath, targetPath)) return 0;
  TransferGuard direct(nullptr);
  const bool complete = RunDownload(&slots, direct) == Outcome::kComplete;
  *failure = slots.failure;
  return complete ? 1 : 0;
}

// The configuration form on a worker thread, waited for at most |deadlineMs|.
// The worker runs the transfer thread's body over |slots| on this stack; a
// cancel at the deadline makes sure it never touches them again, so they
// may go when this returns while the worker is still blocked in WinINet.
int DownloadWithin(const wchar_t* url, const wchar_t* targetPath, DWORD deadlineMs, DownloadFailure* failure) {
  DownloadState slots;
  if (!base::CopyText(slots.url, url) || !base::CopyText(slots.targetPath, targetPath)) return 0;
  std::shared_ptr<TransferControl> control = MakeControl(&slots, nullptr);
  if (!control) return 0;
  base::UniqueHandle worker = StartSuspended(TransferThread, control);
  if (!worker) return 0;
  ::ResumeThread(worker.get());
  const DWORD woke = ::WaitForSingleObject(worker.get(), deadlineMs);
  if (woke == WAIT_OBJECT_0) {
    // The worker has ended: nothing runs on the fields any more.
    *failure = slots.failure;
    return slots.result == 1 ? 1 : 0;
  }
  slots.control = std::move(control);
  CancelDownload(&slots);
  *failure = DownloadFailure::kDeadline;
  return 0;
}

}  // namespace

// ---- Public operations ----------------------------------------------------------

int HttpGetNoReply(const wchar_t* url) {
  if (!HasHttpPrefix(url)) return 0;
  SplitUrl split;
  if (!SplitHttpUrl(url + 7, &split)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD error = 0;
  bool sent = false;
  {
    base::UniqueInternet internet(OpenInternet());
    if (!internet) {
      ::SetLastError(0);
      return 0;
    }
    base::UniqueInternet connection(Connect(internet.get(), split));
    if (!connection) {
      error = ::GetLastError();
    } else {
      base::UniqueInternet request(OpenGetRequest(connection.get(), split));
      if (request) {
        sent = SendRequest(request.get());
        if (!sent) error = ::GetLastError();
      }
    }
  }  // the handles close here, which may set the last error: it is set after
  ::SetLastError(error);
  return sent ? 1 : 0;
}

const wchar_t* DescribeDownloadFailure(DownloadFailure failure) {
  switch (failure) {
    case DownloadFailure::kNone:
      return L"complete";
    case DownloadFailure::kBadAddress:
      return L"the address is not a plain http address that fits its buffers";
    case DownloadFailure::kHostNotAllowed:
      return L"the address's host is not on the allow-list";
    case DownloadFailure::kNoAnswer:
      return L"the server could not be reached or did not answer";
    case DownloadFailure::kNotFound:
      return L"the server answered 404";
    case DownloadFailure::kRedirectRefused:
      return L"the server redirected off the allow-list";
    case DownloadFailure::kTooManyRedirects:
      return L"the server redirected too many times";
    case DownloadFailure::kNoLength:
      return L"the answer declared no length";
    case DownloadFailure::kFileNotWritable:
      return L"the file could not be written";
    case DownloadFailure::kIncomplete:
      return L"the answer ended before its declared length";
    case DownloadFailure::kDeadline:
      return L"the transfer did not end in time";
    case DownloadFailure::kCancelled:
      return L"the transfer was cancelled";
    case DownloadFailure::kSizeMismatch:
      return L"the answer's declared length is not the expected size";
    case DownloadFailure::kOversize:
      return L"the answer went on past the expected size";
    case DownloadFailure::kStalled:
      return L"the transfer made no progress for too long";
    case DownloadFailure::kResumeRefused:
      return L"the answer to the range request does not continue the kept bytes";
  }
  return L"unknown";
}

int DownloadToFile(const wchar_t* url, const wchar_t* targetPath, DWORD deadlineMs, DownloadFailure* failure) {
  DownloadFailure why = DownloadFailure::kBadAddress;
  const int complete = deadlineMs == INFINITE ? DownloadDirectly(url, targetPath, &why)
                                              : DownloadWithin(url, targetPath, deadlineMs, &why);
  if (failure) *failure = why;
  return complete;
}

DownloadState::~DownloadState() {
  // A window that goes while its transfer still runs cancels it first.
  CancelDownload(this);
}

bool StartDownload(DownloadState* state, DownloadSink* sink) {
  if (!state || !sink) return false;
  if (state->control) {
    // The previous run's control block; a transfer still under way keeps it.
    const LONG phase = state->control->phase;
    if (phase != kFinished && phase != kCancelled) return false;
    state->control.reset();
  }
  if (state->hTransferThread || state->hWatcherThread) return false;
  std::shared_ptr<TransferControl> control = MakeControl(state, sink);
  if (!control) return false;
  state->result = 0;
  state->failure = DownloadFailure::kNone;
  control->stallMs = state->stallMs;

  // Both threads start suspended so that their handles are in place before
  // either runs; they are then let go in the order transfer, watcher.
  base::UniqueHandle transfer = StartSuspended(TransferThread, control);
  if (!transfer) return false;
  if (!::DuplicateHandle(::GetCurrentProcess(), transfer.get(), ::GetCurrentProcess(), control->transferThread.put(),
                         SYNCHRONIZE, FALSE, 0)) {
    control->transferThread.release();  // DuplicateHandle leaves no handle on failure
  }
  base::UniqueHandle watcher;
  if (control->transferThread) watcher = StartSuspended(WatcherThread, control);
  if (!watcher) {
    // The transfer thread has not run yet: let it go already cancelled, so it
    // ends at its first step without sending anything.
    ::InterlockedExchange(&control->phase, kCancelled);
    ::ResumeThread(transfer.get());
    return false;
  }
  // The fields take the handles before the threads run: the watcher closes
  // them through the fields when the transfer ends by itself.
  const HANDLE transferThread = transfer.get();
  const HANDLE watcherThread = watcher.get();
  state->hTransferThread = std::move(transfer);
  state->hWatcherThread = std::move(watcher);
  state->control = std::move(control);
  ::ResumeThread(transferThread);
  ::ResumeThread(watcherThread);
  return true;
}

bool CancelDownload(DownloadState* state) {
  if (!state || !state->control) return false;
  // state->control is written only by this thread (StartDownload, here and the
  // destructor), so it cannot go while it is read.
  TransferControl* control = state->control.get();
  LONG phase = control->phase;
  for (;;) {
    if (phase != kRunning && phase != kTouching) return false;  // ended by itself
    const LONG seen = ::InterlockedCompareExchange(&control->phase, kCancelled, phase);
    if (seen == phase) break;
    phase = seen;
  }
  // From here on no worker touches the fields, the file or the window again,
  // except one that is inside a step right now: let it finish that step.
  if (phase == kTouching) WaitHandlingSentMessages(control->leftEvent.get());
  ::SetEvent(control->cancelEvent.get());

  state->hTransferThread.reset();
  state->hWatcherThread.reset();
  state->file.reset();
  state->hRequest.reset();
  state->hConnect.reset();
  state->hInternet.reset();
  state->result = 0;
  state->failure = DownloadFailure::kCancelled;
  state->control.reset();
  return true;
}

}  // namespace update
