#include "url_text.h"

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string decode_or_keep(std::string_view text) {
  std::optional<std::string> decoded = percent_decode(text, true);
  return decoded ? *decoded : std::string(text);
}

}  // namespace

std::optional<std::string> percent_decode(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = hex_value(text[i + 1]);
      const int low = hex_value(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (c == '+' && plus_is_space) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

QueryParams parse_query(std::string_view raw_query) {
  QueryParams params;
  size_t start = 0;
  while (start <= raw_query.size()) {
    size_t end = raw_query.find('&', start);
    if (end == std::string_view::npos) end = raw_query.size();
    const std::string_view part = raw_query.substr(start, end - start);
    if (!part.empty()) {
      const size_t equals = part.find('=');
      if (equals == std::string_view::npos) {
        params.emplace_back(decode_or_keep(part), std::string());
      } else {
        params.emplace_back(decode_or_keep(part.substr(0, equals)),
                            decode_or_keep(part.substr(equals + 1)));
      }
    }
    start = end + 1;
  }
  return params;
}

std::optional<std::string> find_param(const QueryParams& params, std::string_view key) {
  for (const auto& [name, value] : params) {
    if (name == key) return value;
  }
  return std::nullopt;
}

bool has_parent_segment(std::string_view decoded_path) {
  size_t start = 0;
  while (start <= decoded_path.size()) {
    size_t end = decoded_path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = decoded_path.size();
    if (decoded_path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}
