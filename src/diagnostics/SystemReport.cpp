#include "diagnostics/SystemReport.h"

#include "base/FixedText.h"
#include "diagnostics/NumberText.h"

namespace diagnostics {

const wchar_t kTaskListHeader[] =
    L"\"映像名称\",\"PID\",\"会话名\",\"会话#\",\"内存使用\",\"状态\",\"用户名\",\"CPU时间\",\"窗口标题\",\"运行路径\"";

bool FormatMemoryLine(unsigned long loadPercent, std::uint64_t totalBytes, std::uint64_t freeBytes,
                      wchar_t (&line)[kReportLineChars]) {
  wchar_t text[kReportLineChars] = L"Memory: Usage[";
  if (!AppendUnsigned(text, loadPercent) || !base::AppendText(text, L"] Total[") ||
      !AppendUnsigned(text, totalBytes >> 30) || !base::AppendText(text, L"GB] Free[") ||
      !AppendUnsigned(text, freeBytes >> 30) || !base::AppendText(text, L"GB]")) {
    return false;
  }
  return base::CopyText(line, text);
}

bool FormatCpuLine(long long usagePercent, int frequencyGhz, unsigned long count, const wchar_t* name,
                   wchar_t (&line)[kReportLineChars]) {
  wchar_t text[kReportLineChars] = L"CPU: Usage[";
  if (!AppendDecimal(text, usagePercent) || !base::AppendText(text, L"] Frequency[") ||
      !AppendDecimal(text, frequencyGhz) || !base::AppendText(text, L"GHz] Count[") ||
      !AppendUnsigned(text, count) || !base::AppendText(text, L"] Name[", name, L"]")) {
    return false;
  }
  return base::CopyText(line, text);
}

int FrequencyGhzFromTicks(std::uint64_t before, std::uint64_t after) {
  // Only the low halves are compared, so a counter that wrapped its low 32
  // bits in between still gives the right difference.
  std::uint32_t delta = static_cast<std::uint32_t>(after) - static_cast<std::uint32_t>(before);
  std::int32_t signedDelta = static_cast<std::int32_t>(delta);
  std::int32_t mhz = signedDelta / 50000;
  // Arithmetic shift: rounds down, also for a negative difference.
  return mhz >> 10;
}

int CpuUsageFromTimes(std::int64_t idle, std::int64_t kernel, std::int64_t user) {
  std::int64_t total = kernel + user;
  if (total <= 0) return 0;
  return static_cast<int>((total - idle) * 100 / total);
}

void TrimCpuName(wchar_t (&name)[kCpuNameChars]) {
  std::size_t length = 0;
  while (length < kCpuNameChars && name[length]) ++length;
  std::size_t first = 0;
  while (first < length && name[first] == L' ') ++first;
  if (first == length) return;  // empty, or spaces only
  std::size_t end = length;
  while (end > first && name[end - 1] == L' ') --end;
  for (std::size_t i = first; i < end; ++i) name[i - first] = name[i];
  name[end - first] = L'\0';
}

bool NextTaskListLine(const char* text, std::size_t size, std::size_t* position, TextSpan* line) {
  // The appended line feed ends a last line at |size|; past it nothing is left.
  if (!position || !line || *position > size) return false;
  std::size_t start = *position;
  std::size_t end = start;
  while (end < size && text[end] != '\n') ++end;
  line->data = text + start;
  line->size = end - start;
  *position = end + 1;
  return true;
}

bool ParseTaskListPid(const char* line, std::size_t size, unsigned long* pid) {
  std::size_t at = 0;
  while (at + 3 <= size && !(line[at] == '"' && line[at + 1] == ',' && line[at + 2] == '"')) ++at;
  if (at + 3 > size) return false;
  unsigned long long value = 0;
  for (std::size_t i = at + 3; i < size && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = value * 10 + static_cast<unsigned>(line[i] - '0');
    if (value > 0xFFFFFFFFull) {
      value = 0;
      break;
    }
  }
  *pid = static_cast<unsigned long>(value);
  return true;
}

std::size_t TaskRowKeptChars(const wchar_t* line, std::size_t size, bool* closingQuote) {
  // tasklist ends its lines with CR LF; the CR is not part of the last column.
  while (size > 0 && line[size - 1] == L'\r') --size;
  *closingQuote = size > 0 && line[size - 1] == L'"';
  return *closingQuote ? size - 1 : size;
}

}  // namespace diagnostics
