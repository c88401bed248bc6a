#include "utc_time.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

struct UtcNow {
  std::tm parts{};
  int millis = 0;
};

UtcNow utc_now() {
  const auto now = std::chrono::system_clock::now();
  const auto since_epoch = now.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
  UtcNow result;
  gmtime_r(&seconds, &result.parts);
  result.millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count() % 1000);
  return result;
}

std::string format_time(const char* pattern, const std::tm& parts) {
  char text[64];
  const size_t length = std::strftime(text, sizeof text, pattern, &parts);
  return std::string(text, length);
}

}  // namespace

std::string utc_iso_now() {
  const UtcNow now = utc_now();
  char millis[8];
  std::snprintf(millis, sizeof millis, ".%03dZ", now.millis);
  return format_time("%Y-%m-%dT%H:%M:%S", now.parts) + millis;
}

std::string utc_compact_now() { return format_time("%Y%m%dT%H%M%SZ", utc_now().parts); }

std::string http_date_now() {
  // strftime's %a/%b follow the C locale, which is what HTTP expects; the
  // program never calls setlocale.
  return format_time("%a, %d %b %Y %H:%M:%S GMT", utc_now().parts);
}
