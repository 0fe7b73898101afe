#pragma once
// The readable listing of tovik-reg diff and import --dry-run, as diff(1) marks lines: "-" for
// what only side A has (or what an import removes), "+" for what only B has (or what it adds), a
// changed value as its "-" line then its "+" line, and " [key]" above the values of a key that
// both sides have. Keys are written as [HKEY_...\path], values as a backup file holds them.
#include <iosfwd>
#include <string>
#include <string_view>

#include "registry/win_types.h"

namespace tovik::cli {

class DiffListing {
public:
    explicit DiffListing(std::ostream& out) : out_(out) {}
    // sign: '-', '+' or ' '.
    void key(char sign, HKEY root, std::u16string_view path);
    void value(char sign, std::u16string_view name, DWORD type, const BYTE* data, std::size_t size);
    // " [key]" once before the values of a key on both sides: nothing when it is the key of the
    // last key line.
    void keyHeader(HKEY root, std::u16string_view path);

private:
    std::ostream& out_;
    HKEY lastRoot_ = 0;
    std::u16string lastPath_;
    bool haveKey_ = false;
};

}  // namespace tovik::cli
