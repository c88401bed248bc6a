// Bytes written as hexadecimal text, as the update configuration and the
// build setting of the update key carry them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace update {

// Reads exactly 2 * |count| hexadecimal digits (either case) and nothing
// after them into |out|. False, with |out| untouched, for any other text.
bool ParseHexBytes(const wchar_t* text, std::size_t count, std::uint8_t* out);

}  // namespace update
