#include "history/history_location.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "history/recording_backend.h"
#include "registry/utf8.h"

namespace tovik::history {

std::string historyFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/tovik";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/state/tovik";
}

std::string historyPathFor(const std::string& identity) {
    // FNV-1a: the same name for the same registry in every build and process.
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : identity) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[40];
    std::snprintf(name, sizeof name, "history-%016llx.db", static_cast<unsigned long long>(hash));
    return historyFolder() + "/" + name;
}

WrapResult recordChanges(std::unique_ptr<Backend> backend, const std::string& identity) {
    WrapResult result;
    std::string error;
    std::unique_ptr<HistoryFile> file;
    if (identity.empty()) {
        file = HistoryFile::open(":memory:", u"memory", error);
    } else {
        const std::string folder = historyFolder();
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        ::chmod(folder.c_str(), 0700);  // what the user changed is the user's alone
        const std::optional<std::u16string> name = utf8ToUtf16(identity);
        file = HistoryFile::open(historyPathFor(identity), name.value_or(u"?"), error);
    }
    if (!file) {
        result.backend = std::move(backend);
        result.notice = error + " Changes made now cannot be undone.";
        return result;
    }
    result.backend = std::make_unique<RecordingBackend>(std::move(backend), std::move(file));
    return result;
}

}  // namespace tovik::history
