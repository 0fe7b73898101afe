#include "stores/wine/wine_prefix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "files/durable_writer.h"
#include "files/safe_read.h"
#include "language/messages.h"
#include "stores/wine/wineserver_check.h"

namespace tovik::wine {
namespace {

constexpr const char* kMachineFile = "system.reg";
constexpr const char* kUserFile = "user.reg";
constexpr int kLockWaitMs = 10000;

std::size_t contentHash(std::string_view bytes) {
    return std::hash<std::string_view>{}(bytes);
}

std::string cannotLock(const std::string& dir, const std::string& why) {
    return say({"Cannot lock the Wine prefix %1: %2.", "Wineのプレフィックス %1 をロックできません: %2。"}, {dir, why});
}

// A failed read or save of one of the prefix's files: the file layer's own sentence in English,
// and the same facts in Japanese.
std::string fileFailure(const files::FileStatus& status, const std::string& path, bool saving) {
    const std::string why = std::strerror(status.error);
    if (status.problem == files::Problem::notRegularFile)
        return say({"%1", status.error == EISDIR
                              ? (saving ? "%2 を保存できません: 通常のファイルではなくフォルダです。"
                                        : "%2 を読み込めません: 通常のファイルではなくフォルダです。")
                          : saving ? "%2 を保存できません: 通常のファイルではありません。"
                                   : "%2 を読み込めません: 通常のファイルではありません。"},
                   {status.message, path});
    if (status.problem == files::Problem::unsafeLink)
        return say({"%1", "%2 を保存できません: 他のユーザーが共有フォルダに置いたリンクなので、たどりません。"},
                   {status.message, path});
    if (status.placed)
        return say({"%1", "%2 を保存しましたが、変更を確実に記録できませんでした: %3。"}, {status.message, path, why});
    if (saving) return say({"%1", "%2 を保存できません: %3。"}, {status.message, path, why});
    return say({"%1", "%2 を読み込めません: %3。"}, {status.message, path, why});
}

}  // namespace

std::unique_ptr<WinePrefix> WinePrefix::open(const std::string& dir, std::string& error) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        error = say({"Cannot open the Wine prefix %1: %2.", "Wineのプレフィックス %1 を開けません: %2。"},
                    {dir, std::strerror(errno)});
        return nullptr;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = say({"%1 is not a folder, so it is not a Wine prefix.",
                     "%1 はフォルダではないため、Wineのプレフィックスではありません。"},
                    {dir});
        return nullptr;
    }
    std::string clean = dir;
    while (clean.size() > 1 && clean.back() == '/') clean.pop_back();
    struct stat machineEntry {
    }, userEntry{};
    if (::lstat((clean + "/" + kMachineFile).c_str(), &machineEntry) != 0 ||
        ::lstat((clean + "/" + kUserFile).c_str(), &userEntry) != 0) {
        error = say({"%1 is not a Wine prefix: it has no system.reg and user.reg.",
                     "%1 はWineのプレフィックスではありません: system.reg と user.reg がありません。"},
                    {clean});
        return nullptr;
    }
    std::unique_ptr<WinePrefix> prefix(new WinePrefix());
    prefix->dir_ = clean;
    if (!prefix->load(error)) return nullptr;
    const WineserverState wine = checkWineserver(clean);
    if (!wine.mayWrite) prefix->readOnlyReason_ = wine.reason;
    return prefix;
}

WinePrefix::~WinePrefix() {
    unlock();
}

bool WinePrefix::loadFile(const std::string& name, std::unique_ptr<WineRegistryFile>& file, FileIdentity& identity,
                          std::size_t& content, std::string& error) {
    const std::string path = dir_ + "/" + name;
    std::string bytes;
    if (const files::FileStatus read = files::readFile(path, bytes, &identity); !read.ok()) {
        error = fileFailure(read, path, false);
        return false;
    }
    content = contentHash(bytes);
    std::string why;
    file = WineRegistryFile::parse(std::move(bytes), why);
    if (!file) {
        error = say({"%1 cannot be opened: %2", "%1 を開けません: %2"}, {path, why});
        return false;
    }
    return true;
}

bool WinePrefix::load(std::string& error) {
    std::unique_ptr<WineRegistryFile> machine, user;
    FileIdentity machineId, userId;
    std::size_t machineContent = 0, userContent = 0;
    if (!loadFile(kMachineFile, machine, machineId, machineContent, error)) return false;
    if (!loadFile(kUserFile, user, userId, userContent, error)) return false;
    // Wine takes the architecture of system.reg (win32 when it names none) for user.reg too.
    const std::string arch = machine->arch().empty() ? "win32" : machine->arch();
    if (!user->arch().empty() && user->arch() != arch) {
        error = say({"%1/user.reg is for %2 but system.reg is for %3; Wine rejects such a prefix.",
                     "%1/user.reg は %2 用ですが system.reg は %3 用です。Wineはこのようなプレフィックスを"
                     "受け付けません。"},
                    {dir_, user->arch(), arch});
        return false;
    }
    machine_ = std::move(machine);
    user_ = std::move(user);
    machineId_ = machineId;
    userId_ = userId;
    machineContent_ = machineContent;
    userContent_ = userContent;
    machineSaved_ = userSaved_ = 0;
    ++generation_;
    return true;
}

WineKey* WinePrefix::classesRoot() {
    return machine_->findPath(machine_->root(), u"Software\\Classes");
}

WineRegistryFile& WinePrefix::fileOf(const WineKey& key) {
    const WineKey* top = &key;
    while (top->parent()) top = top->parent();
    return top == &user_->root() ? *user_ : *machine_;
}

bool WinePrefix::changedOnDisk() const {
    return files::identityOf(dir_ + "/" + kMachineFile) != machineId_ ||
           files::identityOf(dir_ + "/" + kUserFile) != userId_;
}

bool WinePrefix::refresh(std::string& error) {
    if (!changedOnDisk()) return true;
    return load(error);
}

void WinePrefix::unlock() {
    wineserverLock_.release();
    if (lockFd_ < 0) return;
    ::flock(lockFd_, LOCK_UN);
    ::close(lockFd_);
    lockFd_ = -1;
}

bool WinePrefix::beginWrite(std::string& error) {
    if (writing()) return true;
    if (readOnly()) {
        error = readOnlyReason_;
        return false;
    }
    lockFd_ = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lockFd_ < 0) {
        error = cannotLock(dir_, std::strerror(errno));
        return false;
    }
    // Another Tovik holds the lock only while it saves; wait for it, but not forever.
    int waited = 0;
    while (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= kLockWaitMs) {
            const int e = errno;
            ::close(lockFd_);
            lockFd_ = -1;
            error = cannotLock(
                dir_, e == EWOULDBLOCK ? say({"another program keeps it locked", "他のプログラムがロックしたままです"})
                                       : std::string(std::strerror(e)));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++waited;
    }
    // From here to the save no wineserver can start, load the files and later write back what
    // it loaded over what Tovik saves.
    std::string reason;
    if (!wineserverLock_.acquire(dir_, reason)) {
        readOnlyReason_ = reason;
        error = reason;
        unlock();
        return false;
    }
    if (!refresh(error)) {
        unlock();
        return false;
    }
    return true;
}

bool WinePrefix::stillAsRead(const std::string& name, const FileIdentity& identity, std::size_t content,
                             std::string& error) const {
    const std::string path = dir_ + "/" + name;
    bool same = files::identityOf(path) == identity;
    if (same) {
        // A rewrite in place may keep size and time (coarse clocks): the bytes tell.
        std::string bytes;
        same = files::readFile(path, bytes).ok() && contentHash(bytes) == content;
    }
    if (!same) {
        error = say({"%1 was changed by another program while Tovik was writing to the prefix; so as not to "
                     "overwrite that change, nothing was saved. Run the command again to apply it to the new "
                     "content.",
                     "Tovikがプレフィックスに書き込んでいる間に、他のプログラムが %1 を変更しました。その変更を"
                     "上書きしないよう、何も保存しませんでした。新しい内容に適用するには、もう一度実行して"
                     "ください。"},
                    {path});
    }
    return same;
}

bool WinePrefix::saveFile(const std::string& name, const WineRegistryFile& file, FileIdentity& identity,
                          std::size_t& content, std::string& error) {
    const std::string path = dir_ + "/" + name;
    const std::string bytes = file.serialize();
    files::FileStatus saved = files::copyFileOnce(path, path + ".tovik-backup", true);
    if (saved.ok()) {
        files::WriteOptions options;
        options.newFileMode = 0644;
        saved = files::replaceFile(path, bytes, options);
    }
    if (!saved.ok()) {
        error = fileFailure(saved, path, true);
        return false;
    }
    content = contentHash(bytes);
    const std::optional<FileIdentity> now = files::identityOf(path);
    if (!now) {
        error = say({"Cannot check %1 after saving it: %2.", "保存した %1 を確認できません: %2。"},
                    {path, std::strerror(errno)});
        return false;
    }
    identity = *now;
    return true;
}

bool WinePrefix::commitWrite(std::string& error) {
    if (!writing()) {
        error =
            text({"No write was started on the Wine prefix.", "Wineのプレフィックスへの書き込みが始まっていません。"});
        return false;
    }
    // No wineserver can have started meanwhile (its lock is held); another program may still
    // have replaced a file. Both are checked before either is saved.
    const bool machineChanged = machine_->editCount() != machineSaved_;
    const bool userChanged = user_->editCount() != userSaved_;
    bool ok = (!machineChanged || stillAsRead(kMachineFile, machineId_, machineContent_, error)) &&
              (!userChanged || stillAsRead(kUserFile, userId_, userContent_, error));
    if (ok && machineChanged) {
        ok = saveFile(kMachineFile, *machine_, machineId_, machineContent_, error);
        if (ok) machineSaved_ = machine_->editCount();
    }
    if (ok && userChanged) {
        ok = saveFile(kUserFile, *user_, userId_, userContent_, error);
        if (ok) userSaved_ = user_->editCount();
    }
    // Edits that were not kept must not linger in memory: read the files again.
    std::string reloadError;
    if (!ok) load(reloadError);
    unlock();
    return ok;
}

void WinePrefix::abortWrite() {
    if (machine_->editCount() != machineSaved_ || user_->editCount() != userSaved_) {
        std::string ignored;
        load(ignored);
    }
    unlock();
}

}  // namespace tovik::wine
