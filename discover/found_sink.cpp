#include "discover/found_sink.h"

#include <sys/stat.h>

#include "discover/config_files.h"
#include "registry/utf8.h"

namespace tovik::discover {

std::string canonicalText(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::canonical(path, ec);
    return ec ? path.lexically_normal().string() : canonical.string();
}

std::u16string displayText(std::string_view text) {
    if (auto exact = utf8ToUtf16(text)) return std::move(*exact);
    std::u16string lossy;
    for (const char c : text) lossy += static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'\uFFFD';
    return lossy;
}

bool FoundSink::addPrefix(RegistryKind kind, std::string_view name, const std::filesystem::path& folder,
                          std::string steamAppId) {
    if (stopped() || folder.empty()) return false;
    const std::optional<std::int64_t> changedAt = winePrefixChangedAt(folder);
    if (!changedAt || !isWinePrefix(folder)) return false;
    std::string canonical = canonicalText(folder);
    if (!reported_.insert(canonical).second) return false;
    FoundRegistry found;
    found.kind = kind;
    const std::filesystem::path shown(canonical);
    found.name = displayText(name.empty() ? shown.filename().string() : name);
    found.folder = std::move(canonical);
    found.steamAppId = std::move(steamAppId);
    found.changedAt = changedAt;
    onFound_(found);
    return true;
}

void FoundSink::addStore(std::string_view name, const std::filesystem::path& file) {
    if (stopped()) return;
    std::string canonical = canonicalText(file);
    if (!reported_.insert(canonical).second) return;
    FoundRegistry found;
    found.kind = RegistryKind::TovikStore;
    found.name = displayText(name);
    found.folder = std::move(canonical);
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) found.changedAt = st.st_mtim.tv_sec;
    onFound_(found);
}

bool FoundSink::firstVisit(const std::filesystem::path& path) {
    return visited_.insert(canonicalText(path)).second;
}

}  // namespace tovik::discover
