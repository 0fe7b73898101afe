#include "stores/hive/hive_file_ops.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/safe_read.h"
#include "language/messages.h"

namespace tovik::hive {

namespace {

std::string reason(const Message& what, const std::string& folder, int err) {
    return say(what, {folder, std::strerror(err)});
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

std::uint32_t readLe32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> entriesNamedIgnoringCase(const std::string& folder, std::string_view name) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
        if (equalIgnoringAsciiCase(entry->d_name, name)) found.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return found;
}

std::string unfinishedWindowsWriteReason(const std::string& hivePath) {
    const std::string name = fileNameOf(hivePath);
    unsigned char head[12] = {};
    std::size_t got = 0;
    if (files::readHead(hivePath, head, sizeof head, got).ok() && got == sizeof head &&
        std::memcmp(head, "regf", 4) == 0 && readLe32(head + 4) != readLe32(head + 8)) {
        return say({"Windows did not shut down cleanly: %1 was being written when Windows stopped. hivex cannot "
                    "replay it, so the hive is open read-only. Start that Windows and shut it down normally to "
                    "write it.",
                    "Windowsが正しく終了していません。%1 "
                    "は書き込みの途中で止まっています。hivexではその続きを行えないため、このハイブは読み取り専用で"
                    "開きました。そのWindowsを起動し、正しく終了させると書き込めます。"},
                   {name});
    }
    const std::optional<FileIdentity> hive = files::identityOf(hivePath);
    if (!hive) return {};
    const std::string folder = folderOf(hivePath);
    for (const char* suffix : {".LOG1", ".LOG2"}) {
        for (const std::string& log : entriesNamedIgnoringCase(folder, name + suffix)) {
            const std::optional<FileIdentity> id = files::identityOf(folder + "/" + log);
            if (id && id->size > 0 && id->modifiedNs > hive->modifiedNs) {
                return say({"Windows did not shut down cleanly: %1 has changes waiting in its transaction log %2. "
                            "hivex cannot replay it, so the hive is open read-only. Start that Windows and shut it "
                            "down normally to write it.",
                            "Windowsが正しく終了していません。%1 にはトランザクションログ %2 に残った変更があります。"
                            "hivexではその続きを行えないため、このハイブは読み取り専用で開きました。そのWindowsを"
                            "起動し、正しく終了させると書き込めます。"},
                           {name, log});
            }
        }
    }
    return {};
}

namespace {

// The hives of one Windows installation share a folder, and one process may write several of
// them in one batch: a second flock on the same folder from this process would wait for the
// first. So the process holds one lock per folder, counted.
struct HeldFolder {
    int fd = -1;
    int users = 0;
};
std::mutex g_heldMutex;
std::map<std::string, HeldFolder> g_held;

}  // namespace

FolderLock::FolderLock(const std::string& folder) : folder_(folder) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    if (auto held = g_held.find(folder); held != g_held.end()) {
        ++held->second.users;
        fd_ = held->second.fd;
        return;
    }
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = reason({"Cannot open the folder %1: %2.", "フォルダ %1 を開けません: %2。"}, folder, errno);
        return;
    }
    // Another writer saves within seconds; waiting longer would only hang the caller.
    for (int waited = 0; ::flock(fd_, LOCK_EX | LOCK_NB) != 0; ++waited) {
        if ((errno == EWOULDBLOCK || errno == EINTR) && waited < 10000) {
            ::usleep(1000);
            continue;
        }
        error_ =
            errno == EWOULDBLOCK
                ? say({"Another program is writing a hive in %1; try again later.",
                       "他のプログラムが %1 のハイブに書き込んでいます。しばらくしてからやり直してください。"},
                      {folder})
                : reason({"Cannot lock the folder %1: %2.", "フォルダ %1 をロックできません: %2。"}, folder, errno);
        ::close(fd_);
        fd_ = -1;
        return;
    }
    g_held[folder] = HeldFolder{fd_, 1};
}

FolderLock::~FolderLock() {
    if (fd_ < 0) return;
    std::lock_guard<std::mutex> guard(g_heldMutex);
    auto held = g_held.find(folder_);
    if (held == g_held.end() || --held->second.users > 0) return;
    ::close(held->second.fd);  // closing releases the lock
    g_held.erase(held);
}

}  // namespace tovik::hive
