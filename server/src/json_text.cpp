#include "json_text.h"

#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence starting at `at`, or 0 if none.
size_t utf8_sequence_length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned min_code = 0;
  unsigned code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, min_code = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, min_code = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, min_code = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(at + i);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (code < min_code || code > 0x10FFFF || surrogate) return 0;
  return length;
}

void append_escape(std::string& out, unsigned char byte) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
  out += escaped;
}

}  // namespace

std::string json_quote(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 2);
  out += '"';
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      switch (byte) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (byte < 0x20 || byte == 0x7F) {
            append_escape(out, byte);
          } else {
            out += static_cast<char>(byte);
          }
      }
      ++i;
      continue;
    }
    const size_t length = utf8_sequence_length(bytes, i);
    if (length == 0) {
      append_escape(out, byte);
      ++i;
    } else {
      out.append(bytes.substr(i, length));
      i += length;
    }
  }
  out += '"';
  return out;
}
