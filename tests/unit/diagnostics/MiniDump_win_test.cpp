// The launcher's minidump writer, read back with dbghelp's own reader.
#include "diagnostics/MiniDump.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <dbghelp.h>

#include <cstring>
#include <string>

#include "TestSupport.h"
#include "base/UniqueHandle.h"
#include "diagnostics/CrashHandler.h"

using testing_support::ScratchFolder;

namespace {

ULONG_PTR InstructionPointer(const CONTEXT& context) {
#if defined(__x86_64__)
  return context.Rip;
#else
  return context.Eip;
#endif
}

ULONG_PTR StackPointer(const CONTEXT& context) {
#if defined(__x86_64__)
  return context.Rsp;
#else
  return context.Esp;
#endif
}

// A dump file mapped for reading, its streams found by dbghelp.
class DumpReader {
 public:
  explicit DumpReader(const std::wstring& path) {
    file_.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file_) return;
    mapping_.reset(::CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping_) return;
    base_ = static_cast<const char*>(::MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
    dbghelp_ = ::LoadLibraryW(L"dbghelp.dll");
    read_ = dbghelp_ ? reinterpret_cast<decltype(&::MiniDumpReadDumpStream)>(
                           ::GetProcAddress(dbghelp_, "MiniDumpReadDumpStream"))
                     : nullptr;
  }
  ~DumpReader() {
    if (base_) ::UnmapViewOfFile(base_);
  }
  bool ok() const { return base_ && read_; }

  template <typename T>
  const T* Stream(ULONG type) const {
    MINIDUMP_DIRECTORY* entry = nullptr;
    void* stream = nullptr;
    ULONG size = 0;
    if (!read_(const_cast<char*>(base_), type, &entry, &stream, &size) || size < sizeof(T)) return nullptr;
    return static_cast<const T*>(stream);
  }
  const void* At(RVA rva) const { return base_ + rva; }
  std::wstring String(RVA rva) const {
    const auto* text = static_cast<const MINIDUMP_STRING*>(At(rva));
    return std::wstring(text->Buffer, text->Length / sizeof(WCHAR));
  }
  const MINIDUMP_THREAD* Thread(DWORD id) const {
    const auto* list = Stream<MINIDUMP_THREAD_LIST>(ThreadListStream);
    for (ULONG32 i = 0; list && i < list->NumberOfThreads; ++i) {
      if (list->Threads[i].ThreadId == id) return &list->Threads[i];
    }
    return nullptr;
  }
  const CONTEXT& Context(const MINIDUMP_LOCATION_DESCRIPTOR& where) const {
    return *static_cast<const CONTEXT*>(At(where.Rva));
  }
  // The dumped bytes at |address|, when a memory range holds all |size| of them.
  const char* Memory(ULONG64 address, std::size_t size) const {
    const auto* list = Stream<MINIDUMP_MEMORY_LIST>(MemoryListStream);
    for (ULONG32 i = 0; list && i < list->NumberOfMemoryRanges; ++i) {
      const MINIDUMP_MEMORY_DESCRIPTOR& range = list->MemoryRanges[i];
      if (address >= range.StartOfMemoryRange && address + size <= range.StartOfMemoryRange + range.Memory.DataSize) {
        return static_cast<const char*>(At(range.Memory.Rva)) + (address - range.StartOfMemoryRange);
      }
    }
    return nullptr;
  }

 private:
  base::UniqueFile file_;
  base::UniqueHandle mapping_;
  const char* base_ = nullptr;
  HMODULE dbghelp_ = nullptr;
  decltype(&::MiniDumpReadDumpStream) read_ = nullptr;
};

// A thread that records a context and an exception of its own making, as a
// crashed thread does, then waits until it is released. A block of marker
// bytes is pointed to only from its stack.
struct FakeCrash {
  alignas(16) CONTEXT context = {};
  EXCEPTION_RECORD record = {};
  EXCEPTION_POINTERS pointers = {};
  char* marker = nullptr;
  DWORD id = 0;
  base::UniqueHandle ready{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  base::UniqueHandle release{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  base::UniqueHandle thread;

  explicit FakeCrash(DWORD code) {
    record.ExceptionCode = code;
    thread.reset(::CreateThread(nullptr, 0, Run, this, 0, &id));
    ::WaitForSingleObject(ready.get(), INFINITE);
  }
  ~FakeCrash() {
    ::SetEvent(release.get());
    ::WaitForSingleObject(thread.get(), INFINITE);
    if (marker) ::HeapFree(::GetProcessHeap(), 0, marker);
  }
  diagnostics::CrashedThread Crashed() {
    diagnostics::CrashedThread crashed;
    crashed.threadId = id;
    crashed.exception = &pointers;
    return crashed;
  }

  // 32-bit RtlCaptureContext describes its caller's caller: called from
  // here, the context is Run's, with Run's locals above its stack pointer.
  static __attribute__((noinline)) void Capture(CONTEXT* context) { ::RtlCaptureContext(context); }

  static DWORD WINAPI Run(void* self) {
    auto* crash = static_cast<FakeCrash*>(self);
    char* volatile onStack = static_cast<char*>(::HeapAlloc(::GetProcessHeap(), 0, 64));
    std::memset(onStack, 'Q', 64);
    crash->marker = onStack;
    Capture(&crash->context);
    crash->record.ExceptionAddress = reinterpret_cast<void*>(InstructionPointer(crash->context));
    crash->record.NumberParameters = 2;
    crash->record.ExceptionInformation[0] = 7;
    crash->record.ExceptionInformation[1] = 0x1234;
    crash->pointers.ExceptionRecord = &crash->record;
    crash->pointers.ContextRecord = &crash->context;
    ::SetEvent(crash->ready.get());
    ::WaitForSingleObject(crash->release.get(), INFINITE);
    return onStack[0] == 'Q' ? 0 : 1;
  }
};

}  // namespace

TEST(MiniDump, DescribesThisProcessAndLeavesItsThreadsRunning) {
  ScratchFolder scratch;
  std::wstring path = scratch / L"self.dmp";
  FakeCrash other(0);  // just a thread that waits
  ASSERT_TRUE(diagnostics::WriteMiniDump(path.c_str(), nullptr));

  DumpReader dump(path);
  ASSERT_TRUE(dump.ok());
  EXPECT_EQ(nullptr, dump.Stream<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream));

  const auto* system = dump.Stream<MINIDUMP_SYSTEM_INFO>(SystemInfoStream);
  ASSERT_NE(nullptr, system);
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  EXPECT_EQ(info.wProcessorArchitecture, system->ProcessorArchitecture);
  EXPECT_EQ(info.dwNumberOfProcessors, system->NumberOfProcessors);
  const auto* misc = dump.Stream<MINIDUMP_MISC_INFO>(MiscInfoStream);
  ASSERT_NE(nullptr, misc);
  EXPECT_EQ(::GetCurrentProcessId(), misc->ProcessId);

  // The writing thread and the waiting one, each with a stack around its
  // stack pointer.
  for (DWORD id : {::GetCurrentThreadId(), other.id}) {
    const MINIDUMP_THREAD* thread = dump.Thread(id);
    ASSERT_NE(nullptr, thread) << id;
    ASSERT_EQ(sizeof(CONTEXT), thread->ThreadContext.DataSize);
    ULONG_PTR sp = StackPointer(dump.Context(thread->ThreadContext));
    EXPECT_EQ(sp, thread->Stack.StartOfMemoryRange) << id;
    EXPECT_GT(thread->Stack.Memory.DataSize, 0u);
    EXPECT_NE(nullptr, dump.Memory(sp, thread->Stack.Memory.DataSize)) << "stack in the memory list";
  }
  EXPECT_EQ(0u, dump.Thread(other.id)->SuspendCount);

  // The executable and ntdll, by base and name.
  const auto* modules = dump.Stream<MINIDUMP_MODULE_LIST>(ModuleListStream);
  ASSERT_NE(nullptr, modules);
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  bool exeFound = false;
  bool ntdllFound = false;
  for (ULONG32 i = 0; i < modules->NumberOfModules; ++i) {
    const MINIDUMP_MODULE& module = modules->Modules[i];
    if (module.BaseOfImage == reinterpret_cast<ULONG_PTR>(::GetModuleHandleW(nullptr))) {
      exeFound = true;
      EXPECT_EQ(0, ::lstrcmpiW(exe, dump.String(module.ModuleNameRva).c_str()));
      EXPECT_GT(module.SizeOfImage, 0u);
    }
    if (module.BaseOfImage == reinterpret_cast<ULONG_PTR>(::GetModuleHandleW(L"ntdll.dll"))) ntdllFound = true;
  }
  EXPECT_TRUE(exeFound);
  EXPECT_TRUE(ntdllFound);

  // The waiting thread was resumed: it runs to its end when released.
  ::SetEvent(other.release.get());
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(other.thread.get(), 10000));
}

TEST(MiniDump, CarriesTheCrashTheOtherCrashesAndWhatTheStackPointsTo) {
  ScratchFolder scratch;
  std::wstring path = scratch / L"crash.dmp";
  FakeCrash first(0xE0001234);
  FakeCrash second(0xE0005678);
  ASSERT_TRUE(diagnostics::PrepareMiniDumpWriter());
  HANDLE heap = ::HeapCreate(0, 0, 0);
  DWORD self = ::GetCurrentThreadId();
  diagnostics::CrashedThread others[] = {second.Crashed()};
  diagnostics::MiniDumpRequest request;
  request.crash = first.Crashed();
  request.otherCrashes = others;
  request.otherCrashCount = 1;
  request.skippedThreads = &self;
  request.skippedThreadCount = 1;
  request.privateHeap = heap;
  ASSERT_TRUE(diagnostics::WriteMiniDump(path.c_str(), request));
  ::HeapDestroy(heap);

  DumpReader dump(path);
  ASSERT_TRUE(dump.ok());
  const auto* exception = dump.Stream<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream);
  ASSERT_NE(nullptr, exception);
  EXPECT_EQ(first.id, exception->ThreadId);
  EXPECT_EQ(0xE0001234u, exception->ExceptionRecord.ExceptionCode);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(first.record.ExceptionAddress), exception->ExceptionRecord.ExceptionAddress);
  ASSERT_EQ(2u, exception->ExceptionRecord.NumberParameters);
  EXPECT_EQ(7u, exception->ExceptionRecord.ExceptionInformation[0]);
  EXPECT_EQ(0x1234u, exception->ExceptionRecord.ExceptionInformation[1]);
  EXPECT_EQ(InstructionPointer(first.context), InstructionPointer(dump.Context(exception->ThreadContext)));

  // Each crashed thread is described by its own exception's context.
  for (FakeCrash* crash : {&first, &second}) {
    const MINIDUMP_THREAD* thread = dump.Thread(crash->id);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(InstructionPointer(crash->context), InstructionPointer(dump.Context(thread->ThreadContext)));
    EXPECT_EQ(StackPointer(crash->context), thread->Stack.StartOfMemoryRange);
  }
  EXPECT_EQ(nullptr, dump.Thread(self));  // left out

  // The block a crashed thread's stack points to is in the dump.
  const char* marker = dump.Memory(reinterpret_cast<ULONG_PTR>(first.marker), 64);
  ASSERT_NE(nullptr, marker);
  EXPECT_EQ(std::string(64, 'Q'), std::string(marker, 64));
}

TEST(MiniDump, FileThatCannotBeCreated) {
  ScratchFolder scratch;
  EXPECT_FALSE(diagnostics::WriteMiniDump((scratch / L"missing\\x.dmp").c_str(), nullptr));
}

// Each module record carries what dbghelp writes from the module's image: its
// time stamp, size and checksum, its CodeView record and its fixed version
// information. The expected values come from the system's own readers.
TEST(MiniDump, ModuleRecordsCarryTheImagesIdentifiers) {
  ScratchFolder scratch;
  std::wstring path = scratch / L"modules.dmp";
  ASSERT_TRUE(diagnostics::WriteMiniDump(path.c_str(), nullptr));
  DumpReader dump(path);
  ASSERT_TRUE(dump.ok());
  const auto* modules = dump.Stream<MINIDUMP_MODULE_LIST>(ModuleListStream);
  ASSERT_NE(nullptr, modules);
  auto find = [&](HMODULE handle) -> const MINIDUMP_MODULE* {
    for (ULONG32 i = 0; i < modules->NumberOfModules; ++i) {
      if (modules->Modules[i].BaseOfImage == reinterpret_cast<ULONG_PTR>(handle)) return &modules->Modules[i];
    }
    return nullptr;
  };

  // The test program: linked with a CodeView record (RSDS, GUID, age, PDB name).
  HMODULE exe = ::GetModuleHandleW(nullptr);
  const MINIDUMP_MODULE* own = find(exe);
  ASSERT_NE(nullptr, own);
  PIMAGE_NT_HEADERS nt = ::ImageNtHeader(exe);
  ASSERT_NE(nullptr, nt);
  EXPECT_EQ(nt->FileHeader.TimeDateStamp, own->TimeDateStamp);
  EXPECT_EQ(nt->OptionalHeader.SizeOfImage, own->SizeOfImage);
  EXPECT_EQ(nt->OptionalHeader.CheckSum, own->CheckSum);
  ULONG debugSize = 0;
  const auto* debug = static_cast<const IMAGE_DEBUG_DIRECTORY*>(
      ::ImageDirectoryEntryToData(exe, TRUE, IMAGE_DIRECTORY_ENTRY_DEBUG, &debugSize));
  ASSERT_NE(nullptr, debug) << "the program has no debug directory";
  ASSERT_EQ(static_cast<DWORD>(IMAGE_DEBUG_TYPE_CODEVIEW), debug->Type);
  ASSERT_EQ(debug->SizeOfData, own->CvRecord.DataSize);
  const char* record = static_cast<const char*>(dump.At(own->CvRecord.Rva));
  EXPECT_EQ(0, std::memcmp(reinterpret_cast<const char*>(exe) + debug->AddressOfRawData, record, debug->SizeOfData));
  EXPECT_EQ(0, std::memcmp("RSDS", record, 4));
  EXPECT_STREQ("launcher_tests.pdb", record + 24);

  // kernel32: its version resource, as GetFileVersionInfo reads it from the file.
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const MINIDUMP_MODULE* system = find(kernel);
  ASSERT_NE(nullptr, system);
  wchar_t kernelPath[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(kernel, kernelPath, MAX_PATH), 0u);
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeW(kernelPath, &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(::GetFileVersionInfoW(kernelPath, 0, size, &block[0]));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(::VerQueryValueW(&block[0], L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  EXPECT_EQ(0xFEEF04BDu, system->VersionInfo.dwSignature);
  EXPECT_EQ(fixed->dwFileVersionMS, system->VersionInfo.dwFileVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, system->VersionInfo.dwFileVersionLS);
  EXPECT_EQ(fixed->dwProductVersionMS, system->VersionInfo.dwProductVersionMS);
  EXPECT_EQ(fixed->dwFileType, system->VersionInfo.dwFileType);
}
