#pragma once
// The escaped text of Wine's registry files: names, key paths, class names and string data,
// read and written exactly as wineserver reads and writes them.
#include <cstdint>
#include <string>
#include <string_view>

namespace tovik::wine {

// Reads escaped text up to the unescaped `delimiter` and appends it, unescaped, to `out`.
// Accepts `\\`, `\"` and any other escaped character as itself, `\a \b \e \f \n \r \t \v`,
// octal (up to three digits), `\x` with up to four hex digits, and UTF-8 (invalid sequences are
// dropped, as Wine drops them). Returns the number of bytes read including the delimiter, or -1
// when the delimiter is missing. Stops at a zero byte as Wine's line reader does.
long parseEscaped(std::string_view src, char delimiter, std::u16string& out);

// Appends `text` escaped as Wine writes it; `quoted` are the two characters escaped besides
// the backslash ("[]" in key names, "\"\"" in value names and strings).
void appendEscaped(std::string& out, std::u16string_view text, const char quoted[2]);

// One value as Wine writes it: `@=` or `"name"=`, then the string, dword or hex form, with long
// hex lists continued over lines. Ends with a line feed.
void appendValueLine(std::string& out, std::u16string_view name, std::uint32_t type, std::string_view data);

// strtoul(text, &end, 16) of the C library, which Wine uses for `dword:` and `hex(N):`: leading
// white space, a sign, an optional 0x, saturation at overflow. Returns the low 32 bits of the
// result and sets `used` to the bytes read (0 when no digit was read).
std::uint32_t parseHexNumber(std::string_view text, std::size_t& used);

inline bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
// True for a line of white space only (its line end included).
bool isBlankLine(std::string_view line);
inline bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// The value of a hex digit.
inline int hexDigitValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

}  // namespace tovik::wine
