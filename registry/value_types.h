#pragma once
// Value types, their tags and long names, and the text forms of value data in both directions.
// Pure functions: numbers, bytes and UTF-16 text in, text or bytes out.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "registry/win_types.h"

using Bytes = std::vector<std::uint8_t>;

namespace tovik {

// How a type's data reads as text (AppendValueText) and is written from text (ValueDataFromText).
enum class ValueTextForm {
    String,       // UTF-16 up to the first zero unit
    MultiString,  // UTF-16 with every zero unit shown as "|"
    Number,       // "%d(%X)" of the first four bytes, little-endian
    HexBytes,     // "0A FF " for every byte
    Number64,     // the unsigned decimal of eight bytes, little-endian; other sizes as HexBytes
};

struct ValueTypeInfo {
    DWORD number;
    std::u16string_view tag;           // Tovik's tag ("SZ"); empty where Tovik shows "??"
    std::u16string_view platformName;  // "REG_SZ"
    ValueTextForm textForm;            // the value list, the backup file and query
    // A further tag that typed names accept ("QW"); never shown in the value list or written to a
    // backup file, whose forms stay those of the tag.
    std::u16string_view typedTag;
    // How a command that shows or takes one value's data reads it (get, set, JSON): textForm,
    // except where a type has a plainer form than the backup file's (QWORD as a number).
    ValueTextForm typedForm;
};

// Every value type with a name, in number order.
std::span<const ValueTypeInfo> valueTypes();
// The row of a type number; null for a number without a name.
const ValueTypeInfo* findValueType(DWORD type);
// The type that a tag names exactly as Tovik writes it ("SZ", not "sz"); null otherwise.
const ValueTypeInfo* findValueTypeByTag(std::u16string_view tag);
// The type named by its tag or (with platformNames) its platform name or typed tag, in any case
// ("sz", "REG_SZ", "reg_sz", "qw"); null for any other text.
const ValueTypeInfo* findValueTypeByName(std::u16string_view name, bool platformNames = true);
// The type as a user can tell it apart from any other, whatever its tag: the platform name with
// the number ("REG_QWORD (11)"), or for a number without a name the number in decimal and
// hexadecimal ("4294901778 (0xFFFF0012)").
std::u16string typeDescription(DWORD type);

// The data text in the type's typedForm: as AppendValueText, except a QWORD of eight bytes reads
// as its unsigned decimal number.
std::u16string typedValueText(DWORD type, const BYTE* data, std::size_t size);

}  // namespace tovik

// The small image class of a value's row in the value list: image index 0, 1 and 2.
enum class IconClass { Binary = 0, String = 1, Number = 2 };

// "NON", "SZ", ... "RSC" for types 0 to 8, "??" for every other type number.
std::u16string_view typeTag(DWORD type);
// "REG_NONE" ... "REG_RESOURCE_LIST" for 0 to 8 except 4, which no text names; empty otherwise.
std::u16string_view typeLongName(DWORD type);
IconClass typeIconClass(DWORD type);
// Types 0 to 8; the value commands edit only these.
bool isSupportedType(DWORD type);

struct FormattedValue {
    std::u16string tag;
    std::u16string text;
};

// Type tag and data text of a value. Reads no byte beyond data[size - 1].
FormattedValue FormatValue(DWORD type, const BYTE* data, std::size_t size);
// The data text alone, with at most maxChars characters (the rest is cut); for displays that
// must not format megabytes to show one line.
std::u16string formatValueText(DWORD type, const BYTE* data, std::size_t size, std::size_t maxChars);
// Appends the data text (at most maxChars characters of it) to out, for writers that build many
// lines in one reused buffer.
void appendValueText(std::u16string& out, DWORD type, const BYTE* data, std::size_t size,
                     std::size_t maxChars = static_cast<std::size_t>(-1));

std::u16string BytesToHexText(const BYTE* data, std::size_t size);
std::u16string MultiSzToText(const BYTE* data, std::size_t size);

// Writes one byte per space-ended token (plus one for a non-empty last token) into out, which
// must hold at least (number of spaces in text + 1) bytes; returns the count.
std::size_t HexTextToBytes(std::u16string_view text, BYTE* out);
Bytes HexTextToBytes(std::u16string_view text);

// Hexadecimal digits to a 32-bit number; stops at the first character that is not a hex digit.
DWORD HexToNumber(std::u16string_view text);

// Every "|" becomes a zero unit; no terminator is added.
Bytes TextToMultiSz(std::u16string_view text);

// The leading decimal number of a text: optional white space, optional sign, digits, stopping
// at the first other character. Numbers outside the signed 32-bit range clamp to its ends.
LONG decimalTextToLong(std::u16string_view text);

// String data as UTF-16 units, without a terminator (size = 2 * length).
Bytes stringToBytes(std::u16string_view text);
// A DWORD as 4 bytes, little-endian.
Bytes dwordToBytes(DWORD value);

// The data that a data text gives back for a type: types 1 and 2 as UTF-16 units without a
// terminator, 7 by TextToMultiSz, 4 by DecimalTextToLong as 4 bytes little-endian, every other
// type by HexTextToBytes. Editors, the command line and the backup reader all write through this.
Bytes valueDataFromText(DWORD type, std::u16string_view text);

// String data as Windows' own tools write it: REG_SZ and REG_EXPAND_SZ end with a zero unit,
// REG_MULTI_SZ with its last string's zero and then the empty string that ends the list. Data
// that ends so already, data of an odd size and other types come back unchanged.
Bytes terminatedStringData(DWORD type, Bytes data);
