#pragma once
// Whether a wineserver runs a prefix. wineserver keeps the registry in memory and writes it back
// over the files, so nothing else may write them while it runs. It holds a write lock on the
// file `lock` of its server folder `server-<dev>-<ino>` (the prefix folder's device and inode in
// hex), which lives in /tmp/.wine-<uid>/ upstream and, with Debian's Wine, in the folder of
// $TMPDIR or /tmp that the prefix's file `wineserver` names.
#include <string>
#include <vector>

namespace tovik::wine {

struct WineserverState {
    bool mayWrite = true;  // false while a wineserver runs or when it cannot be told
    std::string reason;    // why not, as a sentence for the user
};

// The lock files a wineserver of `prefixDir` would hold, existing or not.
std::vector<std::string> wineserverLockPaths(const std::string& prefixDir);
WineserverState checkWineserver(const std::string& prefixDir);

// Holds the lock a wineserver of the prefix takes as it starts (a write lock on the first byte
// of its lock file), so that none can start while Tovik saves: a wineserver that finds the lock
// taken ends at once, and Wine's programs try again for some seconds. The upstream server folder
// is made (mode 0700, as wineserver makes it) when missing, so that the lock exists to be taken.
//
// The lock belongs to the process (fcntl): closing any descriptor of the lock file in this
// process drops it, so nothing else here may open the file while it is held; checkWineserver is
// not called then.
class WineserverLock {
public:
    WineserverLock() = default;
    ~WineserverLock() { release(); }
    WineserverLock(const WineserverLock&) = delete;
    WineserverLock& operator=(const WineserverLock&) = delete;

    // False with `reason` set (a sentence for the user) while a wineserver runs the prefix or
    // when the lock cannot be taken.
    bool acquire(const std::string& prefixDir, std::string& reason);
    void release();
    bool held() const { return held_; }

private:
    std::vector<int> fds_;
    bool held_ = false;
};

}  // namespace tovik::wine
