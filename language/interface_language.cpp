#include "language/interface_language.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace tovik {

namespace {

std::string_view variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string_view(value) : std::string_view();
}

bool isEnglish(std::string_view name) {
    if (name.size() < 2 || (name[0] != 'e' && name[0] != 'E') || (name[1] != 'n' && name[1] != 'N')) return false;
    // "en" alone, or followed by a territory, a script, an encoding or a modifier.
    return name.size() == 2 || std::string_view("-_.@").find(name[2]) != std::string_view::npos;
}

}  // namespace

InterfaceLanguage chooseInterfaceLanguage(const std::vector<std::string>& requested) {
    return !requested.empty() && isEnglish(requested.front()) ? InterfaceLanguage::English
                                                              : InterfaceLanguage::Japanese;
}

std::vector<std::string> requestedLanguages() {
    std::vector<std::string> languages;
    if (const std::string_view list = variable("LANGUAGE"); !list.empty()) {
        for (std::size_t from = 0; from <= list.size();) {
            const std::size_t colon = std::min(list.find(':', from), list.size());
            if (colon > from) languages.emplace_back(list.substr(from, colon - from));
            from = colon + 1;
        }
        return languages;
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const std::string_view value = variable(name); !value.empty()) {
            languages.emplace_back(value);
            break;
        }
    }
    return languages;
}

}  // namespace tovik
