#pragma once
// A Wine prefix behind the Backend interface: HKEY_LOCAL_MACHINE is system.reg, HKEY_CURRENT_USER
// is user.reg, and HKEY_CLASSES_ROOT is the key HKEY_LOCAL_MACHINE\Software\Classes itself (the
// same id), so a change through either name is one change. When the prefix has no
// Software\Classes, HKEY_CLASSES_ROOT lists empty and the first write to it creates the key.
//
// Key ids name a key by its place (parent id and name) and stay the same while the process runs,
// across reloads of the files; a deleted key's id is never given to another key. Outside a
// batch every write locks the prefix, re-reads files another program replaced, edits and saves;
// a batch saves once, at its commit.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "registry/backend.h"
#include "registry/registry_store.h"

namespace tovik {

namespace wine {
class WinePrefix;
class WineKey;
class WineRegistryFile;
}  // namespace wine

class WineBackend final : public Backend {
public:
    explicit WineBackend(std::unique_ptr<wine::WinePrefix> prefix);
    // A batch still open is saved.
    ~WineBackend() override;

    wine::WinePrefix& prefix() { return *prefix_; }

    bool readOnly() const override;
    std::string readOnlyReason() const override;
    KeyId rootKey(HKEY root) const override;
    ChangeStamp changeStamp() override;
    bool inTransaction() override;

    bool keyExists(KeyId key) override;
    KeyId findChild(KeyId parent, std::u16string_view name) override;
    KeyId findChildNamed(KeyId parent, std::u16string_view name, std::u16string& storedName) override;
    void listSubkeys(KeyId key, std::size_t from, std::int64_t limit, std::vector<SubkeyEntry>& out) override;
    void listValues(KeyId key, std::size_t from, std::int64_t limit, std::vector<ValueEntry>& out) override;
    bool readValueData(ValueId value, BYTE* buffer, DWORD expectedSize) override;
    std::int64_t keyWriteTime(KeyId key) override;

    LONG createKeys(KeyId parent, std::size_t parentDepth, std::span<const std::u16string_view> names, KeyId& id,
                    bool& created) override;
    LONG setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) override;
    LONG deleteValue(KeyId key, std::u16string_view name) override;
    LONG deleteKey(KeyId key) override;
    std::string treeDeleteRefusal(KeyId key, bool withKey) override;
    LONG renameKey(KeyId key, std::u16string_view newName) override;
    LONG renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) override;

    LONG beginBatch() override;
    LONG commitBatch(bool beginAgain) override;
    // A commit rewrites whole files: a batch is saved once, at its end.
    bool commitsAlongTheWay() const override { return false; }
    bool terminatesStrings() const override { return true; }
    bool beginSnapshot() override;
    void endSnapshot() override;
    std::vector<std::string> files() const override;
    std::string lastFailure() const override { return lastError_; }

    // Why the last write or save failed, as a sentence; empty when none did.
    const std::string& lastError() const { return lastError_; }

private:
    struct KeyRecord {
        KeyId parent = kNoKey;  // kNoKey for the root of a file
        std::u16string name;
        bool userFile = false;            // for the root of a file: user.reg, else system.reg
        bool dead = false;                // deleted through this backend: never found again
        wine::WineKey* cached = nullptr;  // valid (null: missing) while generation matches
        std::uint64_t generation = 0;
    };

    wine::WineKey* resolve(KeyId id);
    // As resolve, but makes HKEY_CLASSES_ROOT's key when it is missing.
    wine::WineKey* resolveForWrite(KeyId id);
    KeyId idFor(KeyId parent, std::u16string_view name, wine::WineKey* key);
    KeyId addRecord(KeyId parent, std::u16string_view name, wine::WineKey* key);
    std::u16string indexName(KeyId parent, std::u16string_view name) const;
    bool isFixedKey(KeyId id) const;
    std::uint64_t edits() const;
    template <class Edit>
    LONG write(Edit edit);

    std::unique_ptr<wine::WinePrefix> prefix_;
    std::vector<KeyRecord> keys_;                       // by id; ids 0 is unused
    std::unordered_map<std::u16string, KeyId> byName_;  // parent id and folded name -> id
    std::uint64_t local_ = 0;
    bool snapshot_ = false;
    std::string lastError_;
};

// Opens the Wine prefix at dir. The result names the prefix's folder and, while Wine runs it,
// says that it is read-only and why; a folder that is no prefix, or files Wine would reject,
// fail with a sentence for the user.
StoreOpenResult openWinePrefixStore(const std::string& dir, std::unique_ptr<Backend>& backend);

}  // namespace tovik
