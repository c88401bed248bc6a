// The launcher's own minidump writer.
//
// It writes what dbghelp's MiniDumpWriteDump writes for the dump type
// MiniDumpScanMemory | MiniDumpWithIndirectlyReferencedMemory: system and
// process information, the exception, every thread with its context and
// stack, the memory the crashed threads' stacks point to, and the loaded
// modules. It runs inside the crashed process and takes nothing from the
// process heap, the C runtime or the loader lock: a thread that crashed may
// hold or have corrupted any of them. dbghelp allocates from two heaps and,
// under Wine, reads the process's own memory through the server one small
// piece at a time (tens of thousands of round trips, tens of seconds).
#pragma once

#include <windows.h>

#include <cstddef>

namespace diagnostics {

// A thread that crashed and the exception it raised; the thread waits in
// the crash handler while the dump is written.
struct CrashedThread {
  DWORD threadId = 0;
  EXCEPTION_POINTERS* exception = nullptr;
};

struct MiniDumpRequest {
  // The crash the dump is about (its exception stream); a thread identifier
  // of 0 or no exception writes a dump without one.
  CrashedThread crash;
  // Threads that crashed while the first one was being reported: their
  // entries carry their own exception's context instead of the handler's.
  const CrashedThread* otherCrashes = nullptr;
  std::size_t otherCrashCount = 0;
  // Threads left out (the crash handler's own).
  const DWORD* skippedThreads = nullptr;
  std::size_t skippedThreadCount = 0;
  // A private heap (HeapCreate) for the list of the system's threads.
  HANDLE privateHeap = nullptr;
};

// Looks up the system functions the writer needs, once; the crash handler
// does this at start, so that writing a dump never takes the loader lock.
// False when one is missing, and WriteMiniDump then fails.
bool PrepareMiniDumpWriter();

// Writes the dump to |path| (replaced). True when the file holds a complete
// dump. The header and stream directory are rewritten after each part, so a
// writer stopped by a fault in a later part still leaves a readable dump of
// the parts before it.
bool WriteMiniDump(const wchar_t* path, const MiniDumpRequest& request);

}  // namespace diagnostics
