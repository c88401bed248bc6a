// The system report: a plain-text description of the machine (Windows build
// and edition, memory, processor, display adapter) and of every running
// process with its image path, in a fixed line layout. It goes beside each
// crash dump and each failed game start's note, for the crash-report uploader.
//
// The file is written in code page 936 (Simplified Chinese) with CR LF line
// ends and no byte-order mark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace diagnostics {

// Writes the report to |path|, replacing the file. Nothing is written when
// the file cannot be created; every other failure only leaves its lines out.
// Blocks for at least 1.05 seconds (processor frequency and usage samples)
// plus the task list's run.
void WriteSystemReport(const wchar_t* path);

// The processor brand string (cpuid 0x80000002..4), trimmed of spaces.
std::wstring GetCpuName();

// Description of the first display adapter class key, or empty.
std::wstring GetDisplayAdapterName();

// Busy share of all processors over one second, in percent.
int GetCpuUsage();

// ---- Line layout (no Windows calls) ------------------------------------------

// Header of the process rows: the nine columns of the verbose CSV task list
// and the image path that the report adds.
extern const wchar_t kTaskListHeader[];

// "Memory: Usage[63] Total[16GB] Free[5GB]"; byte counts in whole GiB.
std::wstring FormatMemoryLine(unsigned long loadPercent, std::uint64_t totalBytes, std::uint64_t freeBytes);

// "CPU: Usage[u] Frequency[fGHz] Count[c] Name[n]".
std::wstring FormatCpuLine(long long usagePercent, int frequencyGhz, unsigned long count, const std::wstring& name);

// Whole GHz from two time-stamp counter readings 50 ms apart: the low 32
// bits' difference as a signed number, / 50000 (MHz), >> 10.
int FrequencyGhzFromTicks(std::uint64_t before, std::uint64_t after);

// (kernel + user - idle) * 100 / (kernel + user) of the three time
// differences (kernel time includes idle time); 0 when no time passed.
int CpuUsageFromTimes(std::int64_t idle, std::int64_t kernel, std::int64_t user);

// |name| without spaces at either end; a name of spaces only, or empty, as it is.
std::wstring TrimCpuName(const std::wstring& name);

// The captured task list, with one line feed appended, split at every line
// feed; each line keeps what precedes its line feed (a CR included).
std::vector<std::string> SplitTaskListLines(const std::string& output);

// The PID of a CSV task-list line: the leading digits after the first
// "," (0 when none, or when they overflow 32 bits). False for a line without
// "," at all, which makes no row.
bool ParseTaskListPid(const std::string& line, unsigned long* pid);

// The report row of a task-list line (already wide): the line without its
// trailing CR and closing quote, then "," the image path and a closing
// quote, so the path forms a tenth quoted column.
std::wstring FormatTaskRow(const std::wstring& line, const std::wstring& imagePath);

}  // namespace diagnostics
