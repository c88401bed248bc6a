// Lists or extracts a ZIP archive through the launcher's archive reader.
//
//   zipx list ARCHIVE
//     one line per entry: index, attributes (hex), compressed size,
//     uncompressed size, last write (UTC), name (UTF-8), tab-separated; an
//     entry whose record cannot be read shows "index<TAB>result 0x...".
//   zipx extract [--stats] ARCHIVE FOLDER
//     extracts as the launcher's deployment does (ExtractAllEntries: two
//     readers on a machine with two processors) and prints "result 0x0",
//     or the first failing result with its entry ("result 0x... entry INDEX
//     NAME"; the name is empty when the entry's record failed). --stats adds
//     the entry count, the bytes the archive unpacks to, the process's peak
//     memory and the time spent in the extraction itself.
//   zipx blank ARCHIVE FOLDER
//     writes the archive's tree with zeros instead of the entries' data: the
//     folders, then every file with the calls an extraction makes
//     (CreateFileW, 64 KiB WriteFiles, SetFileTime, CloseHandle) on two
//     threads, in no particular order. What the file system alone costs,
//     for the benchmark; prints "blank N files".
//
// Exit code 0 on success, 1 on any failure, 2 for a wrong command line.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "archive/ZipReader.h"
#include "deploy/ParallelExtraction.h"

namespace {

std::string ToUtf8(const wchar_t* text) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

std::string FormatUtc(const FILETIME& ft) {
  SYSTEMTIME st = {};
  if (!::FileTimeToSystemTime(&ft, &st)) return "-";
  char text[32];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond);
  return text;
}

// Bytes as they are: names are UTF-8 whatever the console's code page.
void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%lX", value);
  return text;
}

int List(const wchar_t* path) {
  archive::UniqueArchive zip(archive::ArchiveOpen(path));
  if (!zip) {
    Print("result open failed: not a readable ZIP archive");
    return 1;
  }
  archive::ArchiveEntry entry;
  archive::ArchiveGetEntry(zip.get(), -1, &entry);
  int count = entry.index;
  int status = 0;
  for (int i = 0; i < count; ++i) {
    archive::ZipResult r = archive::ArchiveGetEntry(zip.get(), i, &entry);
    if (r != archive::ZipOk) {
      Print(std::to_string(i) + "\tresult " + Hex(r));
      status = 1;
      continue;
    }
    Print(std::to_string(i) + "\t" + Hex(entry.attributes) + "\t" + std::to_string(entry.compressedSize) + "\t" +
          std::to_string(entry.uncompressedSize) + "\t" + FormatUtc(entry.lastWriteTime) + "\t" +
          ToUtf8(entry.name));
  }
  return status;
}

double Seconds() {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart) / double(frequency.QuadPart);
}

int Extract(const wchar_t* path, const wchar_t* folder, bool stats) {
  double started = Seconds();
  deploy::ExtractionOutcome outcome = deploy::ExtractAllEntries(path, folder);
  double elapsed = Seconds() - started;
  if (!outcome.opened) {
    Print("result open failed: not a readable ZIP archive");
    return 1;
  }
  if (outcome.result == archive::ZipOk) Print("result 0x0");
  if (outcome.result != archive::ZipOk && outcome.failedEntry < 0) Print("result " + Hex(outcome.result));
  if (outcome.failedEntry < 0 && !stats) return outcome.result == archive::ZipOk ? 0 : 1;

  // The failing entry's name and the figures, read after the clock stopped
  // through a reader of their own.
  archive::UniqueArchive zip(archive::ArchiveOpen(path));
  if (!zip) return 1;
  archive::ArchiveEntry entry;
  if (outcome.failedEntry >= 0) {
    archive::ArchiveGetEntry(zip.get(), outcome.failedEntry, &entry);  // the name stays empty when its record fails
    Print("result " + Hex(outcome.result) + " entry " + std::to_string(outcome.failedEntry) + " " +
          ToUtf8(entry.name));
  }
  if (stats) {
    archive::ArchiveGetEntry(zip.get(), -1, &entry);
    int count = entry.index;
    long long bytes = 0;
    for (int i = 0; i < count; ++i) {
      if (archive::ArchiveGetEntry(zip.get(), i, &entry) == archive::ZipOk &&
          !(entry.attributes & archive::kEntryFolder)) {
        bytes += static_cast<unsigned>(entry.uncompressedSize);
      }
    }
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof(pmc));
    Print("stats entries " + std::to_string(count) + " bytes " + std::to_string(bytes) + " peak_working_set " +
          std::to_string(pmc.PeakWorkingSetSize) + " peak_private " + std::to_string(pmc.PeakPagefileUsage) +
          " extract_ms " + std::to_string(static_cast<long long>(elapsed * 1000)));
  }
  return outcome.result == archive::ZipOk ? 0 : 1;
}

struct BlankTree {
  std::vector<std::wstring> files;
  std::vector<DWORD> sizes;
  LONG next = 0;
};

DWORD WINAPI WriteBlankFiles(void* param) {
  auto* tree = static_cast<BlankTree*>(param);
  static const unsigned char zeros[65536] = {};
  FILETIME time = {0x12345678, 0x01D00000};
  for (;;) {
    LONG i = ::InterlockedIncrement(&tree->next) - 1;
    if (i >= static_cast<LONG>(tree->files.size())) return 0;
    HANDLE file = ::CreateFileW(tree->files[i].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    for (DWORD left = tree->sizes[i], written = 0; left > 0; left -= written) {
      if (!::WriteFile(file, zeros, left < sizeof(zeros) ? left : sizeof(zeros), &written, nullptr)) break;
    }
    ::SetFileTime(file, &time, &time, &time);
    ::CloseHandle(file);
  }
}

int Blank(const wchar_t* path, const wchar_t* folder) {
  archive::UniqueArchive zip(archive::ArchiveOpen(path));
  if (!zip) {
    Print("result open failed: not a readable ZIP archive");
    return 1;
  }
  archive::ArchiveEntry entry;
  archive::ArchiveGetEntry(zip.get(), -1, &entry);
  int count = entry.index;
  std::vector<std::wstring> folders;
  BlankTree tree;
  for (int i = 0; i < count; ++i) {
    if (archive::ArchiveGetEntry(zip.get(), i, &entry) != archive::ZipOk) continue;
    std::wstring name = std::wstring(folder) + L"\\" + entry.name;
    if (entry.attributes & archive::kEntryFolder) {
      folders.push_back(name);
    } else {
      tree.files.push_back(name);
      tree.sizes.push_back(static_cast<DWORD>(entry.uncompressedSize));
    }
  }
  zip.reset();
  ::CreateDirectoryW(folder, nullptr);
  for (const std::wstring& name : folders) ::CreateDirectoryW(name.c_str(), nullptr);
  HANDLE helper = ::CreateThread(nullptr, 0, WriteBlankFiles, &tree, 0, nullptr);
  WriteBlankFiles(&tree);
  if (helper) {
    ::WaitForSingleObject(helper, INFINITE);
    ::CloseHandle(helper);
  }
  Print("blank " + std::to_string(tree.files.size()) + " files");
  return 0;
}

int Usage() {
  Print("usage: zipx list ARCHIVE | zipx extract [--stats] ARCHIVE FOLDER | zipx blank ARCHIVE FOLDER");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && !std::wcscmp(argv[1], L"list")) return List(argv[2]);
  if (argc == 4 && !std::wcscmp(argv[1], L"blank")) return Blank(argv[2], argv[3]);
  if (argc >= 4 && !std::wcscmp(argv[1], L"extract")) {
    bool stats = !std::wcscmp(argv[2], L"--stats");
    int at = stats ? 3 : 2;
    if (argc != at + 2) return Usage();
    return Extract(argv[at], argv[at + 1], stats);
  }
  return Usage();
}
