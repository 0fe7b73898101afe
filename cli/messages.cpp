#include "cli/messages.h"

#include <algorithm>
#include <utility>

#include "registry/utf8.h"

namespace tovik::cli {

namespace {

InterfaceLanguage g_language = InterfaceLanguage::English;

struct CoreTranslation {
    std::u16string_view japanese;
    std::string_view english;
};

// Generated at build time from the window's English translation.
constexpr CoreTranslation kCoreTranslations[] = {
#include "core_texts_en.inc"
};

std::string Fill(std::string_view text, std::initializer_list<std::string_view> args) {
    std::string filled;
    filled.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t n = i + 1 < text.size() ? static_cast<std::size_t>(text[i + 1] - '0') : 0;
        if (text[i] == '%' && n >= 1 && n <= args.size()) {
            filled += *(args.begin() + (n - 1));
            ++i;
        } else {
            filled += text[i];
        }
    }
    return filled;
}

}  // namespace

void SetMessageLanguage(InterfaceLanguage language) { g_language = language; }

InterfaceLanguage MessageLanguage() { return g_language; }

std::string_view Text(const Message& message) {
    return g_language == InterfaceLanguage::English ? message.english : message.japanese;
}

std::string Say(const Message& message, std::initializer_list<std::string_view> args) {
    return Fill(Text(message), args);
}

std::string CoreText(std::u16string_view text, std::initializer_list<std::string_view> args) {
    if (g_language == InterfaceLanguage::English) {
        const auto* found = std::find_if(std::begin(kCoreTranslations), std::end(kCoreTranslations),
                                         [text](const CoreTranslation& t) { return t.japanese == text; });
        if (found != std::end(kCoreTranslations)) return Fill(found->english, args);
    }
    return Fill(Utf16ToUtf8(text), args);
}

std::function<std::u16string(std::u16string_view)> CoreTextTranslator() {
    return [](std::u16string_view text) {
        const std::string translated = CoreText(text);
        return Utf8ToUtf16(translated).value_or(std::u16string(text));
    };
}

std::string Count(std::size_t n, const Message& one, const Message& many) {
    return Say(n == 1 ? one : many, {std::to_string(n)});
}

}  // namespace tovik::cli
