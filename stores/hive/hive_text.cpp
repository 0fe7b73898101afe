#include "stores/hive/hive_text.h"

namespace tovik::hive {

bool isPlainAsciiName(std::u16string_view name) {
    for (char16_t c : name) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

}  // namespace tovik::hive
