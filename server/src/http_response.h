// Status lines and response heads. Every response closes the connection.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct ResponseHead {
  int status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::optional<uint64_t> content_length;  // omitted when empty
  bool chunked = false;                    // adds Transfer-Encoding: chunked
  std::vector<std::pair<std::string, std::string>> extra_fields;

  // The head as sent: status line, fields, blank line.
  std::string to_text() const;
};

const char* status_reason(int status);

// Content type for a served file, from its name's extension.
std::string content_type_for(const std::string& file_name);
