// Percent-decoding, query strings and path checks for request targets.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using QueryParams = std::vector<std::pair<std::string, std::string>>;

// Decodes %XX escapes (and '+' as a space when `plus_is_space`).
// Returns nothing when an escape is malformed.
std::optional<std::string> percent_decode(std::string_view text, bool plus_is_space);

// Splits "a=1&b=&c" into decoded pairs in order ("c" gets an empty value).
// Lenient: a part with a malformed escape keeps its raw text.
QueryParams parse_query(std::string_view raw_query);

// Value of the first pair named `key`, if any.
std::optional<std::string> find_param(const QueryParams& params, std::string_view key);

// True when a decoded path has a ".." segment, treating '\' as a separator
// too so that Windows-style targets cannot climb out either.
bool has_parent_segment(std::string_view decoded_path);
