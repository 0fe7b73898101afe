#pragma once
// The data texts tovik-reg accepts. The shared conversion (ValueDataFromText) reads any text,
// as the editors' keypads need; typed on a command line, "0x10" for a DW value or "zz" for a
// binary one would quietly become 0, so such texts are refused instead. Every text accepted here
// converts to exactly the data that its display form shows.
#include <optional>
#include <string>
#include <string_view>

#include "registry/value_types.h"
#include "registry/win_types.h"

namespace tovik::cli {

// Strings (SZ, EXP) and multi-strings (MLT, "|" for each zero unit): any text.
// DW: a decimal number from -2147483648 to 4294967295, optionally with the display's
//     hexadecimal part in parentheses, which must agree: "260", "-1(FFFFFFFF)", "4294967295";
//     or 0x and one to eight hex digits: "0x104", "0xFFFFFFFF".
// QW: a decimal number from -9223372036854775808 to 18446744073709551615, or 0x and one to
//     sixteen hex digits.
// Every other type: hex bytes, one or two hex digits each, separated by single spaces, with an
//     optional trailing space: "0A FF ", "0a ff", or empty for no data.
// Returns why the text is refused, or nullopt when it is accepted.
std::optional<std::string> checkDataText(DWORD type, std::u16string_view text);

// An accepted text in the form the shared conversion (ValueDataFromText) reads: a DW number typed
// in hexadecimal or above 2147483647 becomes the signed decimal of the same 32 bits; every other
// text stays as it is.
std::u16string dataTextToStore(DWORD type, std::u16string_view text);

// The eight bytes, lowest first, of an accepted QW number; the shared conversion has no number
// form for QWORD (its display form is the bytes). nullopt for a text CheckDataText refuses.
std::optional<Bytes> quadData(std::u16string_view text);

}  // namespace tovik::cli
