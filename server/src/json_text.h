// JSON string literals from arbitrary bytes.
#pragma once
#include <string>
#include <string_view>

// Quotes and escapes `bytes` as a JSON string. Valid UTF-8 passes through;
// each byte that is not part of a valid UTF-8 sequence becomes \u00XX, so
// the output is always valid JSON whatever a client sent.
std::string json_quote(std::string_view bytes);
