#include "diagnostics/MiniDump.h"

#include <dbghelp.h>
#include <winternl.h>

#include <cpuid.h>

#include "base/UniqueHandle.h"
#include "diagnostics/MemoryRanges.h"
#include "diagnostics/ProcessBlock_win.h"

namespace diagnostics {

namespace {

// ---- System functions, looked up before they are needed --------------------

using NtQuerySystemInformationFunction = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
using NtQueryInformationThreadFunction = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using RtlGetVersionFunction = LONG(NTAPI*)(OSVERSIONINFOEXW*);

NtQuerySystemInformationFunction g_querySystem = nullptr;
NtQueryInformationThreadFunction g_queryThread = nullptr;
RtlGetVersionFunction g_getVersion = nullptr;

constexpr ULONG kSystemProcessInformation = 5;
constexpr ULONG kThreadBasicInformation = 0;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct ThreadBasicInformation {
  LONG exitStatus;
  PVOID tebBaseAddress;
  CLIENT_ID clientId;
  ULONG_PTR affinityMask;
  LONG priority;
  LONG basePriority;
};

// The system's layout of SystemProcessInformation: each process record is
// followed by its threads' records. winternl.h gives both with Windows' sizes.
static_assert(sizeof(SYSTEM_PROCESS_INFORMATION) == (sizeof(void*) == 8 ? 0x100 : 0xB8), "process record size");
static_assert(sizeof(SYSTEM_THREAD_INFORMATION) == (sizeof(void*) == 8 ? 0x50 : 0x40), "thread record size");

// ---- Limits -------------------------------------------------------------------

constexpr std::size_t kMaxThreads = 512;
constexpr std::size_t kMaxModules = 512;
constexpr std::size_t kStreamSlots = 8;
// One thread's stack beyond this is cut at its oldest end.
constexpr ULONG_PTR kMaxStackBytes = 16 * 1024 * 1024;
// Indirectly referenced memory: the crashed threads' stacks are scanned this
// far above their stack pointer, each pointer into readable data memory
// brings this much around it, and no more than kMaxIndirectBytes in all.
constexpr ULONG_PTR kIndirectScanBytes = 256 * 1024;
constexpr ULONG_PTR kIndirectHalfRange = 128;
constexpr std::uint64_t kMaxIndirectBytes = 1024 * 1024;
constexpr int kMaxRegionQueries = 8192;
constexpr DWORD kMaxCodeViewBytes = 1024;
constexpr DWORD kMaxModuleNameBytes = 32 * 1024;

// ---- State of the one dump being written ------------------------------------
// Static: the writer runs once per crash, when no heap may be used. The
// thread snapshot alone, whose size nobody can fix, comes from the request's
// private heap.

MINIDUMP_DIRECTORY g_directory[kStreamSlots];
std::size_t g_streamCount = 0;
MINIDUMP_THREAD g_threads[kMaxThreads];
std::size_t g_threadCount = 0;
MINIDUMP_MEMORY_DESCRIPTOR g_memory[kMaxThreads + MemoryRangeSet::kCapacity];
std::size_t g_memoryCount = 0;
MINIDUMP_MODULE g_modules[kMaxModules];
std::size_t g_moduleCount = 0;
MemoryRangeSet g_stackRanges;
MemoryRangeSet g_indirect;
DWORD g_threadIds[kMaxThreads];
std::size_t g_threadIdCount = 0;
// GetThreadContext wants a 16-byte aligned record on x86_64.
alignas(16) CONTEXT g_context;

// ---- Memory checks --------------------------------------------------------------

bool ReadableProtection(DWORD protect) {
  if (protect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
  return (protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                     PAGE_EXECUTE_WRITECOPY)) != 0;
}

// True when [address, address + size) is committed and readable throughout,
// so that reading it directly cannot fault.
bool Readable(const void* address, SIZE_T size) {
  ULONG_PTR at = reinterpret_cast<ULONG_PTR>(address);
  ULONG_PTR end = at + size;
  if (end < at || at < 0x10000) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info;
    if (!::VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof(info))) return false;
    if (info.State != MEM_COMMIT || !ReadableProtection(info.Protect)) return false;
    at = reinterpret_cast<ULONG_PTR>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

// ---- The file ---------------------------------------------------------------------

class DumpFile {
 public:
  explicit DumpFile(const wchar_t* path)
      : file_(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr)) {}

  bool ok() const { return file_.valid(); }

  // Appends |size| bytes and gives their position; false when the dump
  // would pass 4 GiB or the write fails. The bytes may come straight from
  // another thread's memory: the system checks the buffer and fails the
  // write, rather than faulting, when it is gone.
  bool Append(const void* data, std::size_t size, RVA* rva) {
    if (size > 0xFFFFFFFFull - end_) return false;
    if (!WriteAt(end_, data, size)) return false;
    *rva = static_cast<RVA>(end_);
    end_ += size;
    return true;
  }

  bool WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file_.get(), position, nullptr, FILE_BEGIN)) return false;
    const char* bytes = static_cast<const char*>(data);
    while (size) {
      DWORD piece = size > 0x1000000 ? 0x1000000 : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!::WriteFile(file_.get(), bytes, piece, &written, nullptr) || written != piece) return false;
      bytes += piece;
      size -= piece;
    }
    return true;
  }

  // Room for the header and the stream directory at the start.
  void Reserve(std::size_t size) { end_ = size; }

 private:
  base::UniqueFile file_;
  std::uint64_t end_ = 0;
};

bool AddStream(ULONG32 type, RVA rva, std::size_t size) {
  if (g_streamCount == kStreamSlots) return false;
  MINIDUMP_DIRECTORY& entry = g_directory[g_streamCount++];
  entry.StreamType = type;
  entry.Location.Rva = rva;
  entry.Location.DataSize = static_cast<ULONG32>(size);
  return true;
}

// Header and directory at the start of the file, for the streams written so
// far; the unused slots are marked unused, which readers skip.
bool WriteHeader(DumpFile* file) {
  MINIDUMP_HEADER header = {};
  header.Signature = 0x504D444Du;  // "MDMP"
  header.Version = MINIDUMP_VERSION;
  header.NumberOfStreams = kStreamSlots;
  header.StreamDirectoryRva = sizeof(MINIDUMP_HEADER);
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  header.TimeDateStamp = static_cast<ULONG32>(ticks / 10000000ull - 11644473600ull);
  header.Flags = MiniDumpScanMemory | MiniDumpWithIndirectlyReferencedMemory;
  MINIDUMP_DIRECTORY directory[kStreamSlots] = {};
  for (std::size_t i = 0; i < g_streamCount; ++i) directory[i] = g_directory[i];
  return file->WriteAt(0, &header, sizeof(header)) && file->WriteAt(sizeof(header), directory, sizeof(directory));
}

// A MINIDUMP_STRING: its length in bytes, the characters and a terminator.
bool AppendString(DumpFile* file, const wchar_t* text, ULONG32 bytes, RVA* rva) {
  RVA ignored;
  WCHAR terminator = 0;
  return file->Append(&bytes, sizeof(bytes), rva) && (bytes == 0 || file->Append(text, bytes, &ignored)) &&
         file->Append(&terminator, sizeof(terminator), &ignored);
}

bool AddMemory(ULONG64 start, RVA rva, std::size_t size) {
  if (g_memoryCount == sizeof(g_memory) / sizeof(g_memory[0])) return false;
  MINIDUMP_MEMORY_DESCRIPTOR& entry = g_memory[g_memoryCount++];
  entry.StartOfMemoryRange = start;
  entry.Memory.Rva = rva;
  entry.Memory.DataSize = static_cast<ULONG32>(size);
  return true;
}

ULONG_PTR StackPointerOf(const CONTEXT& context) {
#if defined(__x86_64__)
  return context.Rsp;
#elif defined(__i386__)
  return context.Esp;
#else
#error "the minidump writer knows i686 and x86_64 contexts only"
#endif
}

// ---- Parts of the dump ----------------------------------------------------------

bool WriteSystemStreams(DumpFile* file, const MiniDumpRequest& request) {
  SYSTEM_INFO system = {};
  ::GetSystemInfo(&system);
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!g_getVersion || g_getVersion(&version) != 0) version = OSVERSIONINFOEXW();

  MINIDUMP_SYSTEM_INFO info = {};
  info.ProcessorArchitecture = system.wProcessorArchitecture;
  info.ProcessorLevel = system.wProcessorLevel;
  info.ProcessorRevision = system.wProcessorRevision;
  info.NumberOfProcessors = static_cast<UCHAR>(system.dwNumberOfProcessors > 255 ? 255 : system.dwNumberOfProcessors);
  info.ProductType = version.wProductType;
  info.MajorVersion = version.dwMajorVersion;
  info.MinorVersion = version.dwMinorVersion;
  info.BuildNumber = version.dwBuildNumber;
  info.PlatformId = version.dwPlatformId;
  info.SuiteMask = version.wSuiteMask;
#if defined(__i386__)
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid(0, eax, ebx, ecx, edx);
  info.Cpu.X86CpuInfo.VendorId[0] = ebx;
  info.Cpu.X86CpuInfo.VendorId[1] = edx;
  info.Cpu.X86CpuInfo.VendorId[2] = ecx;
  __cpuid(1, eax, ebx, ecx, edx);
  info.Cpu.X86CpuInfo.VersionInformation = eax;
  info.Cpu.X86CpuInfo.FeatureInformation = edx;
#else
  for (DWORD feature = 0; feature < 128; ++feature) {
    if (::IsProcessorFeaturePresent(feature)) {
      info.Cpu.OtherCpuInfo.ProcessorFeatures[feature / 64] |= 1ull << (feature % 64);
    }
  }
#endif
  std::size_t csdBytes = 0;
  while (csdBytes / sizeof(WCHAR) < 127 && version.szCSDVersion[csdBytes / sizeof(WCHAR)]) csdBytes += sizeof(WCHAR);
  RVA rva;
  if (!AppendString(file, version.szCSDVersion, static_cast<ULONG32>(csdBytes), &info.CSDVersionRva) ||
      !file->Append(&info, sizeof(info), &rva) || !AddStream(SystemInfoStream, rva, sizeof(info))) {
    return false;
  }

  MINIDUMP_MISC_INFO misc = {};
  misc.SizeOfInfo = sizeof(misc);
  misc.Flags1 = MINIDUMP_MISC1_PROCESS_ID;
  misc.ProcessId = ::GetCurrentProcessId();
  FILETIME created, exited, kernel, user;
  if (::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    auto value = [](const FILETIME& t) {
      return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    misc.Flags1 |= MINIDUMP_MISC1_PROCESS_TIMES;
    misc.ProcessCreateTime = static_cast<ULONG32>(value(created) / 10000000ull - 11644473600ull);
    misc.ProcessUserTime = static_cast<ULONG32>(value(user) / 10000000ull);
    misc.ProcessKernelTime = static_cast<ULONG32>(value(kernel) / 10000000ull);
  }
  if (!file->Append(&misc, sizeof(misc), &rva) || !AddStream(MiscInfoStream, rva, sizeof(misc))) return false;

  const EXCEPTION_POINTERS* crash = request.crash.exception;
  if (!request.crash.threadId || !crash || !crash->ExceptionRecord || !crash->ContextRecord) return true;
  MINIDUMP_EXCEPTION_STREAM stream = {};
  stream.ThreadId = request.crash.threadId;
  const EXCEPTION_RECORD& record = *crash->ExceptionRecord;
  stream.ExceptionRecord.ExceptionCode = record.ExceptionCode;
  stream.ExceptionRecord.ExceptionFlags = record.ExceptionFlags;
  stream.ExceptionRecord.ExceptionRecord = reinterpret_cast<ULONG_PTR>(record.ExceptionRecord);
  stream.ExceptionRecord.ExceptionAddress = reinterpret_cast<ULONG_PTR>(record.ExceptionAddress);
  DWORD parameters = record.NumberParameters < EXCEPTION_MAXIMUM_PARAMETERS ? record.NumberParameters
                                                                            : EXCEPTION_MAXIMUM_PARAMETERS;
  stream.ExceptionRecord.NumberParameters = parameters;
  for (DWORD i = 0; i < parameters; ++i) stream.ExceptionRecord.ExceptionInformation[i] = record.ExceptionInformation[i];
  stream.ThreadContext.DataSize = sizeof(CONTEXT);
  return file->Append(crash->ContextRecord, sizeof(CONTEXT), &stream.ThreadContext.Rva) &&
         file->Append(&stream, sizeof(stream), &rva) && AddStream(ExceptionStream, rva, sizeof(stream));
}

// The identifiers of this process's threads, from the system's list.
bool ListThreads(HANDLE heap) {
  g_threadIdCount = 0;
  if (!g_querySystem || !heap) return false;
  ULONG size = 256 * 1024;
  void* buffer = nullptr;
  LONG status = kInfoLengthMismatch;
  for (int attempt = 0; attempt < 8 && status == kInfoLengthMismatch; ++attempt, size *= 2) {
    if (buffer) ::HeapFree(heap, 0, buffer);
    buffer = ::HeapAlloc(heap, 0, size);
    if (!buffer) return false;
    status = g_querySystem(kSystemProcessInformation, buffer, size, nullptr);
  }
  if (status != 0) {
    ::HeapFree(heap, 0, buffer);
    return false;
  }
  const char* entry = static_cast<const char*>(buffer);
  for (;;) {
    const auto* process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(entry);
    if (reinterpret_cast<ULONG_PTR>(process->UniqueProcessId) == ::GetCurrentProcessId()) {
      const auto* threads = reinterpret_cast<const SYSTEM_THREAD_INFORMATION*>(process + 1);
      for (ULONG i = 0; i < process->NumberOfThreads && g_threadIdCount < kMaxThreads; ++i) {
        g_threadIds[g_threadIdCount++] = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(threads[i].ClientId.UniqueThread));
      }
      break;
    }
    if (!process->NextEntryOffset) break;
    entry += process->NextEntryOffset;
  }
  ::HeapFree(heap, 0, buffer);
  return g_threadIdCount > 0;
}

bool Listed(const DWORD* ids, std::size_t count, DWORD id) {
  for (std::size_t i = 0; i < count; ++i) {
    if (ids[i] == id) return true;
  }
  return false;
}

const EXCEPTION_POINTERS* CrashOf(const MiniDumpRequest& request, DWORD id) {
  if (request.crash.threadId == id) return request.crash.exception;
  for (std::size_t i = 0; i < request.otherCrashCount; ++i) {
    if (request.otherCrashes[i].threadId == id) return request.otherCrashes[i].exception;
  }
  return nullptr;
}

// [stack pointer, stack base) of a thread: the committed stack above the
// pointer, bounded by the base its thread block names when that is sane.
bool StackRange(ULONG_PTR stackPointer, ULONG_PTR teb, ULONG_PTR* start, ULONG_PTR* end) {
  MEMORY_BASIC_INFORMATION info;
  if (!::VirtualQuery(reinterpret_cast<void*>(stackPointer), &info, sizeof(info)) || info.State != MEM_COMMIT ||
      !ReadableProtection(info.Protect)) {
    return false;
  }
  ULONG_PTR top = reinterpret_cast<ULONG_PTR>(info.BaseAddress) + info.RegionSize;
  if (teb && Readable(reinterpret_cast<void*>(teb), sizeof(NT_TIB))) {
    const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(teb);
    ULONG_PTR base = reinterpret_cast<ULONG_PTR>(tib->StackBase);
    if (base > stackPointer && base < top) top = base;
  }
  if (top - stackPointer > kMaxStackBytes) top = stackPointer + kMaxStackBytes;
  *start = stackPointer;
  *end = top;
  return true;
}

// One thread's context and stack, added to the thread list. A thread that
// crashed is described by its exception's context; any other is suspended
// while its context and stack are read.
void WriteThread(DumpFile* file, const MiniDumpRequest& request, DWORD id) {
  if (g_threadCount == kMaxThreads) return;
  base::UniqueHandle thread(
      ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, id));
  if (!thread) return;
  MINIDUMP_THREAD entry = {};
  entry.ThreadId = id;
  entry.Priority = static_cast<ULONG32>(::GetThreadPriority(thread.get()));
  entry.PriorityClass = ::GetPriorityClass(::GetCurrentProcess());
  ThreadBasicInformation basic = {};
  if (g_queryThread && g_queryThread(thread.get(), kThreadBasicInformation, &basic, sizeof(basic), nullptr) == 0) {
    entry.Teb = reinterpret_cast<ULONG_PTR>(basic.tebBaseAddress);
  }

  const EXCEPTION_POINTERS* crash = CrashOf(request, id);
  bool self = id == ::GetCurrentThreadId();
  bool suspended = false;
  const CONTEXT* context = nullptr;
  if (crash && crash->ContextRecord) {
    context = crash->ContextRecord;
  } else if (self) {
    ::RtlCaptureContext(&g_context);
    context = &g_context;
  } else {
    DWORD previous = ::SuspendThread(thread.get());
    if (previous == static_cast<DWORD>(-1)) return;
    suspended = true;
    entry.SuspendCount = previous;
    g_context.ContextFlags = CONTEXT_ALL;
    if (::GetThreadContext(thread.get(), &g_context)) context = &g_context;
  }
  ULONG_PTR start = 0;
  ULONG_PTR end = 0;
  if (context && file->Append(context, sizeof(CONTEXT), &entry.ThreadContext.Rva)) {
    entry.ThreadContext.DataSize = sizeof(CONTEXT);
    if (StackRange(StackPointerOf(*context), static_cast<ULONG_PTR>(entry.Teb), &start, &end) &&
        file->Append(reinterpret_cast<void*>(start), end - start, &entry.Stack.Memory.Rva)) {
      entry.Stack.StartOfMemoryRange = start;
      entry.Stack.Memory.DataSize = static_cast<ULONG32>(end - start);
      AddMemory(start, entry.Stack.Memory.Rva, end - start);
      g_stackRanges.Add(start, end);
    }
  }
  if (suspended) ::ResumeThread(thread.get());
  if (entry.ThreadContext.DataSize) g_threads[g_threadCount++] = entry;
}

// Adds around |value| the readable data memory it may point to.
void ConsiderPointer(ULONG_PTR value, int* queries, MEMORY_BASIC_INFORMATION* last) {
  if (value < 0x10000 || g_stackRanges.Contains(value) || g_indirect.Contains(value)) return;
  ULONG_PTR base = reinterpret_cast<ULONG_PTR>(last->BaseAddress);
  if (value < base || value - base >= last->RegionSize) {
    if (*queries >= kMaxRegionQueries) return;
    ++*queries;
    if (!::VirtualQuery(reinterpret_cast<void*>(value), last, sizeof(*last))) {
      *last = MEMORY_BASIC_INFORMATION();
      return;
    }
    base = reinterpret_cast<ULONG_PTR>(last->BaseAddress);
  }
  // Module images are in the module files; stacks are in the dump already.
  if (last->State != MEM_COMMIT || last->Type == MEM_IMAGE || !ReadableProtection(last->Protect)) return;
  ULONG_PTR regionEnd = base + last->RegionSize;
  ULONG_PTR from = value - base > kIndirectHalfRange ? value - kIndirectHalfRange : base;
  ULONG_PTR to = regionEnd - value > kIndirectHalfRange ? value + kIndirectHalfRange : regionEnd;
  g_indirect.Add(from, to);
}

// The memory that the crashed threads' stacks point to.
void WriteIndirectMemory(DumpFile* file, const MiniDumpRequest& request) {
  g_indirect.Clear();
  int queries = 0;
  MEMORY_BASIC_INFORMATION last = {};
  for (std::size_t t = 0; t < g_threadCount; ++t) {
    const MINIDUMP_THREAD& thread = g_threads[t];
    if (!CrashOf(request, thread.ThreadId) || !thread.Stack.Memory.DataSize) continue;
    // The crashed thread waits in the crash handler: its stack above the
    // crash stays as it was and is read directly.
    const ULONG_PTR* word = reinterpret_cast<const ULONG_PTR*>(thread.Stack.StartOfMemoryRange);
    ULONG_PTR bytes = thread.Stack.Memory.DataSize < kIndirectScanBytes ? thread.Stack.Memory.DataSize
                                                                          : kIndirectScanBytes;
    for (ULONG_PTR i = 0; i < bytes / sizeof(ULONG_PTR); ++i) {
      if (g_indirect.TotalBytes() >= kMaxIndirectBytes || g_indirect.size() == MemoryRangeSet::kCapacity) break;
      ConsiderPointer(word[i], &queries, &last);
    }
  }
  for (std::size_t i = 0; i < g_indirect.size(); ++i) {
    const MemoryRange& range = g_indirect[i];
    RVA rva;
    std::size_t size = static_cast<std::size_t>(range.end - range.start);
    // Another thread may free the memory meanwhile: the write then fails
    // and the range is left out.
    if (file->Append(reinterpret_cast<void*>(static_cast<ULONG_PTR>(range.start)), size, &rva)) {
      AddMemory(range.start, rva, size);
    }
  }
}

bool WriteThreadStreams(DumpFile* file, const MiniDumpRequest& request) {
  g_threadCount = 0;
  g_memoryCount = 0;
  g_stackRanges.Clear();
  if (!ListThreads(request.privateHeap)) {
    // Without the system's list the crashed threads are still described.
    g_threadIdCount = 0;
    if (request.crash.threadId) g_threadIds[g_threadIdCount++] = request.crash.threadId;
  }
  for (std::size_t i = 0; i < g_threadIdCount; ++i) {
    if (!Listed(request.skippedThreads, request.skippedThreadCount, g_threadIds[i])) {
      WriteThread(file, request, g_threadIds[i]);
    }
  }
  WriteIndirectMemory(file, request);

  ULONG32 count = static_cast<ULONG32>(g_threadCount);
  RVA rva, ignored;
  if (!file->Append(&count, sizeof(count), &rva) ||
      (count && !file->Append(g_threads, count * sizeof(MINIDUMP_THREAD), &ignored)) ||
      !AddStream(ThreadListStream, rva, sizeof(count) + count * sizeof(MINIDUMP_THREAD))) {
    return false;
  }
  count = static_cast<ULONG32>(g_memoryCount);
  return file->Append(&count, sizeof(count), &rva) &&
         (!count || file->Append(g_memory, count * sizeof(MINIDUMP_MEMORY_DESCRIPTOR), &ignored)) &&
         AddStream(MemoryListStream, rva, sizeof(count) + count * sizeof(MINIDUMP_MEMORY_DESCRIPTOR));
}

// A pointer to |size| readable bytes at |rva| inside an image of |imageSize|
// bytes, or null.
const char* ImageBytes(const char* base, DWORD imageSize, DWORD rva, DWORD size) {
  if (rva >= imageSize || size > imageSize - rva) return nullptr;
  return Readable(base + rva, size) ? base + rva : nullptr;
}

// The first entry of one level of a resource directory, or the entry with
// the identifier |id| when it is not 0; the entry's offset from the
// directory's start, or 0.
DWORD ResourceEntry(const char* base, DWORD imageSize, DWORD rootRva, DWORD offset, WORD id) {
  const auto* dir =
      reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY*>(ImageBytes(base, imageSize, rootRva + offset, sizeof(IMAGE_RESOURCE_DIRECTORY)));
  if (!dir) return 0;
  DWORD count = static_cast<DWORD>(dir->NumberOfNamedEntries) + dir->NumberOfIdEntries;
  if (count > 4096) return 0;
  const auto* entries = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY_ENTRY*>(
      ImageBytes(base, imageSize, rootRva + offset + sizeof(IMAGE_RESOURCE_DIRECTORY),
                 count * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY)));
  if (!entries) return 0;
  for (DWORD i = 0; i < count; ++i) {
    if (id && (entries[i].NameIsString || entries[i].Id != id)) continue;
    return entries[i].OffsetToData;
  }
  return 0;
}

// The module's fixed version information (VS_FIXEDFILEINFO of its version
// resource), read from the mapped image as dbghelp does; false when it has
// none.
bool ReadFixedVersion(const char* base, const IMAGE_NT_HEADERS& nt, VS_FIXEDFILEINFO* out) {
  const IMAGE_DATA_DIRECTORY& resources = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
  DWORD imageSize = nt.OptionalHeader.SizeOfImage;
  DWORD root = resources.VirtualAddress;
  if (!root || !resources.Size) return false;
  // Type RT_VERSION, then the first name and the first language: each a
  // subdirectory (high bit) but the last, which is the data entry.
  DWORD types = ResourceEntry(base, imageSize, root, 0, 16);
  if (!(types & IMAGE_RESOURCE_DATA_IS_DIRECTORY)) return false;
  DWORD names = ResourceEntry(base, imageSize, root, types & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY, 0);
  if (!(names & IMAGE_RESOURCE_DATA_IS_DIRECTORY)) return false;
  DWORD language = ResourceEntry(base, imageSize, root, names & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY, 0);
  if (!language || (language & IMAGE_RESOURCE_DATA_IS_DIRECTORY)) return false;
  const auto* data = reinterpret_cast<const IMAGE_RESOURCE_DATA_ENTRY*>(
      ImageBytes(base, imageSize, root + language, sizeof(IMAGE_RESOURCE_DATA_ENTRY)));
  // VS_VERSIONINFO: three WORDs and L"VS_VERSION_INFO" with its terminator,
  // then the fixed part on a 32-bit boundary.
  constexpr DWORD kFixedOffset = (3 * sizeof(WORD) + sizeof(L"VS_VERSION_INFO") + 3) & ~3u;
  if (!data || data->Size < kFixedOffset + sizeof(VS_FIXEDFILEINFO)) return false;
  const char* block = ImageBytes(base, imageSize, data->OffsetToData, kFixedOffset + sizeof(VS_FIXEDFILEINFO));
  if (!block) return false;
  WORD valueLength = *reinterpret_cast<const WORD*>(block + sizeof(WORD));
  const auto* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(block + kFixedOffset);
  if (valueLength < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != 0xFEEF04BDu) return false;
  *out = *fixed;
  return true;
}

// One loaded module, from its entry in the loader's list and its headers.
void WriteModule(DumpFile* file, const LDR_DATA_TABLE_ENTRY* module) {
  if (g_moduleCount == kMaxModules) return;
  const char* base = static_cast<const char*>(module->DllBase);
  if (!Readable(base, sizeof(IMAGE_DOS_HEADER))) return;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 || dos->e_lfanew > 0x10000) return;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (!Readable(nt, sizeof(*nt)) || nt->Signature != IMAGE_NT_SIGNATURE ||
      nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) {
    return;
  }
  MINIDUMP_MODULE entry = {};
  entry.BaseOfImage = reinterpret_cast<ULONG_PTR>(base);
  entry.SizeOfImage = nt->OptionalHeader.SizeOfImage;
  entry.CheckSum = nt->OptionalHeader.CheckSum;
  entry.TimeDateStamp = nt->FileHeader.TimeDateStamp;

  const UNICODE_STRING& name = module->FullDllName;
  ULONG32 nameBytes = name.Length <= kMaxModuleNameBytes ? name.Length & ~1u : 0;
  if (nameBytes && !Readable(name.Buffer, nameBytes)) nameBytes = 0;
  if (!AppendString(file, name.Buffer, nameBytes, &entry.ModuleNameRva)) return;

  // The CodeView record (the PDB's name and signature) lets a debugger find
  // the module's symbols.
  const IMAGE_DATA_DIRECTORY& debug = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG];
  const auto* entries = reinterpret_cast<const IMAGE_DEBUG_DIRECTORY*>(base + debug.VirtualAddress);
  std::size_t debugCount = debug.Size / sizeof(IMAGE_DEBUG_DIRECTORY);
  if (debug.VirtualAddress && debug.VirtualAddress < entry.SizeOfImage && debugCount < 64 &&
      Readable(entries, debugCount * sizeof(IMAGE_DEBUG_DIRECTORY))) {
    for (std::size_t i = 0; i < debugCount; ++i) {
      const IMAGE_DEBUG_DIRECTORY& d = entries[i];
      if (d.Type != IMAGE_DEBUG_TYPE_CODEVIEW || !d.AddressOfRawData || !d.SizeOfData ||
          d.SizeOfData > kMaxCodeViewBytes || d.AddressOfRawData >= entry.SizeOfImage ||
          !Readable(base + d.AddressOfRawData, d.SizeOfData)) {
        continue;
      }
      if (file->Append(base + d.AddressOfRawData, d.SizeOfData, &entry.CvRecord.Rva)) {
        entry.CvRecord.DataSize = d.SizeOfData;
      }
      break;
    }
  }
  ReadFixedVersion(base, *nt, &entry.VersionInfo);
  g_modules[g_moduleCount++] = entry;
}

// The loaded modules, walked in the loader's list without its lock: the
// crashed thread may hold that lock, and the list is only read.
bool WriteModuleStream(DumpFile* file) {
  g_moduleCount = 0;
  const PEB* peb = CurrentPeb();
  if (Readable(peb, sizeof(*peb)) && Readable(peb->Ldr, sizeof(PEB_LDR_DATA))) {
    const LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
    const LIST_ENTRY* link = head->Flink;
    // Bounded: a list torn by a crash in the loader must not loop forever.
    for (std::size_t guard = 0; link != head && guard < 4 * kMaxModules; ++guard) {
      const auto* module = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
      if (!Readable(module, sizeof(*module))) break;
      if (module->DllBase) WriteModule(file, module);
      link = link->Flink;
    }
  }
  ULONG32 count = static_cast<ULONG32>(g_moduleCount);
  RVA rva, ignored;
  return file->Append(&count, sizeof(count), &rva) &&
         (!count || file->Append(g_modules, count * sizeof(MINIDUMP_MODULE), &ignored)) &&
         AddStream(ModuleListStream, rva, sizeof(count) + count * sizeof(MINIDUMP_MODULE));
}

}  // namespace

bool PrepareMiniDumpWriter() {
  if (g_querySystem && g_queryThread && g_getVersion) return true;
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (!ntdll) return false;
  g_querySystem =
      reinterpret_cast<NtQuerySystemInformationFunction>(::GetProcAddress(ntdll, "NtQuerySystemInformation"));
  g_queryThread =
      reinterpret_cast<NtQueryInformationThreadFunction>(::GetProcAddress(ntdll, "NtQueryInformationThread"));
  g_getVersion = reinterpret_cast<RtlGetVersionFunction>(::GetProcAddress(ntdll, "RtlGetVersion"));
  return g_querySystem && g_queryThread && g_getVersion;
}

bool WriteMiniDump(const wchar_t* path, const MiniDumpRequest& request) {
  if (!path || !g_querySystem) return false;
  DumpFile file(path);
  if (!file.ok()) return false;
  g_streamCount = 0;
  file.Reserve(sizeof(MINIDUMP_HEADER) + sizeof(g_directory));
  // Each part ends by rewriting the header, so the file is a dump from the
  // first part on; the parts go from the safest to the one that follows
  // pointers of the loader.
  if (!WriteSystemStreams(&file, request) || !WriteHeader(&file)) return false;
  if (!WriteThreadStreams(&file, request) || !WriteHeader(&file)) return false;
  return WriteModuleStream(&file) && WriteHeader(&file);
}

}  // namespace diagnostics
