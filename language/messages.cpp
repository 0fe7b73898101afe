#include "language/messages.h"

namespace tovik {

namespace {
InterfaceLanguage g_language = InterfaceLanguage::English;
}  // namespace

void setMessageLanguage(InterfaceLanguage language) {
    g_language = language;
}

InterfaceLanguage messageLanguage() {
    return g_language;
}

std::string_view text(const Message& message) {
    return g_language == InterfaceLanguage::English ? message.english : message.japanese;
}

std::string fillMessage(std::string_view text, std::initializer_list<std::string_view> args) {
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

std::string say(const Message& message, std::initializer_list<std::string_view> args) {
    return fillMessage(text(message), args);
}

std::string count(std::size_t n, const Message& one, const Message& many) {
    return say(n == 1 ? one : many, {std::to_string(n)});
}

}  // namespace tovik
