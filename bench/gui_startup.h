#pragma once
// The browser's start-up timed as users meet it: a fresh process that opens the store, fills and
// paints the tree and answers the caution. tovik-bench starts itself again for it, so that neither
// its own memory nor its warm caches count.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovik::bench {

// The argument that makes tovik-bench the start-up child: --startup-child FOLDER.
inline constexpr std::string_view kStartupChildArgument = "--startup-child";

// What the child reports on stdout once the caution is answered.
struct StartupReport {
    std::uint64_t treeItems = 0;       // items in the tree, the three roots included
    std::uint64_t peakResidentKb = 0;  // the child's peak resident memory
};

// A private folder for one start: data/tovik/registry.db links to store (so the store's WAL files
// stay beside the store itself), runtime/ and tmp/ hold what the single-instance channel and Qt
// keep there, so the child never meets a running Tovik. Empty, with error set, on failure.
std::string makeStartupFolder(const std::string& store, std::string& error);
void removeStartupFolder(const std::string& folder);

// The child's side: starts the browser on the folder's store with every message box answered OK,
// prints its report and ends the process. Never returns.
[[noreturn]] void runStartupChild(const std::string& folder);

std::optional<StartupReport> parseStartupReport(std::string_view text);

}  // namespace tovik::bench
