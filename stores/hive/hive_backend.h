#pragma once
// Hive files as the registry: the Backend of the registry operations over a set of mounted hives
// (hive_mounts.h). Keys above the hives (HKEY_LOCAL_MACHINE over SOFTWARE and SYSTEM) exist only
// to lead to them: they list the hives below them and refuse every write.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "registry/backend.h"
#include "stores/hive/hive_mounts.h"

namespace tovik::hive {

class HiveBackend final : public Backend {
public:
    explicit HiveBackend(HiveMountSet mounts);
    // A batch still open is committed: what it wrote stays, as after single writes.
    ~HiveBackend() override;

    // The sentence that said why the last write failed (a refusal, a read-only hive, a failed
    // save); empty after a write that succeeded.
    std::string lastFailure() const override { return lastFailure_; }
    // Why writes are refused when every hive is read-only (readOnly()); else empty.
    std::string readOnlyReason() const override;

    bool readOnly() const override;
    KeyId rootKey(HKEY root) const override;
    ChangeStamp changeStamp() override;
    bool inTransaction() override { return batchOpen_ || snapshotOpen_; }

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

private:
    // A key above the hives: its root and its path below the root.
    struct Above {
        HiveRoot root;
        std::u16string path;
    };
    struct InHive {
        HiveModel* model = nullptr;
        NodeId node = 0;
    };

    KeyId idOf(const HiveModel* model, NodeId node) const;
    KeyId aboveId(HiveRoot root, const std::u16string& path);
    bool isAbove(KeyId key) const { return key > 0 && key <= static_cast<KeyId>(above_.size()); }
    InHive inHive(KeyId key) const;
    // The key where a mount's hive begins; kNoKey when the key it names is missing.
    KeyId mountTop(const HiveMount& mount);
    bool isMountTop(KeyId key);
    std::vector<SubkeyEntry> aboveChildren(KeyId key);
    // Refusals and failures of a write: remembered as a sentence, returned as a result code.
    LONG refuse(LONG code, std::string_view sentence);
    LONG outcome(const HiveResult& result, const InHive& key, bool keyMustExist);
    LONG prepareWrite(const InHive& key);
    void throwIfFailed(const HiveResult& result);
    void reloadChangedHives();

    HiveMountSet set_;
    std::vector<std::shared_ptr<HiveModel>> models_;            // each hive once, however often mounted
    std::vector<std::optional<FileIdentity>> seen_;             // each hive's file when last looked at
    std::vector<Above> above_;                                  // KeyId 1.. are these
    std::map<std::pair<int, std::u16string>, KeyId> aboveIds_;  // by root and folded path
    KeyId roots_[3] = {kNoKey, kNoKey, kNoKey};
    std::uint64_t local_ = 0;
    std::int64_t external_ = 0;
    bool batchOpen_ = false;
    bool snapshotOpen_ = false;
    std::string lastFailure_;
};

}  // namespace tovik::hive
