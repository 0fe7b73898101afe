#pragma once
// UTF-8 (the terminal's, the command line's and hivex's encoding) to and from UTF-16 (the
// registry's).
#include <optional>
#include <string>
#include <string_view>

namespace tovik {

// Strict decoding: overlong forms, encoded surrogates, code points above U+10FFFF and truncated
// sequences give nullopt rather than a guess.
std::optional<std::u16string> utf8ToUtf16(std::string_view utf8);

// Appends text as UTF-8; an unpaired surrogate becomes U+FFFD, so the output is always valid.
void appendUtf8(std::string& out, std::u16string_view text);
std::string utf16ToUtf8(std::u16string_view text);
// nullopt when text holds an unpaired surrogate: for names that must be written exactly.
std::optional<std::string> utf16ToUtf8Exact(std::u16string_view text);

}  // namespace tovik
