// Finding, ending and inspecting processes. Processes are matched on the
// whole path of their main module, compared without regard to letter case,
// never on the file name alone. None of these shows a window or keeps state.
#pragma once

#include <cstddef>
#include <string>

namespace diagnostics {

// 64 on 64-bit Windows (also for a 32-bit process under WOW64), else 32.
int GetOsBitness();

// Runs "program arguments" hidden, with standard output and error captured
// into |output| (the bytes exactly as the child wrote them, zero bytes
// included). The program is looked up as CreateProcessA does without an
// application name; quote it when its path has spaces. Blocks until every
// holder of the pipe's write end is gone; the exit code is not looked at.
// True when the command was started and read to its end; false, with
// |output| unchanged and a line on standard output naming the failed call
// and GetLastError(), when the pipe or the process could not be created.
bool RunHiddenCommand(const std::string& program, const std::string& arguments, std::string* output);

// Takes each piece of a captured output, in order; false stops the capture.
using CapturedOutputSink = bool (*)(void* context, const char* bytes, std::size_t size);

// The core of RunHiddenCommand for callers that must not allocate: runs
// |commandLine| (terminated; CreateProcessA may write into it) hidden and
// hands what it prints to |sink|. After |timeoutMs| milliseconds (INFINITE:
// never) the child is ended and the capture stops. Prints nothing; on a
// failure the Windows error is left as the last error.
enum class CaptureResult { Captured, PipeFailed, StartFailed };
CaptureResult CaptureHiddenCommand(char* commandLine, CapturedOutputSink sink, void* context,
                                   unsigned long timeoutMs);

// Enables SeDebugPrivilege in the process token; true when it was enabled.
bool EnableDebugPrivilege();

// Ends every process whose main module is |exePath| (never the calling
// process), enabling SeDebugPrivilege first when it can, and waits a few
// seconds for each to be gone so its files can be replaced. Every process is
// looked at, however many run. Returns the result of the last termination
// attempted; false when none matched or the processes could not be listed.
bool KillProcessesByPath(const wchar_t* exePath);

// True when some process's main module is |exePath|.
bool IsProcessRunning(const wchar_t* exePath);

// Ends the game executable of the install folder.
bool KillGameProcess();

// Ends the crash-report uploader, then the game, of the install folder.
bool KillReporterAndGame();

// Rewrites a device-form path (\Device\HarddiskVolume2\x) to its drive form
// (C:\x) into |dosPath|, a buffer of |dosPathChars| characters. True when a
// drive matched; otherwise |dosPath| holds a copy of the input (or is left
// untouched when a drive could not be queried).
bool DevicePathToDosPath(const wchar_t* devicePath, wchar_t* dosPath, std::size_t dosPathChars);

}  // namespace diagnostics
