// Parsing of an HTTP/1.x request head (request line and header fields).
// Pure text handling: no sockets here.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Request heads above this size are refused with 431.
constexpr size_t kMaxRequestHeadBytes = 16 * 1024;

struct HttpHeader {
  std::string name;   // as the client spelled it
  std::string value;  // leading blanks removed, trailing ones kept as sent
};

struct HttpRequest {
  std::string method;
  std::string target;     // as received
  std::string raw_path;   // target up to '?', absolute-form host removed
  std::string raw_query;  // after the first '?', exactly as received
  std::string version;    // "HTTP/1.0" or "HTTP/1.1"
  std::vector<HttpHeader> headers;

  // First header with this name, compared without regard to case.
  const std::string* header(std::string_view name) const;
};

enum class HeadParseResult { Ok, Malformed, UnsupportedVersion };

// Offset just past the blank line that ends the head in `buffer`
// (CRLF CRLF, or bare LF LF from lenient clients), or npos if not there yet.
size_t find_head_end(std::string_view buffer);

// Parses a complete head (as delimited by find_head_end) into `request`.
HeadParseResult parse_request_head(std::string_view head, HttpRequest& request);
