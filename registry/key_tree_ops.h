#pragma once
// Walks over whole subtrees that the GUI and the command line share.
#include <string>

#include "registry/win_types.h"

struct DeleteSubkeysResult {
    std::size_t deleted = 0;  // keys removed (and kept: counted once their batch committed)
    std::size_t failed = 0;   // keys that could not be removed (they and their parents stay)
    // Why the walk stopped early: a commit the store refused (the keys of that batch stay), or a
    // damaged store whose tree has a cycle (ERROR_BADDB); 0 when it went through.
    LONG error = 0;
    // Set (with error ERROR_ACCESS_DENIED) when the walk did not begin because a key below is one
    // the registry keeps (a root, where a hive begins): the sentence saying so. Nothing was deleted.
    std::string refusal;
};

// Deletes every key below root\path, deepest first; the key itself stays. A subkey that cannot be
// deleted is stepped over, so the walk always ends. Iterative: depth costs no stack. The deletions
// are grouped into transactions of at most 10,000 keys or about 100 ms, whichever comes first:
// a subtree of 100,000 keys goes in seconds, and other writers never wait long for their turn.
// A store that saves whole files (Backend::commitsAlongTheWay) commits once, at the end.
DeleteSubkeysResult DeleteSubkeys(HKEY root, const std::u16string& path);

// DeleteSubkeys, then the key itself, in one batch. True when the key is gone afterwards; nothing
// is deleted when the key or a key below it is one the registry keeps.
bool deleteKeyTree(HKEY root, const std::u16string& path);

// Why deleting root\path with everything below it (only what is below when keepKey) would be
// refused part-way, as a sentence; empty when nothing stands in the way. Commands ask first, so
// that a refused delete removes nothing.
std::string treeDeleteRefusal(HKEY root, const std::u16string& path, bool keepKey);

// True when root\path opens.
bool keyExists(HKEY root, const std::u16string& path);
