// The launcher's HTTP client on WinINet: one-way GET requests (the statistic
// pings), the synchronous download of the update configuration, and the
// download of a new launcher that runs while the update window is shown.
//
// Only plain HTTP. Every request opens its own Internet handle, is sent with
// the user agent "LHL", INTERNET_FLAG_RELOAD (never answered from the cache)
// and the fixed Accept-Language/Content-Type headers; no retries. Only the
// window form resumes a broken download (PartialDownload.h).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <memory>

#include "base/FixedText.h"
#include "base/UniqueHandle.h"
#include "http/PartialDownload.h"

namespace update {

// What the window form of the download needs from the update window. The
// window implements it; the transfer and watcher threads call it.
class DownloadSink {
 public:
  // The update window (its client rectangle places the progress bar) and its
  // progress control (control 1003, which receives PBM_SETPOS 0..100). Asked
  // on the transfer thread; the handles must stay valid while the window's
  // modal loop runs. The transfer thread sends to them synchronously
  // (SendMessageW, SetWindowPos), so the window's thread must keep handling
  // messages; CancelDownload does so while it waits.
  virtual HWND UpdateWindow() = 0;
  virtual HWND ProgressControl() = 0;

  // Called once on the watcher thread when the transfer has ended by itself:
  // |endCode| is IDOK (1) when the file is complete, IDCANCEL (2) otherwise.
  // Ends the window's modal loop. It must not wait for the window's thread
  // (post a message, then EndDialog on the window's thread): it is never
  // called once CancelDownload has begun, and CancelDownload may be running.
  virtual void TransferEnded(int endCode) = 0;

 protected:
  ~DownloadSink() = default;
};

// Why a download did not complete, for the update log.
enum class DownloadFailure {
  kNone,
  kBadAddress,         // not "http://", or a part that does not fit its buffer
  kHostNotAllowed,     // the window form's address is off the maker allow-list
  kNoAnswer,           // no connection, or no answer head
  kNotFound,           // status 404
  kRedirectRefused,    // a redirect off the allow-list or to an address of another form
  kTooManyRedirects,   // more than kMaxRedirects in a row
  kNoLength,           // no declared length (a chunked answer)
  kFileNotWritable,    // the target file could not be opened or written
  kIncomplete,         // fewer bytes than declared
  kDeadline,           // the configuration form's deadline passed
  kCancelled,          // the window's cancel
  kSizeMismatch,       // the declared length is not the expected size (nothing written)
  kOversize,           // the answer went on past the expected size
  kStalled,            // the window form received too little for too long
  kResumeRefused,      // the answer to a range request does not continue the kept bytes
};

// The window form's bound on a withheld download: when |stallMs| is set, the
// transfer ends as failed (kStalled) once fewer than this many bytes have
// arrived in that time. A trickle of a byte now and then is no progress.
constexpr std::uint32_t kStallProgressBytes = 4096;

// A short English description of |failure| for the update log.
const wchar_t* DescribeDownloadFailure(DownloadFailure failure);

// Redirects are not left to WinINet (INTERNET_FLAG_NO_AUTO_REDIRECT): both
// download forms follow at most this many in a row themselves, each only to
// an "http://" address on the maker allow-list. Pings follow none.
constexpr int kMaxRedirects = 5;

// Shared control block of one window-form transfer (defined in
// HttpClient_win.cpp), owned together by the window's DownloadState and the
// two threads. It outlives the window: a thread that a cancel left blocked
// inside WinINet finds the cancel there when it returns, and ends without
// touching the window, the file or the handles.
struct TransferControl;

// The transfer fields the update window holds for its download, in the
// window's field order. url and targetPath are filled by the update check
// before each run; the other fields are zero when the window object is made
// and are driven by StartDownload, the two threads and CancelDownload. The
// window reads none of them itself. The fields own what they hold: whoever
// clears one (the transfer thread, the watcher, the cancel) closes it.
struct DownloadState {
  wchar_t url[base::kUrlChars] = {};
  wchar_t targetPath[base::kPathChars] = {};
  base::UniqueHandle hTransferThread;
  base::UniqueHandle hWatcherThread;
  base::UniqueStdFile file;
  std::int32_t result = 0;  // 1 when the transfer completed, else 0
  DownloadFailure failure = DownloadFailure::kNone;  // why it did not, read after it ended
  base::UniqueInternet hInternet;
  base::UniqueInternet hConnect;
  base::UniqueInternet hRequest;
  // Resuming a broken download (PartialDownload.h); unused when its record
  // path is empty, as in the configuration form.
  PartialDownload partial;
  // Not part of the window's visible state: the window's share of the last
  // transfer's control block, let go by the window's thread (cancel, the
  // next start, destruction).
  std::shared_ptr<TransferControl> control;
  // Bounds set by the update check before the window runs. |expectedSize|:
  // when nonzero, an answer that declares another length fails before a
  // byte is written (kSizeMismatch), and no byte past it is ever written
  // (kOversize). |stallMs|: when nonzero, the stall bound above.
  std::uint32_t expectedSize = 0;
  DWORD stallMs = 0;

  DownloadState() = default;
  DownloadState(const DownloadState&) = delete;
  DownloadState& operator=(const DownloadState&) = delete;
  // Cancels a transfer that still runs.
  ~DownloadState();
};

// Sends a GET for |url| ("http://" in any letter case, then host[:port]/path)
// and does not read the answer. Returns 1 when the request went out and the
// response headers arrived, else 0. Last-error code on return: untouched when
// the scheme is not http; 0 after success or when the Internet handle or the
// request could not be opened; WinINet's code when connecting or sending
// failed; ERROR_INVALID_PARAMETER when the host or path does not fit its buffer.
int HttpGetNoReply(const wchar_t* url);

// Configuration form: downloads |url| into |targetPath| ("wb"). Returns 1
// when at least the declared length was received; 0 when the request failed,
// the status was 404, a redirect was refused, the answer declared no length,
// the file could not be opened, or the body was cut short (the partial file
// stays). |failure|, when given, receives the reason.
//
// With |deadlineMs| INFINITE the transfer runs on the calling thread. With a
// deadline it runs on a worker thread and the caller waits at most that
// long, however slowly the server answers or sends: then the transfer is
// cancelled as the window's cancel does (file and handles closed, the worker
// touches nothing afterwards) and the result is 0 with kDeadline.
// WinINet's own time-outs cannot give this bound: INTERNET_OPTION_RECEIVE_TIMEOUT
// limits each wait for data, not a body that trickles in byte by byte, and
// Wine accepts it on the Internet handle without applying it to the
// requests (it waits as long as the server holds an answer back).
int DownloadToFile(const wchar_t* url, const wchar_t* targetPath, DWORD deadlineMs = INFINITE,
                   DownloadFailure* failure = nullptr);

// Window form, called by the update window while it initialises: resets the
// result, starts the transfer thread and then the watcher thread over
// |state| (url and targetPath filled) and keeps both handles in |state|.
// The transfer refuses a URL whose host is not one of maker::kAllowedDomains
// or below one of them (result 0, nothing sent), and a redirect to such a
// host (result 0, nothing written). Progress goes to |sink|'s
// progress control; when the transfer ends by itself the watcher calls
// |sink|->TransferEnded(1 or 2). Returns false when the threads could not be
// started; then nothing runs and the window should end with IDCANCEL itself.
// |state| and |sink| must stay alive until TransferEnded or CancelDownload.
bool StartDownload(DownloadState* state, DownloadSink* sink);

// The cancel steps, on the window's thread: stops both threads at once (they
// are signalled and touch nothing afterwards; none is terminated), closes
// both thread handles, the target file (the partial file stays on disk) and
// the open WinINet handles, and clears those fields. Waits only while a
// thread is in the middle of writing a block or reporting to the window,
// handling messages sent to this thread meanwhile. Returns true when it
// cancelled a running transfer (the caller then ends the window with
// IDCANCEL); false when there was none or it had already ended by itself,
// in which case TransferEnded has been or is being delivered.
bool CancelDownload(DownloadState* state);

}  // namespace update
