#pragma once
// Wine compares key and value names unit by unit after mapping each UTF-16 unit to lower case
// with its own table, and orders subkeys by that comparison (a shorter name first when one is a
// prefix of the other). Using the same mapping here keeps lookups and the order of keys in a
// saved file the same as Wine's.
#include <cstddef>
#include <string_view>

namespace tovik::wine {

char16_t lowerUnit(char16_t c);
// <0, 0, >0 like strcmp.
int compareNames(std::u16string_view a, std::u16string_view b);
bool sameName(std::u16string_view a, std::u16string_view b);
std::size_t hashName(std::u16string_view name);

}  // namespace tovik::wine
