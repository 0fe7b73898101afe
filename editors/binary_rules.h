#pragma once
// The binary editor's logic: the type list with the six types it offers, the keypad key with its
// overwrite mode, and the OK rule.
#include <array>
#include <string_view>
#include <vector>

#include "editors/edit_buffer.h"
#include "registry/win_types.h"

struct BinaryTypeEntry {
    DWORD type;
    std::u16string_view name;
};

// The types in the order they are added to the list; each is shown by its long name.
inline constexpr std::array<DWORD, 6> kBinaryTypeTable = {REG_DWORD_BIG_ENDIAN, REG_BINARY, REG_LINK,
                                                          REG_MULTI_SZ,         REG_NONE,   REG_RESOURCE_LIST};

// A type number that none of the list's entries carries: the editor's type before an add.
inline constexpr DWORD kNoBinaryType = 0xFFFFFFFFu;

// The list as the sorted list control holds it once every entry of the table was added: by name.
std::vector<BinaryTypeEntry> sortedBinaryTypeList();

// The first position whose entry carries type, or -1.
int findTypePosition(const std::vector<BinaryTypeEntry>& list, DWORD type);

// A keypad text key on the data edit: in overwrite mode the key's text takes the place of the
// character after the caret (or of the selection); otherwise it goes in at the caret.
void binaryKeypadKey(EditBuffer& data, bool overwrite, std::u16string_view text);

enum class BinaryOkVerdict { Accept, NameEmpty, NoTypeChosen };
// OK: a name, and when adding a chosen type (selectedPosition -1 when none is chosen).
BinaryOkVerdict binaryOkRule(std::u16string_view name, bool adding, int selectedPosition);
