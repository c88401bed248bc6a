// Byte ranges of served files, as a static web server answers them: a
// strong validator per file, "Range: bytes=FIRST-[LAST]" (one range) and its
// "If-Range" condition. Pure text and arithmetic.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

// The entity tag of a file: its modification time (to the nanosecond), size
// and inode, so that a file replaced within the same second still gets
// another tag.
std::string file_entity_tag(int64_t mtime_seconds, int64_t mtime_nanoseconds, uint64_t size, uint64_t inode);

// "Wed, 01 May 2024 12:34:56 GMT" of a time in seconds since 1970.
std::string http_date_of(int64_t seconds);

// A single range "bytes=FIRST-" or "bytes=FIRST-LAST"; nothing for any other
// text (suffix ranges, lists, other units), which is then ignored.
struct ByteRange {
  uint64_t first = 0;
  std::optional<uint64_t> last;
};
std::optional<ByteRange> parse_range_header(const std::string& text);

// What to send for a GET with a Range field (|range|), its If-Range field
// (|if_range|, null when absent) and a file of |size| bytes whose validators
// are |etag| and |last_modified|.
struct RangeDecision {
  enum Kind { Whole, Partial, Unsatisfiable } kind = Whole;
  uint64_t first = 0;  // Partial: the bytes first..last of the file
  uint64_t last = 0;
};
RangeDecision decide_range(const std::optional<ByteRange>& range, const std::string* if_range, uint64_t size,
                           const std::string& etag, const std::string& last_modified);
