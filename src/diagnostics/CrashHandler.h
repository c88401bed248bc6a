// The launcher's own crash handler. At start the launcher registers its
// product texts and installs CrashFilter as the process's unhandled-exception
// filter; a crash then leaves a minidump and a system report in the dump
// folder (Documents\Orlix\dump\) and starts the crash-report uploader on
// them, without any Windows error dialog.
//
// A crash leaves the process in any state: a stack with no room left, heaps
// that are corrupted or locked for good by the thread that crashed, a loader
// lock held. So the work is done the way Breakpad's Windows handler does it:
// everything the report needs (names, paths, a private heap, a handler thread
// with a stack of its own) is prepared at start, and the filter only hands
// the crash to the handler thread and waits. The handler thread writes the
// dump first (with the launcher's own writer, which takes no heap), then the
// report (fixed buffers and the private heap), then starts the uploader, and
// ends the process. When the process heap cannot be used (its lock is held
// for good, or it fails validation) the handler first puts its private heap
// in the process heap's place, so that the system's own file and process
// calls still work.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "diagnostics/UploaderCommand.h"

namespace diagnostics {

// Exception codes raised into CrashFilter by the C and C++ runtime failure
// handlers (customer bit set, so they never collide with system codes).
constexpr DWORD kInvalidParameterException = 0xE0C0DE01;
constexpr DWORD kPureCallException = 0xE0C0DE02;
constexpr DWORD kTerminateException = 0xE0C0DE03;
constexpr DWORD kAbortException = 0xE0C0DE04;

// Stores the product texts for the uploader; |gameName| is the plain display
// name and is kept UTF-8, percent-encoded and widened. A later call replaces
// all five. False (and the previous texts kept) when a text does not fit.
bool RegisterProductInfo(const wchar_t* appKind, const wchar_t* gameName, const wchar_t* productCode,
                         const wchar_t* version, const wchar_t* appName);

// The texts registered last.
const ProductInfo& GetProductInfo();

// Installs CrashFilter (keeping later SetUnhandledExceptionFilter calls from
// replacing it when another filter was there already), routes stack
// overflows and the runtime's invalid-parameter, pure-call, terminate and
// abort failures into it, silences the system's error boxes and the
// runtime's abort message, fixes the dump folder and prepares the report.
// Call it once, after RegisterProductInfo. Always returns 1.
int InstallCrashHandler();

// The unhandled-exception filter: has <base>.dmp and <base>.txt written and
// the uploader started, then ends the process with the exception's code. The
// first crash of the process is reported; threads that crash meanwhile wait
// for the end and appear in its dump with their own exception.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception);

// Makes SetUnhandledExceptionFilter a no-op returning null in this process.
// True when the function's code was rewritten.
bool BlockFilterChanges();

// Writes a minidump of this process to |path|, with |exception| (may be
// null) raised on the calling thread. False when the file cannot be created.
bool WriteMiniDump(const wchar_t* path, EXCEPTION_POINTERS* exception);

// Documents\Orlix\dump\ (with its trailing backslash), created one level
// deep when missing; empty when there is no documents folder or the folder
// cannot be made.
std::wstring GetDumpFolder();

// The dump folder InstallCrashHandler fixed (empty: the current folder).
const wchar_t* GetInstalledDumpFolder();

// The C runtime's failure handlers: print their text on standard output and
// raise their exception code into CrashFilter. They do not return.
void __cdecl OnInvalidParameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                unsigned int line, std::uintptr_t reserved);
void __cdecl OnPureCall();

// The C runtime's SIGABRT handler (abort()): raises kAbortException into
// CrashFilter instead of letting abort() end the process quietly.
void __cdecl OnAbortSignal(int signal);

}  // namespace diagnostics
