// Lists or extracts a ZIP archive through the launcher's archive reader.
//
//   zipx list ARCHIVE
//     one line per entry: index, attributes (hex), compressed size,
//     uncompressed size, last write (UTC), name (UTF-8), tab-separated; an
//     entry whose record cannot be read shows "index<TAB>result 0x...".
//   zipx extract [--stats] ARCHIVE FOLDER
//     extracts as the launcher's deployment does (open, base folder, every
//     entry in order, close) and prints "result 0x0", or the first failing
//     result with its entry. --stats adds the entry count, the bytes written
//     and the process's peak memory.
//
// Exit code 0 on success, 1 on any failure, 2 for a wrong command line.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "archive/ZipReader.h"

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

int Extract(const wchar_t* path, const wchar_t* folder, bool stats) {
  archive::UniqueArchive zip(archive::ArchiveOpen(path));
  if (!zip) {
    Print("result open failed: not a readable ZIP archive");
    return 1;
  }
  archive::ArchiveEntry entry;
  archive::ZipResult r = archive::ArchiveSetBaseFolder(zip.get(), folder);
  if (r == archive::ZipOk) r = archive::ArchiveGetEntry(zip.get(), -1, &entry);
  if (r != archive::ZipOk) {
    Print("result " + Hex(r));
    return 1;
  }
  int count = entry.index;
  long long bytes = 0;
  for (int i = 0; i < count && r == archive::ZipOk; ++i) {
    archive::ArchiveGetEntry(zip.get(), i, &entry);  // as deployment: only the extraction's result counts
    r = archive::ArchiveExtractEntry(zip.get(), i, entry.name);
    if (r != archive::ZipOk) {
      Print("result " + Hex(r) + " entry " + std::to_string(i) + " " + ToUtf8(entry.name));
    } else if (!(entry.attributes & archive::kEntryFolder)) {
      bytes += static_cast<unsigned>(entry.uncompressedSize);
    }
  }
  zip.reset();
  if (r == archive::ZipOk) Print("result 0x0");
  if (stats) {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof(pmc));
    Print("stats entries " + std::to_string(count) + " bytes " + std::to_string(bytes) + " peak_working_set " +
          std::to_string(pmc.PeakWorkingSetSize) + " peak_private " + std::to_string(pmc.PeakPagefileUsage));
  }
  return r == archive::ZipOk ? 0 : 1;
}

int Usage() {
  Print("usage: zipx list ARCHIVE | zipx extract [--stats] ARCHIVE FOLDER");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && !std::wcscmp(argv[1], L"list")) return List(argv[2]);
  if (argc >= 4 && !std::wcscmp(argv[1], L"extract")) {
    bool stats = !std::wcscmp(argv[2], L"--stats");
    int at = stats ? 3 : 2;
    if (argc != at + 2) return Usage();
    return Extract(argv[at], argv[at + 1], stats);
  }
  return Usage();
}
