#pragma once
// Reading search results as short texts, so that expectations list hits in order.
#include <string>
#include <vector>

#include "find/registry_find.h"

namespace find_test {

// ASCII test names only: other units show as '?'.
inline std::string narrow(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// "HKEY_LOCAL_MACHINE\A\B" for a key hit, "...\B [name]" for a value-name hit and
// "...\B [name]=" for a data hit.
inline std::string describe(const tovik::find::FindHit& hit) {
    std::string text = narrow(hit.fullKeyPath());
    if (hit.kind == tovik::find::HitKind::KeyName) return text;
    text += " [" + narrow(hit.shownValueName()) + "]";
    if (hit.kind == tovik::find::HitKind::Data) text += "=";
    return text;
}

inline std::vector<std::string> findAllDescribed(const tovik::find::FindOptions& options) {
    tovik::find::RegistryFind find = tovik::find::RegistryFind::findAll(options);
    tovik::find::runFind(find);
    std::vector<std::string> hits;
    for (const auto& hit : find.hits()) hits.push_back(describe(hit));
    return hits;
}

// The hit of one next or previous search, or "" when none was found.
inline std::string findOne(const tovik::find::FindOptions& options, tovik::find::FindDirection direction,
                           const tovik::find::FindStart& start, tovik::find::FindHit* hit = nullptr) {
    tovik::find::RegistryFind find(options, direction, start);
    if (tovik::find::runFind(find) != tovik::find::FindStatus::Found) return "";
    if (hit) *hit = find.hit();
    return describe(find.hit());
}

}  // namespace find_test
