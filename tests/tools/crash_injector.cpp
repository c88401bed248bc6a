// Makes a running program crash in its own code, as a fault of its own would:
// starts a thread in it at one of its functions with an argument that the
// function cannot use.
//
//   crash_injector EXE_NAME RVA ARGUMENT [WHEN_FILE]
//
// EXE_NAME is the program's file name (the first process of that name is
// taken), RVA the function's address relative to the program's image (from
// its symbol file), ARGUMENT (hexadecimal) the thread's argument: a function
// that reads through it faults at once. With WHEN_FILE it first waits, up to
// two minutes, until that file exists: a test starts it early and gives the
// word at the moment it wants, without waiting for a Wine start then.
// Prints "started" once the thread runs; exit code 0 when it did, 1 on bad
// arguments or no word, 2 when no such process runs, 3 when the process
// cannot be opened or the thread not started.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>

#include "base/UniqueHandle.h"

namespace {

DWORD FindProcess(const wchar_t* name) {
  // Fails with INVALID_HANDLE_VALUE, as files do.
  base::UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (!::lstrcmpiW(entry.szExeFile, name)) return entry.th32ProcessID;
  }
  // What runs instead, for the test's failure message.
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    std::fwprintf(stderr, L"running: %ls\n", entry.szExeFile);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 1;
  wchar_t* end = nullptr;
  unsigned long long rva = std::wcstoull(argv[2], &end, 16);
  if (!rva || *end) return 1;
  unsigned long long argument = std::wcstoull(argv[3], &end, 16);
  if (*end) return 1;
  if (argc > 4) {
    int polls = 0;
    while (::GetFileAttributesW(argv[4]) == INVALID_FILE_ATTRIBUTES) {
      if (++polls > 2400) return 1;
      ::Sleep(50);
    }
  }
  DWORD pid = FindProcess(argv[1]);
  if (!pid) return 2;
  base::UniqueHandle process(::OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                               PROCESS_VM_READ | PROCESS_VM_WRITE,
                                           FALSE, pid));
  if (!process) return 3;
  // The program's own image is the first module of its list.
  HMODULE modules[1] = {};
  DWORD needed = 0;
  if (!::EnumProcessModules(process.get(), modules, sizeof(modules), &needed) || !modules[0]) return 3;
  auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<ULONG_PTR>(modules[0]) + rva);
  base::UniqueHandle thread(::CreateRemoteThread(process.get(), nullptr, 0, start,
                                                 reinterpret_cast<void*>(static_cast<ULONG_PTR>(argument)), 0, nullptr));
  if (!thread) return 3;
  std::printf("started\n");
  std::fflush(stdout);
  return 0;
}
