#pragma once
// Walks over whole subtrees that the GUI and the command line share.
#include <string>

#include "registry/win_types.h"

struct DeleteSubkeysResult {
    std::size_t deleted = 0;   // keys removed
    std::size_t failed = 0;    // keys that could not be removed (they and their parents stay)
};

// Deletes every key below root\path, deepest first; the key itself stays. A subkey that cannot be
// deleted is stepped over, so the walk always ends. Iterative: depth costs no stack. The deletions
// are grouped into few transactions, so that a subtree of 100,000 keys goes in seconds.
DeleteSubkeysResult DeleteSubkeys(HKEY root, const std::u16string& path);

// DeleteSubkeys, then the key itself. True when the key is gone afterwards.
bool DeleteKeyTree(HKEY root, const std::u16string& path);

// True when root\path opens.
bool KeyExists(HKEY root, const std::u16string& path);
