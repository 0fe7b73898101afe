#pragma once
// Text between hivex (UTF-8 names) and the registry (UTF-16). Strict both ways: a name that
// cannot be written exactly is refused rather than changed.
#include <optional>
#include <string>
#include <string_view>

namespace tovik::hive {

// nullopt when the bytes are not well-formed UTF-8 (or encode a surrogate).
std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8);
// nullopt when the text holds an unpaired surrogate.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);
// Printable ASCII only: the names whose hash hivex computes as Windows does.
bool IsPlainAsciiName(std::u16string_view name);

}  // namespace tovik::hive
