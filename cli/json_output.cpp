#include "cli/json_output.h"

#include <ostream>

#include <nlohmann/json.hpp>

#include "cli/utf8.h"
#include "registry/key_path.h"
#include "registry/value_types.h"

namespace tovik::cli {

nlohmann::ordered_json jsonValue(HKEY root, std::u16string_view path, std::u16string_view name, DWORD type,
                                 const BYTE* data, std::size_t size) {
    const ValueTypeInfo* info = findValueType(type);
    nlohmann::ordered_json tag = nullptr;
    if (info != nullptr && !info->tag.empty()) tag = utf16ToUtf8(info->tag);
    if (info != nullptr && info->tag.empty() && !info->typedTag.empty()) tag = utf16ToUtf8(info->typedTag);
    std::string hex;
    hex.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        hex += "0123456789abcdef"[data[i] >> 4];
        hex += "0123456789abcdef"[data[i] & 0xF];
    }
    return nlohmann::ordered_json{{"path", utf16ToUtf8(fullKeyPath(root, path))},
                                  {"name", utf16ToUtf8(name)},
                                  {"type", type},
                                  {"tag", tag},
                                  {"text", utf16ToUtf8(typedValueText(type, data, size))},
                                  {"hex", hex}};
}

std::string jsonText(const nlohmann::ordered_json& document) {
    // Every string was made from UTF-16 by a conversion that never yields invalid UTF-8; replace
    // is the safe answer should one slip through all the same.
    return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void JsonArrayWriter::add(const nlohmann::ordered_json& element) {
    out_ << (first_ ? "[\n" : ",\n") << jsonText(element);
    first_ = false;
}

bool JsonArrayWriter::finish() {
    out_ << (first_ ? "[]\n" : "\n]\n");
    return static_cast<bool>(out_.flush());
}

}  // namespace tovik::cli
