// UTF-8 (project files, output) and UTF-16 (resources) conversions.
#pragma once

#include <optional>
#include <string>

namespace corvane::builder {

// Nothing when the text is not well-formed UTF-8 (overlong forms and surrogates included).
std::optional<std::u16string> Utf8ToUtf16(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

}  // namespace corvane::builder
