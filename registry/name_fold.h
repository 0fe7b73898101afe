#pragma once
// Case-insensitive comparison of key and value names, as registry users expect: "Software" and
// "SOFTWARE" are one name. Folding maps each UTF-16 unit to its upper-case form (ASCII, Latin-1,
// Latin Extended-A, Greek, Cyrillic, full-width Latin); other units compare as they are.
#include <string>
#include <string_view>

char16_t foldNameUnit(char16_t c);
std::u16string foldName(std::u16string_view name);
// <0, 0, >0 like strcmp, over folded units; the order in which subkeys enumerate.
int compareNames(std::u16string_view a, std::u16string_view b);
