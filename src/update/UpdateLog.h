// The update log: one dated file beside the executable,
// "Dump_YYYY-MM-DD_Tavrel_update.log", with a time-stamped line for every
// update that was refused or given up and why. It is the only trace of those
// decisions: the player sees no message for them.
#pragma once

#include <cstddef>

#include "base/FixedText.h"
#include "diagnostics/DiagnosticLog.h"

namespace update {

constexpr const wchar_t* kUpdateLogSuffix = L"Tavrel_update.log";

// The executable's folder; false when its path has no folder part.
bool GetUpdateLogFolder(wchar_t (&folder)[base::kPathChars]);

// Appends one line formatted from |format| (%ls for wide texts).
template <typename... Args>
void LogUpdate(const wchar_t* format, Args... args) {
  wchar_t folder[base::kPathChars] = {};
  if (GetUpdateLogFolder(folder)) diagnostics::LogToDatedFile(folder, kUpdateLogSuffix, format, args...);
}

// Copies as much of |text| as |out| holds, each character other than an
// ASCII letter, digit, '.', ':', '/' or '-' written as '?': what a hostile
// configuration says never reaches the log as it is.
namespace detail {
void CopyLoggableText(const wchar_t* text, wchar_t* out, std::size_t capacity);
}  // namespace detail
template <std::size_t N>
void CopyLoggableText(const wchar_t* text, wchar_t (&out)[N]) {
  detail::CopyLoggableText(text, out, N);
}

}  // namespace update
