// Conversions between the encodings the diagnostics meet: narrow text in the
// OEM code page (what console programs such as the task list print), UTF-8,
// and percent-encoding for values on the crash-report uploader's command line.
#pragma once

#include <string>

namespace diagnostics {

// Narrow text in the system's OEM code page to wide text; the characters
// before the first terminator. Empty for empty input or a failed conversion.
std::wstring OemToWide(const std::string& text);

// Narrow text in |codePage| to wide text, like OemToWide.
std::wstring CodePageToWide(unsigned codePage, const std::string& text);

// Wide text to the bytes of the given code page; characters the code page
// cannot hold become its default character. Empty on failure.
std::string WideToCodePage(unsigned codePage, const std::wstring& text);

// UTF-16 to UTF-8. Characters of the Basic Multilingual Plane take one to
// three bytes; a surrogate pair becomes its four-byte sequence and a lone
// surrogate the replacement character U+FFFD (EF BF BD).
std::string WideToUtf8(const std::wstring& text);

// Percent-encoding as in HTML form values: letters, digits and - . _ ~ stay,
// a space becomes '+', every other byte %XX with upper-case hexadecimal.
std::string UrlEncode(const std::string& bytes);

}  // namespace diagnostics
