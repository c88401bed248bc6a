#include "report_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>

#include "utc_time.h"

namespace {

constexpr size_t kMaxNameLength = 100;

std::atomic<unsigned> g_report_counter{0};

bool is_directory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string sanitize_report_name(std::string_view client_name) {
  const size_t last_separator = client_name.find_last_of("/\\");
  if (last_separator != std::string_view::npos) client_name.remove_prefix(last_separator + 1);
  std::string name;
  for (const char c : client_name) {
    if (name.size() == kMaxNameLength) break;
    const unsigned char u = static_cast<unsigned char>(c);
    const bool plain = std::isalnum(u) || c == '.' || c == '_' || c == '-';
    if (name.empty() && c == '.') continue;  // no hidden files, no "." or ".."
    name += plain ? c : '_';
  }
  return name.empty() ? "report.bin" : name;
}

bool make_directories(const std::string& path) {
  if (path.empty()) return false;
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
  return is_directory(path);
}

int create_report_file(const std::string& directory, const std::string& name, std::string& path) {
  // The counter keeps names apart within one second; O_EXCL guards against
  // files left by an earlier run.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const unsigned number = ++g_report_counter;
    path = directory + "/" + utc_compact_now() + "-" + std::to_string(number) + "-" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}
