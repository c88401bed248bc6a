// The crash-report uploader "BugReport.exe" and its command line, shared by
// the crash handler and the report of a failed game start.
#pragma once

#include <cstddef>

#include "base/FixedText.h"

namespace diagnostics {

// The five product texts the uploader is told about.
struct ProductInfo {
  wchar_t appKind[64] = {};
  wchar_t gameName[base::kPathChars] = {};  // UTF-8, percent-encoded, widened
  wchar_t productCode[64] = {};
  wchar_t version[64] = {};
  wchar_t appName[64] = {};
};

// "<uploader>" /report kind game code version app "<base>": the first and
// the last value quoted, the five between them not. Fills |out| (at most 511
// characters) and returns true, or returns false with |out| untouched when
// the command would not fit.
bool FormatUploaderCommand(const wchar_t* uploaderPath, const ProductInfo& product, const wchar_t* reportBase,
                           wchar_t (&out)[base::kUrlChars]);

// The uploader's path: BugReport.exe beside the running executable.
bool GetUploaderPath(wchar_t (&out)[base::kPathChars]);

// Starts the uploader with |commandLine| (the system may write into it while
// parsing) hidden, at idle priority, without waiting for it. |workFolder|
// null keeps the caller's current folder. True when the process was created.
bool StartUploader(wchar_t (&commandLine)[base::kUrlChars], const wchar_t* workFolder);

}  // namespace diagnostics
