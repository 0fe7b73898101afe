#include "registry/key_tree_ops.h"

#include <chrono>
#include <vector>

#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace {

// Deletions per transaction: large enough to be fast, small enough that other processes get a
// turn at the store and that an interrupted delete keeps most of its work.
constexpr std::size_t kDeletesPerCommit = 10000;
// Keys with many values take long to delete: the batch also commits after this long, so that
// another writer's wait for the lock stays far below the store's 5 s.
constexpr auto kCommitInterval = std::chrono::milliseconds(100);
// The lock is left free this long after each commit: a writer waiting for it polls every
// millisecond, and without a gap the delete would take the lock straight back.
constexpr auto kTurnForOthers = std::chrono::milliseconds(2);

struct Level {
    std::u16string name;  // under the level above
    tovik::KeyHandle handle;
    DWORD index;  // the subkey to look at next; moves on only past keys that would not go
};

}  // namespace

DeleteSubkeysResult DeleteSubkeys(HKEY root, const std::u16string& path) {
    DeleteSubkeysResult result;
    tovik::KeyHandle top;
    if (const LONG rc = RegOpenKeyExW(root, path.c_str(), 0, 0, top.receive()); rc != ERROR_SUCCESS) {
        if (rc == ERROR_BADDB) result.error = rc;
        return result;
    }
    // A key that cannot go would stop the walk after everything else below was deleted.
    if (RegCheckTreeDeletable(top.get(), nullptr, false, &result.refusal) == ERROR_ACCESS_DENIED) {
        result.error = ERROR_ACCESS_DENIED;
        return result;
    }

    tovik::RegistryBatch batch;
    const bool commitsAlongTheWay = tovik::RegistryBatch::commitsAlongTheWay();
    // Keys are opened and deleted through their parent's handle: one name to look up each time,
    // whatever the depth.
    std::vector<Level> levels;
    levels.push_back({path, std::move(top), 0});
    tovik::EnumBuffers buffers;
    std::u16string name;
    std::size_t sinceCommit = 0;  // deletions in the open transaction
    std::size_t unchecked = 0;    // deletions since the clock was last read
    auto batchStart = std::chrono::steady_clock::now();
    auto commit = [&](bool last) {
        const bool kept = last ? batch.finish() : batch.commit(kTurnForOthers);
        if (kept) {
            result.deleted += sinceCommit;
        } else {
            result.failed += sinceCommit;  // rolled back: those keys are still there
            result.error = batch.error() != ERROR_SUCCESS ? batch.error() : ERROR_CANTWRITE;
        }
        sinceCommit = 0;
        batchStart = std::chrono::steady_clock::now();
        return kept;
    };
    while (!levels.empty()) {
        Level& level = levels.back();
        std::u16string_view listed;
        if (tovik::enumSubkeyName(level.handle.get(), level.index, buffers, listed) == ERROR_SUCCESS) {
            name.assign(listed);
            tovik::KeyHandle child;
            const LONG rc = RegOpenKeyExW(level.handle.get(), name.c_str(), 0, 0, child.receive());
            if (rc == ERROR_SUCCESS) {
                levels.push_back({name, std::move(child), 0});
            } else if (rc == ERROR_BADDB) {
                result.error = rc;  // a key inside itself: the tree has no end to walk to
                break;
            } else {
                ++level.index;  // unreadable: leave it
                ++result.failed;
            }
            continue;
        }
        // Every subkey of this level is done: close it, and delete it unless it is the top.
        level.handle.reset();
        const std::u16string doneName = std::move(level.name);
        levels.pop_back();
        if (levels.empty()) break;
        if (RegDeleteKeyW(levels.back().handle.get(), doneName.c_str()) == ERROR_SUCCESS) {
            if (!batch.pending()) {
                ++result.deleted;  // outside a transaction each deletion is kept at once
            } else {
                ++sinceCommit;
                // A store that saves whole files saves the delete once, at its end.
                if (commitsAlongTheWay &&
                    (sinceCommit == kDeletesPerCommit ||
                     (++unchecked % 64 == 0 && std::chrono::steady_clock::now() - batchStart >= kCommitInterval)) &&
                    !commit(false))
                    break;
            }
        } else {
            ++levels.back().index;  // it stays, so the next subkey moves up to the next index
            ++result.failed;
        }
    }
    levels.clear();
    commit(true);
    return result;
}

bool deleteKeyTree(HKEY root, const std::u16string& path) {
    if (!treeDeleteRefusal(root, path, false).empty()) return false;
    {
        // The key goes in the same step as its subkeys: a store that saves whole files saves once.
        tovik::RegistryBatch batch;
        DeleteSubkeys(root, path);
        RegDeleteKeyW(root, path.c_str());
    }
    return !keyExists(root, path);
}

bool keyExists(HKEY root, const std::u16string& path) {
    tovik::KeyHandle key;
    return RegOpenKeyExW(root, path.c_str(), 0, 0, key.receive()) == ERROR_SUCCESS;
}

std::string treeDeleteRefusal(HKEY root, const std::u16string& path, bool keepKey) {
    std::string why;
    if (RegCheckTreeDeletable(root, path.c_str(), !keepKey, &why) != ERROR_ACCESS_DENIED) return {};
    return why;
}
