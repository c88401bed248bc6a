#include "diagnostics/SystemReport.h"

namespace diagnostics {

const wchar_t kTaskListHeader[] =
    L"\"映像名称\",\"PID\",\"会话名\",\"会话#\",\"内存使用\",\"状态\",\"用户名\",\"CPU时间\",\"窗口标题\",\"运行路径\"";

std::wstring FormatMemoryLine(unsigned long loadPercent, std::uint64_t totalBytes, std::uint64_t freeBytes) {
  return L"Memory: Usage[" + std::to_wstring(loadPercent) + L"] Total[" + std::to_wstring(totalBytes >> 30) +
         L"GB] Free[" + std::to_wstring(freeBytes >> 30) + L"GB]";
}

std::wstring FormatCpuLine(long long usagePercent, int frequencyGhz, unsigned long count, const std::wstring& name) {
  return L"CPU: Usage[" + std::to_wstring(usagePercent) + L"] Frequency[" + std::to_wstring(frequencyGhz) +
         L"GHz] Count[" + std::to_wstring(count) + L"] Name[" + name + L"]";
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

std::wstring TrimCpuName(const std::wstring& name) {
  std::size_t first = name.find_first_not_of(L' ');
  if (first == std::wstring::npos) return name;
  std::size_t last = name.find_last_not_of(L' ');
  return name.substr(first, last - first + 1);
}

std::vector<std::string> SplitTaskListLines(const std::string& output) {
  std::string text = output + "\n";
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
    lines.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  return lines;
}

bool ParseTaskListPid(const std::string& line, unsigned long* pid) {
  static const char kSeparator[] = "\",\"";
  std::size_t at = line.find(kSeparator);
  if (at == std::string::npos) return false;
  unsigned long long value = 0;
  for (std::size_t i = at + 3; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = value * 10 + static_cast<unsigned>(line[i] - '0');
    if (value > 0xFFFFFFFFull) {
      value = 0;
      break;
    }
  }
  *pid = static_cast<unsigned long>(value);
  return true;
}

std::wstring FormatTaskRow(const std::wstring& line, const std::wstring& imagePath) {
  std::wstring row = line;
  // tasklist ends its lines with CR LF; the CR is not part of the last column.
  while (!row.empty() && row.back() == L'\r') row.pop_back();
  if (!row.empty() && row.back() == L'"') {
    row.pop_back();
    row += L"\",\"";
  } else {
    row += L",\"";
  }
  row += imagePath;
  row += L'"';
  return row;
}

}  // namespace diagnostics
