#include "byte_ranges.h"

#include <cstdio>
#include <ctime>

namespace {

// Decimal digits only, no sign, at most 18 of them.
std::optional<uint64_t> parse_number(const std::string& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

std::string file_entity_tag(int64_t mtime_seconds, int64_t mtime_nanoseconds, uint64_t size, uint64_t inode) {
  char text[96];
  std::snprintf(text, sizeof text, "\"%llx.%llx-%llx-%llx\"", static_cast<unsigned long long>(mtime_seconds),
                static_cast<unsigned long long>(mtime_nanoseconds), static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(inode));
  return text;
}

std::string http_date_of(int64_t seconds) {
  const std::time_t moment = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&moment, &parts);
  char text[64];
  const size_t length = std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return std::string(text, length);
}

std::optional<ByteRange> parse_range_header(const std::string& text) {
  const std::string prefix = "bytes=";
  if (text.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const std::string byte_range = text.substr(prefix.size());
  const size_t dash = byte_range.find('-');
  if (dash == std::string::npos || byte_range.find(',') != std::string::npos) return std::nullopt;
  const std::optional<uint64_t> first = parse_number(byte_range.substr(0, dash));
  if (!first) return std::nullopt;
  ByteRange range;
  range.first = *first;
  const std::string last_text = byte_range.substr(dash + 1);
  if (!last_text.empty()) {
    const std::optional<uint64_t> last = parse_number(last_text);
    if (!last || *last < *first) return std::nullopt;
    range.last = last;
  }
  return range;
}

RangeDecision decide_range(const std::optional<ByteRange>& range, const std::string* if_range, uint64_t size,
                           const std::string& etag, const std::string& last_modified) {
  RangeDecision decision;
  if (!range) return decision;
  // A condition that names another version of the file asks for all of it.
  if (if_range && *if_range != etag && *if_range != last_modified) return decision;
  if (range->first >= size) {
    decision.kind = RangeDecision::Unsatisfiable;
    return decision;
  }
  decision.kind = RangeDecision::Partial;
  decision.first = range->first;
  decision.last = range->last && *range->last < size ? *range->last : size - 1;
  return decision;
}
