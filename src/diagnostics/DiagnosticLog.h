// The dated failure note: time-stamped lines appended to a file named after
// the local date inside a given folder. Each call opens the file, appends one
// line and closes it again, sharing it for reading only.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "diagnostics/ReportNames.h"

namespace diagnostics {

// Appends one line formatted from |format| (printf-style with the Microsoft
// C runtime's wide conventions: %s takes a wide string) to
// folder\Dump_YYYY-MM-DD_suffix, creating the folder with its parents when
// missing. A null |format| empties the file instead. Returns 0 when the
// folder cannot be made or |suffix| is null, -1 when the file path would not
// fit 260 characters, else the result of AppendLogLine (or WriteLogText).
int LogToDatedFile(const wchar_t* folder, const wchar_t* suffix, const wchar_t* format, ...);

// Appends "HH:MM:SS " + the formatted text + CR LF to |filePath|. The text is
// formatted into 4096 characters first and into twice as many each time it
// does not fit, up to 8,388,608; longer text is refused with -1
// (ERROR_INSUFFICIENT_BUFFER). A null |format| empties the file.
int AppendLogLine(const wchar_t* filePath, const wchar_t* format, ...);
int AppendLogLineV(const wchar_t* filePath, const wchar_t* format, va_list args);

// Appends |text|, converted to the ANSI code page, to |filePath| (created
// when missing). Returns the number of bytes written; 0 when the text is
// empty or cannot be converted. A null |text| creates or empties the file and
// returns 0. Returns -1 when the file cannot be opened, positioned, written
// or (for a null text) created, with the failing call's error left as the
// thread's last error.
int WriteLogText(const wchar_t* text, const wchar_t* filePath);

// The local time of day "HH:MM:SS" in |buffer| of kTimeOfDayChars
// characters; returns |buffer|, or null for a null buffer.
wchar_t* FormatTimeOfDay(wchar_t* buffer);

}  // namespace diagnostics
