// The launcher's own crash handler. At start the launcher registers its
// product texts and installs CrashFilter as the process's unhandled-exception
// filter; a crash then leaves a minidump and a system report in the dump
// folder (Documents\Orlix\dump\) and starts the crash-report uploader on
// them, without any Windows error dialog.
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

// Stores the product texts for the uploader; |gameName| is the plain display
// name and is kept UTF-8, percent-encoded and widened. A later call replaces
// all five. False (and the previous texts kept) when a text does not fit.
bool RegisterProductInfo(const wchar_t* appKind, const wchar_t* gameName, const wchar_t* productCode,
                         const wchar_t* version, const wchar_t* appName);

// The texts registered last.
const ProductInfo& GetProductInfo();

// Installs CrashFilter (keeping later SetUnhandledExceptionFilter calls from
// replacing it when another filter was there already), routes the runtime's
// invalid-parameter, pure-call and terminate failures into it, silences the
// system's error boxes and the runtime's abort message, and fixes the dump
// folder. Always returns 1.
int InstallCrashHandler();

// The unhandled-exception filter: writes <base>.dmp and <base>.txt, starts
// the uploader and returns EXCEPTION_EXECUTE_HANDLER so the process ends.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception);

// Makes SetUnhandledExceptionFilter a no-op returning null in this process.
// True when the function's code was rewritten.
bool BlockFilterChanges();

// Writes a minidump of this process to |path|; |exception| may be null.
// False, without creating a file, when dbghelp is not available.
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

}  // namespace diagnostics
