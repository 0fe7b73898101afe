#pragma once
// Steam's KeyValues text (libraryfolders.vdf, appmanifest_*.acf): "key" "value" pairs and
// "key" { ... } blocks, quoted or bare tokens, backslash escapes in quoted ones, // comments and
// [$PLATFORM] conditions (ignored). A damaged file gives no tree, never a partial one.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovik::discover {

struct KeyValues {
    std::string key;
    std::string value;                // a pair's value; empty for a block
    std::vector<KeyValues> children;  // a block's entries, in file order
    bool isBlock = false;

    // The first entry named key (ASCII case ignored, as Steam does), or null.
    const KeyValues* find(std::string_view key) const;
    // The value of the pair named key; empty when there is none or it is a block.
    std::string text(std::string_view key) const;
};

// The top-level entries of text. Blocks nest at most maxDepth levels (deeper is damage).
std::optional<KeyValues> parseKeyValues(std::string_view text, int maxDepth = 32);

}  // namespace tovik::discover
