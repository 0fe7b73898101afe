#pragma once
// The --json output of tovik-reg: one schema for every command that takes the option.
//
// A value is an object
//   {"path": "HKEY_LOCAL_MACHINE\\Software\\Sample", "name": "Version", "type": 4, "tag": "DW",
//    "text": "260(104)", "hex": "04010000"}
// path: the key's full path with its root's long name; name: the value's name, "" for the
//   unnamed value; type: the type number; tag: the tag set takes ("SZ", "DW", "QW"), null for a
//   type without one; text: the data text as get prints it (a QWORD as its number, a string up
//   to its first zero unit); hex: every byte of the data, two lowercase hex digits each.
// get prints one value; query an array of keys {"path": ..., "values": [value, ...]}; find an
// array of hits {"path": ..., "match": "key"} or a value with "match": "name" or "data";
// registries an array of {"kind", "name", "folder", "readOnly": true|false}.
// Output is UTF-8; text that is not valid UTF-16 (a lone surrogate) shows as U+FFFD, and hex
// keeps the exact bytes. An array has one element per line, so that a long listing streams.
#include <iosfwd>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "registry/win_types.h"

namespace tovik::cli {

// The value object of the schema above.
nlohmann::ordered_json jsonValue(HKEY root, std::u16string_view path, std::u16string_view name, DWORD type,
                                 const BYTE* data, std::size_t size);

// One JSON document as text, on one line.
std::string jsonText(const nlohmann::ordered_json& document);

// Writes a JSON array element by element: "[" before the first, "," between, "]" at Finish.
class JsonArrayWriter {
public:
    explicit JsonArrayWriter(std::ostream& out) : out_(out) {}
    void add(const nlohmann::ordered_json& element);
    // Ends the array (an empty one when nothing was added); false when the output failed.
    bool finish();

private:
    std::ostream& out_;
    bool first_ = true;
};

}  // namespace tovik::cli
