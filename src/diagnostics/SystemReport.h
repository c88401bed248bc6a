// The system report: a plain-text description of the machine (Windows build
// and edition, memory, processor, display adapter) and of every running
// process with its image path, in a fixed line layout. It goes beside each
// crash dump and each failed game start's note, for the crash-report uploader.
//
// The file is written in code page 936 (Simplified Chinese) with CR LF line
// ends and no byte-order mark.
//
// The writer takes no memory from the process heap or the C runtime: the
// crash handler runs it in a process whose heaps may be corrupted or locked
// by the thread that crashed. Fixed buffers hold every line of the fixed
// part; the task list and its rows, whose size nobody fixes, live in a
// private heap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace diagnostics {

constexpr std::size_t kReportLineChars = 512;   // one line of the report's fixed part
constexpr std::size_t kCpuNameChars = 49;       // the 48-byte brand string and a terminator
constexpr std::size_t kAdapterNameChars = 65;   // a 128-byte registry text and a terminator

// Writes the report to |path|, replacing the file. Nothing is written when
// the file cannot be created; every other failure only leaves its lines out.
// Blocks for at least 1.05 seconds (processor frequency and usage samples)
// plus the task list's run. This overload makes a private heap for the call.
void WriteSystemReport(const wchar_t* path);

// The same, taking the variable-size parts from |privateHeap| (a heap of
// HeapCreate, made before it is needed): the crash handler's way.
void WriteSystemReport(const wchar_t* path, void* privateHeap);

// The processor brand string (cpuid 0x80000002..4) in code page 936, trimmed
// of spaces; empty when the processor has none.
void GetCpuName(wchar_t (&name)[kCpuNameChars]);

// Description of the first display adapter class key, or empty.
void GetDisplayAdapterName(wchar_t (&name)[kAdapterNameChars]);

// Busy share of all processors over one second, in percent.
int GetCpuUsage();

// ---- Line layout (no Windows calls) ------------------------------------------

// Header of the process rows: the nine columns of the verbose CSV task list
// and the image path that the report adds.
extern const wchar_t kTaskListHeader[];

// "Memory: Usage[63] Total[16GB] Free[5GB]"; byte counts in whole GiB.
bool FormatMemoryLine(unsigned long loadPercent, std::uint64_t totalBytes, std::uint64_t freeBytes,
                      wchar_t (&line)[kReportLineChars]);

// "CPU: Usage[u] Frequency[fGHz] Count[c] Name[n]".
bool FormatCpuLine(long long usagePercent, int frequencyGhz, unsigned long count, const wchar_t* name,
                   wchar_t (&line)[kReportLineChars]);

// Whole GHz from two time-stamp counter readings 50 ms apart: the low 32
// bits' difference as a signed number, / 50000 (MHz), >> 10.
int FrequencyGhzFromTicks(std::uint64_t before, std::uint64_t after);

// (kernel + user - idle) * 100 / (kernel + user) of the three time
// differences (kernel time includes idle time); 0 when no time passed.
int CpuUsageFromTimes(std::int64_t idle, std::int64_t kernel, std::int64_t user);

// |name| without spaces at either end, in place; a name of spaces only, or
// empty, stays as it is.
void TrimCpuName(wchar_t (&name)[kCpuNameChars]);

// A stretch of bytes inside a larger text.
struct TextSpan {
  const char* data = nullptr;
  std::size_t size = 0;
};

// The captured task list read as if one line feed were appended and the
// text split at every line feed: each call gives the next line (what
// precedes its line feed, a CR included) and moves |*position| past it.
// Start with |*position| 0; false once every line was given.
bool NextTaskListLine(const char* text, std::size_t size, std::size_t* position, TextSpan* line);

// The PID of a CSV task-list line: the leading digits after the first
// "," (0 when none, or when they overflow 32 bits). False for a line without
// "," at all, which makes no row.
bool ParseTaskListPid(const char* line, std::size_t size, unsigned long* pid);

// How many characters of a task-list line (already wide) begin its report
// row: the line without its trailing CRs and without its closing quote. The
// row goes on with "," the image path and a closing quote, so the path forms
// a tenth quoted column; *closingQuote is false when the line did not end in
// a quote, and the row then goes on with ," instead.
std::size_t TaskRowKeptChars(const wchar_t* line, std::size_t size, bool* closingQuote);

}  // namespace diagnostics
