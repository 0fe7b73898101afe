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

}  // namespace tovik::wine
