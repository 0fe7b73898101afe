#include "registry/value_types.h"

#include <algorithm>
#include <limits>
#include <string>

#include "registry/name_fold.h"

namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
constexpr std::size_t kWholeText = std::numeric_limits<std::size_t>::max();

using tovik::ValueTextForm;
using tovik::ValueTypeInfo;

// Row i is type i. Types 0 to 8 have Tovik's tags; the later ones only their platform names.
constexpr ValueTypeInfo kValueTypes[] = {
    {REG_NONE, u"NON", u"REG_NONE", ValueTextForm::HexBytes, u"", ValueTextForm::HexBytes},
    {REG_SZ, u"SZ", u"REG_SZ", ValueTextForm::String, u"", ValueTextForm::String},
    {REG_EXPAND_SZ, u"EXP", u"REG_EXPAND_SZ", ValueTextForm::String, u"", ValueTextForm::String},
    {REG_BINARY, u"BIN", u"REG_BINARY", ValueTextForm::HexBytes, u"", ValueTextForm::HexBytes},
    {REG_DWORD, u"DW", u"REG_DWORD", ValueTextForm::Number, u"", ValueTextForm::Number},
    {REG_DWORD_BIG_ENDIAN, u"DWE", u"REG_DWORD_BIG_ENDIAN", ValueTextForm::HexBytes, u"", ValueTextForm::HexBytes},
    {REG_LINK, u"LNK", u"REG_LINK", ValueTextForm::HexBytes, u"", ValueTextForm::HexBytes},
    {REG_MULTI_SZ, u"MLT", u"REG_MULTI_SZ", ValueTextForm::MultiString, u"", ValueTextForm::MultiString},
    {REG_RESOURCE_LIST, u"RSC", u"REG_RESOURCE_LIST", ValueTextForm::HexBytes, u"", ValueTextForm::HexBytes},
    {REG_FULL_RESOURCE_DESCRIPTOR, u"", u"REG_FULL_RESOURCE_DESCRIPTOR", ValueTextForm::HexBytes, u"",
     ValueTextForm::HexBytes},
    {REG_RESOURCE_REQUIREMENTS_LIST, u"", u"REG_RESOURCE_REQUIREMENTS_LIST", ValueTextForm::HexBytes, u"",
     ValueTextForm::HexBytes},
    {REG_QWORD, u"", u"REG_QWORD", ValueTextForm::HexBytes, u"QW", ValueTextForm::Number64},
};

bool sameName(std::u16string_view a, std::u16string_view b) {
    return !b.empty() && a.size() == b.size() && compareNames(a, b) == 0;
}

ValueTextForm textFormOf(DWORD type) {
    return type < std::size(kValueTypes) ? kValueTypes[type].textForm : ValueTextForm::HexBytes;
}

// Data bytes need not be aligned, so units are assembled byte by byte.
inline char16_t unitAt(const BYTE* data, std::size_t unitIndex) {
    return static_cast<char16_t>(data[2 * unitIndex] | (data[2 * unitIndex + 1] << 8));
}

void appendStringText(std::u16string& out, const BYTE* data, std::size_t size, std::size_t maxChars) {
    const std::size_t units = std::min(size / 2, maxChars);
    std::size_t n = 0;
    while (n < units && unitAt(data, n) != 0) ++n;
    const std::size_t base = out.size();
    out.resize(base + n);
    char16_t* dst = out.data() + base;
    for (std::size_t i = 0; i < n; ++i) dst[i] = unitAt(data, i);
}

void appendMultiSzText(std::u16string& out, const BYTE* data, std::size_t size, std::size_t maxChars) {
    const std::size_t n = std::min(size / 2, maxChars);
    const std::size_t base = out.size();
    out.resize(base + n);
    char16_t* dst = out.data() + base;
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = unitAt(data, i);
        dst[i] = c == 0 ? u'|' : c;
    }
}

void appendHexBytesText(std::u16string& out, const BYTE* data, std::size_t size, std::size_t maxChars) {
    const std::size_t fullBytes = std::min(size, maxChars / 3);
    const std::size_t partial = fullBytes < size ? maxChars % 3 : 0;
    const std::size_t base = out.size();
    out.resize(base + fullBytes * 3 + partial);
    char16_t* dst = out.data() + base;
    for (std::size_t i = 0; i < fullBytes; ++i) {
        *dst++ = kHexDigits[data[i] >> 4];
        *dst++ = kHexDigits[data[i] & 0xF];
        *dst++ = u' ';
    }
    if (partial > 0) {
        const BYTE b = data[fullBytes];
        const char16_t cell[2] = {kHexDigits[b >> 4], kHexDigits[b & 0xF]};
        for (std::size_t i = 0; i < partial; ++i) *dst++ = cell[i];
    }
}

// "%d(%X)" of the first four bytes, little-endian, missing bytes as zero.
void appendNumberText(std::u16string& out, const BYTE* data, std::size_t size, std::size_t maxChars) {
    DWORD value = 0;
    for (std::size_t i = 0; i < 4 && i < size; ++i) value |= static_cast<DWORD>(data[i]) << (8 * i);

    char16_t buf[32];
    char16_t* end = buf + sizeof(buf) / sizeof(buf[0]);
    char16_t* p = end;
    *--p = u')';
    DWORD h = value;
    do {
        *--p = kHexDigits[h & 0xF];
        h >>= 4;
    } while (h != 0);
    *--p = u'(';
    const bool negative = static_cast<LONG>(value) < 0;
    // Magnitude in unsigned arithmetic, so that -2147483648 needs no special case.
    DWORD magnitude = negative ? 0u - value : value;
    do {
        *--p = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) *--p = u'-';
    out.append(p, std::min(static_cast<std::size_t>(end - p), maxChars));
}

inline int hexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// Only the low eight bits of a token matter, so the token is folded as it is read instead of
// being collected: the low two hex digits of the number at the token's first non-digit.
struct HexToken {
    DWORD value = 0;
    bool stopped = false;
    bool empty = true;
    void add(char16_t c) {
        empty = false;
        if (stopped) return;
        const int d = hexDigitValue(c);
        if (d < 0) {
            stopped = true;
            return;
        }
        value = (value << 4) | static_cast<DWORD>(d);
    }
    BYTE take() {
        const BYTE b = static_cast<BYTE>(value & 0xFF);
        *this = HexToken{};
        return b;
    }
};

inline bool isCRuntimeSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

}  // namespace

namespace tovik {

std::span<const ValueTypeInfo> valueTypes() {
    return kValueTypes;
}

const ValueTypeInfo* findValueType(DWORD type) {
    return type < std::size(kValueTypes) ? &kValueTypes[type] : nullptr;
}

const ValueTypeInfo* findValueTypeByTag(std::u16string_view tag) {
    if (tag.empty()) return nullptr;
    for (const ValueTypeInfo& info : kValueTypes) {
        if (info.tag == tag) return &info;
    }
    return nullptr;
}

const ValueTypeInfo* findValueTypeByName(std::u16string_view name, bool platformNames) {
    if (name.empty()) return nullptr;
    for (const ValueTypeInfo& info : kValueTypes) {
        if (sameName(name, info.tag)) return &info;
        if (platformNames && (sameName(name, info.platformName) || sameName(name, info.typedTag))) return &info;
    }
    return nullptr;
}

std::u16string typeDescription(DWORD type) {
    auto digits = [](DWORD number, DWORD base) {
        std::u16string text;
        do {
            text.insert(text.begin(), kHexDigits[number % base]);
            number /= base;
        } while (number != 0);
        return text;
    };
    if (const ValueTypeInfo* info = findValueType(type)) {
        return std::u16string(info->platformName) + u" (" + digits(type, 10) + u")";
    }
    return digits(type, 10) + u" (0x" + digits(type, 16) + u")";
}

std::u16string typedValueText(DWORD type, const BYTE* data, std::size_t size) {
    const ValueTypeInfo* info = findValueType(type);
    if (info == nullptr || info->typedForm != ValueTextForm::Number64 || data == nullptr || size != 8) {
        std::u16string text;
        appendValueText(text, type, data, size);
        return text;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) value |= static_cast<std::uint64_t>(data[i]) << (8 * i);
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace tovik

std::u16string_view typeTag(DWORD type) {
    const ValueTypeInfo* info = tovik::findValueType(type);
    return info != nullptr && !info->tag.empty() ? info->tag : std::u16string_view(u"??");
}

std::u16string_view typeLongName(DWORD type) {
    // The DWORD has an editor of its own and no label among the others' types.
    if (type == REG_DWORD || !isSupportedType(type)) return {};
    return kValueTypes[type].platformName;
}

IconClass typeIconClass(DWORD type) {
    switch (textFormOf(type)) {
    case ValueTextForm::String:
    case ValueTextForm::MultiString: return IconClass::String;
    case ValueTextForm::Number: return IconClass::Number;
    case ValueTextForm::HexBytes:
    case ValueTextForm::Number64: return IconClass::Binary;
    }
    return IconClass::Binary;
}

bool isSupportedType(DWORD type) {
    const ValueTypeInfo* info = tovik::findValueType(type);
    return info != nullptr && !info->tag.empty();
}

FormattedValue FormatValue(DWORD type, const BYTE* data, std::size_t size) {
    FormattedValue v{std::u16string(typeTag(type)), std::u16string()};
    appendValueText(v.text, type, data, size);
    return v;
}

std::u16string formatValueText(DWORD type, const BYTE* data, std::size_t size, std::size_t maxChars) {
    std::u16string text;
    appendValueText(text, type, data, size, maxChars);
    return text;
}

void appendValueText(std::u16string& out, DWORD type, const BYTE* data, std::size_t size, std::size_t maxChars) {
    if (data == nullptr) size = 0;
    switch (textFormOf(type)) {
    case ValueTextForm::String: appendStringText(out, data, size, maxChars); break;
    case ValueTextForm::Number: appendNumberText(out, data, size, maxChars); break;
    case ValueTextForm::MultiString: appendMultiSzText(out, data, size, maxChars); break;
    case ValueTextForm::HexBytes:
    case ValueTextForm::Number64: appendHexBytesText(out, data, size, maxChars); break;
    }
}

std::u16string BytesToHexText(const BYTE* data, std::size_t size) {
    std::u16string text;
    appendHexBytesText(text, data, data ? size : 0, kWholeText);
    return text;
}

std::u16string MultiSzToText(const BYTE* data, std::size_t size) {
    std::u16string text;
    appendMultiSzText(text, data, data ? size : 0, kWholeText);
    return text;
}

std::size_t HexTextToBytes(std::u16string_view text, BYTE* out) {
    std::size_t count = 0;
    HexToken token;
    for (const char16_t c : text) {
        if (c == u' ') {
            out[count++] = token.take();
        } else {
            token.add(c);
        }
    }
    if (!token.empty) out[count++] = token.take();
    return count;
}

Bytes HexTextToBytes(std::u16string_view text) {
    const std::size_t spaces = static_cast<std::size_t>(std::count(text.begin(), text.end(), u' '));
    Bytes bytes(spaces + 1);
    bytes.resize(HexTextToBytes(text, bytes.data()));
    return bytes;
}

DWORD HexToNumber(std::u16string_view text) {
    DWORD value = 0;
    for (const char16_t c : text) {
        const int d = hexDigitValue(c);
        if (d < 0) break;
        value = (value << 4) | static_cast<DWORD>(d);
    }
    return value;
}

Bytes TextToMultiSz(std::u16string_view text) {
    Bytes bytes(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i] == u'|' ? u'\0' : text[i];
        bytes[2 * i] = static_cast<BYTE>(c & 0xFF);
        bytes[2 * i + 1] = static_cast<BYTE>(c >> 8);
    }
    return bytes;
}

LONG decimalTextToLong(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isCRuntimeSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // The magnitude saturates just past the range, so any number of digits is safe.
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;  // 2147483648
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude > kLimit) magnitude = kLimit + 1;
    }
    if (negative) return static_cast<LONG>(-std::min(magnitude, kLimit));
    return static_cast<LONG>(std::min(magnitude, kLimit - 1));
}

Bytes stringToBytes(std::u16string_view text) {
    Bytes bytes(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
    }
    return bytes;
}

Bytes dwordToBytes(DWORD value) {
    return Bytes{static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                 static_cast<BYTE>(value >> 24)};
}

Bytes terminatedStringData(DWORD type, Bytes data) {
    if (data.size() % 2 != 0) return data;
    const auto zeroUnitsAtEnd = [&data] {
        std::size_t units = 0;
        for (std::size_t i = data.size(); i >= 2 && data[i - 1] == 0 && data[i - 2] == 0 && units < 2; i -= 2) ++units;
        return units;
    };
    std::size_t wanted = 0;
    if (type == REG_SZ || type == REG_EXPAND_SZ) wanted = 1;
    // An empty list is its final empty string alone.
    if (type == REG_MULTI_SZ) wanted = data.empty() ? 1 : 2;
    for (std::size_t have = zeroUnitsAtEnd(); have < wanted; ++have) data.insert(data.end(), {0, 0});
    return data;
}

Bytes valueDataFromText(DWORD type, std::u16string_view text) {
    switch (textFormOf(type)) {
    case ValueTextForm::String: return stringToBytes(text);
    case ValueTextForm::MultiString: return TextToMultiSz(text);
    case ValueTextForm::Number: return dwordToBytes(static_cast<DWORD>(decimalTextToLong(text)));
    case ValueTextForm::HexBytes:
    case ValueTextForm::Number64: return HexTextToBytes(text);
    }
    return HexTextToBytes(text);
}
