#include "cli/messages.h"

#include <algorithm>

#include "registry/utf8.h"

namespace tovik::cli {

namespace {

struct CoreTranslation {
    std::u16string_view japanese;
    std::string_view english;
};

// Generated at build time from the window's English translation.
constexpr CoreTranslation kCoreTranslations[] = {
#include "core_texts_en.inc"
};

}  // namespace

std::string coreText(std::u16string_view text, std::initializer_list<std::string_view> args) {
    if (messageLanguage() == InterfaceLanguage::English) {
        const auto* found = std::find_if(std::begin(kCoreTranslations), std::end(kCoreTranslations),
                                         [text](const CoreTranslation& t) { return t.japanese == text; });
        if (found != std::end(kCoreTranslations)) return fillMessage(found->english, args);
    }
    return fillMessage(utf16ToUtf8(text), args);
}

std::function<std::u16string(std::u16string_view)> coreTextTranslator() {
    return [](std::u16string_view text) {
        const std::string translated = coreText(text);
        return utf8ToUtf16(translated).value_or(std::u16string(text));
    };
}

}  // namespace tovik::cli
