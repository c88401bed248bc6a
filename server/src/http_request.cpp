#include "http_request.h"

#include <cctype>

namespace {

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// RFC 9110 token characters (methods and header names).
bool is_token(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u)) continue;
    if (std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) return false;
  }
  return true;
}

// Targets go into the log and the database verbatim, so only visible ASCII
// is accepted (no blanks, no control bytes, no raw 8-bit bytes).
bool is_visible_ascii(std::string_view text) {
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) return false;
  }
  return true;
}

// Header values may hold any byte but CR, LF and other control bytes (tab is fine).
bool is_field_value(std::string_view text) {
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u == 0x7F) return false;
  }
  return true;
}

// Splits the head into lines without their CR/LF endings.
std::vector<std::string_view> split_lines(std::string_view head) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < head.size()) {
    size_t end = head.find('\n', start);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool split_target(std::string_view target, HttpRequest& request) {
  // Absolute form ("http://host/path") reaches us when a client believes it
  // talks to a proxy; only the path and query matter here.
  constexpr std::string_view kHttpPrefix = "http://";
  if (target.size() >= kHttpPrefix.size() &&
      equals_ignoring_case(target.substr(0, kHttpPrefix.size()), kHttpPrefix)) {
    const size_t path_start = target.find('/', kHttpPrefix.size());
    target = path_start == std::string_view::npos ? std::string_view("/") : target.substr(path_start);
  }
  if (target.empty()) return false;
  // A target without its leading '/' ("active.htm?x=1") is what a client
  // sends when its HTTP layer passes the object name through unchanged
  // (the launcher hands WinINet the path without '/'); read it as rooted.
  const bool rooted = target.front() == '/';
  const size_t question = target.find('?');
  request.raw_path = (rooted ? "" : "/") + std::string(target.substr(0, question));
  request.raw_query = question == std::string_view::npos ? std::string()
                                                         : std::string(target.substr(question + 1));
  return true;
}

HeadParseResult parse_request_line(std::string_view line, HttpRequest& request) {
  const size_t first_space = line.find(' ');
  if (first_space == std::string_view::npos) return HeadParseResult::Malformed;
  const size_t second_space = line.find(' ', first_space + 1);
  if (second_space == std::string_view::npos) return HeadParseResult::Malformed;
  const std::string_view method = line.substr(0, first_space);
  const std::string_view target = line.substr(first_space + 1, second_space - first_space - 1);
  const std::string_view version = line.substr(second_space + 1);
  if (!is_token(method) || target.empty() || !is_visible_ascii(target)) {
    return HeadParseResult::Malformed;
  }
  if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || !std::isdigit(static_cast<unsigned char>(version[5])) ||
      version[6] != '.' || !std::isdigit(static_cast<unsigned char>(version[7]))) {
    return HeadParseResult::Malformed;
  }
  if (version != "HTTP/1.0" && version != "HTTP/1.1") return HeadParseResult::UnsupportedVersion;
  request.method = std::string(method);
  request.target = std::string(target);
  request.version = std::string(version);
  return split_target(target, request) ? HeadParseResult::Ok : HeadParseResult::Malformed;
}

bool parse_header_line(std::string_view line, HttpRequest& request) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view name = line.substr(0, colon);
  std::string_view value = line.substr(colon + 1);
  // Folded continuation lines and blanks before the colon are obsolete and
  // ambiguous; both make the name fail the token test.
  if (!is_token(name) || !is_field_value(value)) return false;
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  request.headers.push_back({std::string(name), std::string(value)});
  return true;
}

}  // namespace

const std::string* HttpRequest::header(std::string_view name) const {
  for (const HttpHeader& field : headers) {
    if (equals_ignoring_case(field.name, name)) return &field.value;
  }
  return nullptr;
}

size_t find_head_end(std::string_view buffer) {
  // Blank lines before the request line are allowed and skipped later; a
  // head therefore ends at the first empty line that follows some text.
  size_t line_start = 0;
  bool seen_text = false;
  while (line_start < buffer.size()) {
    const size_t newline = buffer.find('\n', line_start);
    if (newline == std::string_view::npos) return std::string_view::npos;
    std::string_view line = buffer.substr(line_start, newline - line_start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      if (seen_text) return newline + 1;
    } else {
      seen_text = true;
    }
    line_start = newline + 1;
  }
  return std::string_view::npos;
}

HeadParseResult parse_request_head(std::string_view head, HttpRequest& request) {
  std::vector<std::string_view> lines = split_lines(head);
  size_t index = 0;
  while (index < lines.size() && lines[index].empty()) ++index;
  if (index == lines.size()) return HeadParseResult::Malformed;
  const HeadParseResult line_result = parse_request_line(lines[index], request);
  if (line_result != HeadParseResult::Ok) return line_result;
  for (++index; index < lines.size(); ++index) {
    if (lines[index].empty()) break;  // the blank line that ends the head
    if (!parse_header_line(lines[index], request)) return HeadParseResult::Malformed;
  }
  return HeadParseResult::Ok;
}
