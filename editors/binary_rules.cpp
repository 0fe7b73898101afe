#include "editors/binary_rules.h"

#include <algorithm>

#include "editors/keypad_logic.h"
#include "registry/value_types.h"

namespace {

char16_t foldCase(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// A sorted list control compares without regard to case.
bool sortsBefore(std::u16string_view a, std::u16string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char16_t x, char16_t y) { return foldCase(x) < foldCase(y); });
}

}  // namespace

std::vector<BinaryTypeEntry> sortedBinaryTypeList() {
    std::vector<BinaryTypeEntry> list;
    for (const DWORD type : kBinaryTypeTable) {
        const BinaryTypeEntry entry{type, typeLongName(type)};
        // Each entry goes in after every entry that does not sort after it.
        const auto at =
            std::upper_bound(list.begin(), list.end(), entry, [](const BinaryTypeEntry& a, const BinaryTypeEntry& b) {
                return sortsBefore(a.name, b.name);
            });
        list.insert(at, entry);
    }
    return list;
}

int findTypePosition(const std::vector<BinaryTypeEntry>& list, DWORD type) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].type == type) return static_cast<int>(i);
    return -1;
}

void binaryKeypadKey(EditBuffer& data, bool overwrite, std::u16string_view text) {
    if (overwrite) selectCharacterToOverwrite(data);
    keypadType(data, text);
}

BinaryOkVerdict binaryOkRule(std::u16string_view name, bool adding, int selectedPosition) {
    if (name.empty()) return BinaryOkVerdict::NameEmpty;
    if (adding && selectedPosition < 0) return BinaryOkVerdict::NoTypeChosen;
    return BinaryOkVerdict::Accept;
}
