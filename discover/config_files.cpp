#include "discover/config_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tovik::discover {

std::optional<std::string> readConfigFile(const std::filesystem::path& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) > maxBytes) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;  // shrank meanwhile: what is there
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

std::optional<std::int64_t> winePrefixChangedAt(const std::filesystem::path& folder) {
    std::optional<std::int64_t> newest;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        struct stat st {};
        if (::stat((folder / name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (!newest || st.st_mtim.tv_sec > *newest) newest = st.st_mtim.tv_sec;
    }
    return newest;
}

bool isWinePrefix(const std::filesystem::path& folder) {
    struct stat st {};
    for (const char* name : {"system.reg", "user.reg"}) {
        if (::stat((folder / name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
    }
    return false;
}

std::filesystem::path expandHome(const std::string& text, const std::string& home) {
    if (text == "~") return home;
    if (text.starts_with("~/")) return std::filesystem::path(home) / text.substr(2);
    if (!text.starts_with('/')) return {};
    return text;
}

}  // namespace tovik::discover
