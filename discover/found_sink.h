#pragma once
// Where the launcher readers deliver what they find: each registry once (one folder reached two
// ways, such as a symlinked Steam root, is reported the first time), passed on at once, and a
// stop request that every reader checks between entries.
#include <filesystem>
#include <functional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>

#include "discover/found_registry.h"

namespace tovik::discover {

using FoundCallback = std::function<void(const FoundRegistry&)>;

class FoundSink {
public:
    FoundSink(const FoundCallback& onFound, std::stop_token stop) : onFound_(onFound), stop_(std::move(stop)) {}

    bool stopped() const { return stop_.stop_requested(); }

    // Reports the Wine prefix at folder, named name (UTF-8; the folder's name when empty). False
    // when it is no prefix, was reported already, or discovery was stopped.
    bool addPrefix(RegistryKind kind, std::string_view name, const std::filesystem::path& folder,
                   std::string steamAppId = {});
    // Reports a Tovik store file, whether it exists yet or not.
    void addStore(std::string_view name, const std::filesystem::path& file);

    // Whether path (a library, a root) was visited already; marks it visited.
    bool firstVisit(const std::filesystem::path& path);

private:
    const FoundCallback& onFound_;
    std::stop_token stop_;
    std::set<std::string> reported_;
    std::set<std::string> visited_;
};

// The canonical form of path when it exists, so that two spellings compare equal.
std::string canonicalText(const std::filesystem::path& path);
// text as UTF-16; a byte that is not UTF-8 becomes U+FFFD rather than losing the name.
std::u16string displayText(std::string_view text);

}  // namespace tovik::discover
