#pragma once
// Wine compares key and value names unit by unit after mapping each UTF-16 unit to lower case
// with its own table, and orders subkeys by that comparison (a shorter name first when one is a
// prefix of the other). Using the same mapping here keeps lookups and the order of keys in a
// saved file the same as Wine's.
#include <cstddef>
#include <string>
#include <string_view>

namespace tovik::wine {

// A name as the Wine model keeps it: either bytes of the file's text, each byte one UTF-16 unit
// (ASCII names that needed no unescaping, read where they stand), or UTF-16 units.
class StoredName {
public:
    StoredName() = default;
    StoredName(std::u16string_view units) : data_(units.data()), size_(units.size()), wide_(true) {}
    StoredName(const void* data, std::size_t size, bool wide) : data_(data), size_(size), wide_(wide) {}
    static StoredName ascii(std::string_view bytes) { return {bytes.data(), bytes.size(), false}; }

    const void* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool wide() const { return wide_; }
    char16_t operator[](std::size_t i) const {
        return wide_ ? static_cast<const char16_t*>(data_)[i]
                     : static_cast<char16_t>(static_cast<const unsigned char*>(data_)[i]);
    }
    std::u16string str() const;
    void appendTo(std::u16string& out) const;

private:
    const void* data_ = nullptr;
    std::size_t size_ = 0;
    bool wide_ = true;
};

char16_t lowerUnit(char16_t c);
// <0, 0, >0 like strcmp.
int compareNames(std::u16string_view a, std::u16string_view b);
bool sameName(std::u16string_view a, std::u16string_view b);
std::size_t hashName(std::u16string_view name);
int compareNames(StoredName a, StoredName b);
bool sameName(StoredName a, StoredName b);
std::size_t hashName(StoredName name);

}  // namespace tovik::wine
