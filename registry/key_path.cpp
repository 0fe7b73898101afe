#include "registry/key_path.h"

#include "registry/name_fold.h"
#include "registry/registry_api.h"
#include "registry/roots.h"

namespace tovik {

namespace {

// What the platform's editor puts before the root in its address line, English and Japanese.
constexpr std::u16string_view kComputerNames[] = {u"Computer", u"\u30B3\u30F3\u30D4\u30E5\u30FC\u30BF\u30FC"};

bool isSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u3000';
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && compareNames(a, b) == 0;
}

// The held root that a first name gives, with an optional ':' after it; 0 for any other name.
HKEY rootOf(std::u16string_view name) {
    if (name.size() > 1 && name.back() == u':') name.remove_suffix(1);
    const RootInfo* root = findRootByName(name);
    return root != nullptr && root->held ? root->handle : 0;
}

// Cuts text into names. A separator is one '\' or two (escaped text), or one '/' when the text
// has no backslash; a longer run leaves an empty name, which the caller refuses. A leading and a
// trailing separator are dropped.
bool splitNames(std::u16string_view text, std::vector<std::u16string_view>& names) {
    const char16_t separator = text.find(u'\\') != std::u16string_view::npos ? u'\\' : u'/';
    const std::size_t longestRun = separator == u'\\' ? 2 : 1;
    std::size_t pos = 0;
    bool emptyInside = false;
    while (pos <= text.size()) {
        std::size_t end = text.find(separator, pos);
        if (end == std::u16string_view::npos) end = text.size();
        names.push_back(text.substr(pos, end - pos));
        std::size_t run = 0;
        while (end + run < text.size() && text[end + run] == separator) ++run;
        if (run > longestRun) emptyInside = true;
        if (end + run == text.size()) break;
        pos = end + run;
    }
    if (!names.empty() && names.front().empty()) names.erase(names.begin());  // the leading separator
    return !emptyInside;
}

}  // namespace

ParsedKeyPath parseKeyPath(std::u16string_view text) {
    ParsedKeyPath parsed;
    text = trimmed(text);
    if (text.empty()) {
        parsed.error = KeyPathError::Empty;
        return parsed;
    }
    std::vector<std::u16string_view> names;
    const bool separatorsSound = splitNames(text, names);
    std::size_t first = 0;
    if (names.size() > 1 && rootOf(names[0]) == 0) {
        for (const std::u16string_view computer : kComputerNames)
            if (sameName(names[0], computer)) first = 1;
    }
    parsed.root = first < names.size() ? rootOf(names[first]) : 0;
    if (parsed.root == 0) {
        parsed.error = KeyPathError::UnknownRoot;
        return parsed;
    }
    if (!separatorsSound) {
        parsed.error = KeyPathError::EmptyName;
        return parsed;
    }
    const std::size_t below = names.size() - first - 1;
    if (below > static_cast<std::size_t>(kMaxKeyDepth)) {
        parsed.error = KeyPathError::TooDeep;
        return parsed;
    }
    for (std::size_t i = first + 1; i < names.size(); ++i) {
        if (names[i].empty()) {
            parsed.error = KeyPathError::EmptyName;
        } else if (names[i].size() > static_cast<std::size_t>(kMaxKeyNameLength)) {
            parsed.error = KeyPathError::NameTooLong;
        }
        if (!parsed.ok()) return parsed;
    }
    for (std::size_t i = first + 1; i < names.size(); ++i) {
        if (i > first + 1) parsed.path += u'\\';
        parsed.path += names[i];
    }
    return parsed;
}

std::u16string fullKeyPath(HKEY root, std::u16string_view path) {
    std::u16string full(rootKeyName(root));
    if (!path.empty()) {
        full += u'\\';
        full += path;
    }
    return full;
}

std::vector<std::u16string_view> splitKeyPath(std::u16string_view path) {
    std::vector<std::u16string_view> names;
    if (path.empty()) return names;
    for (;;) {
        const std::size_t cut = path.find(u'\\');
        names.push_back(path.substr(0, cut));
        if (cut == std::u16string_view::npos) return names;
        path.remove_prefix(cut + 1);
    }
}

}  // namespace tovik
