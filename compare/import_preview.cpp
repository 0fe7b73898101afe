#include "compare/import_preview.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "backup/backup_format.h"
#include "compare/reg_file_tree.h"
#include "regfile/reg_reader.h"
#include "registry/key_path.h"
#include "registry/name_fold.h"

namespace tovik {

namespace {

// When the file would last create and delete a key: entry numbers, 0 for never.
struct KeyEvents {
    std::size_t created = 0;
    std::size_t deleted = 0;
};

// A value as the lines so far would leave it.
struct ValueEvent {
    std::size_t at = 0;
    bool present = false;
    DWORD type = REG_NONE;
    std::string data;
};

class ImportPreviewer {
public:
    ImportPreviewer(Backend& registry, PreviewSink& sink) : registry_(registry), sink_(sink) {}

    ImportPreviewResult runRegFile(std::u16string_view text) {
        RegFileReader reader(text);
        result_.format = reader.format();
        if (!result_.ok()) return result_;
        return runEntries([&reader](RegFileEntry& entry) { return reader.next(entry); });
    }

    // A backup file's lines as the backup import takes them, each turned into the entry of a .reg
    // file that does the same: a key line whose parent does not exist writes nothing, and neither
    // do the value lines after it; the data ends at an empty line or a broken one.
    ImportPreviewResult runBackup(const BackupText& lines) {
        result_.backupFile = true;
        if (lines.empty() || !isBackupHeaderLine(lines[0])) {
            result_.backupOutcome = ImportOutcome::FormatError;
            return result_;
        }
        const HKEY root = lines.size() >= 2 ? rootFromBackupRootLine(lines[1]) : 0;
        if (root == 0) {
            result_.backupOutcome = ImportOutcome::NoRootKey;
            return result_;
        }
        std::size_t next = 2;
        bool haveKey = false;
        std::u16string path;
        BackupValue value;
        return runEntries([&](RegFileEntry& entry) {
            if (next >= lines.size()) return false;
            const std::u16string_view line = lines[next++];
            entry = RegFileEntry{};
            entry.line = next;  // 1-based, the header is line 1
            switch (classifyBackupLine(line)) {
            case BackupLineKind::End: return false;
            case BackupLineKind::Broken:
                result_.backupOutcome = ImportOutcome::BrokenLine;
                result_.brokenLine = entry.line;
                return false;
            case BackupLineKind::Key: {
                BackupKeyPaths paths = ParseKeyLine(line);
                haveKey = paths.parentPath.empty() || wouldExist(root, paths.parentPath);
                if (!haveKey) break;  // Malformed: skipped
                path = std::move(paths.parentPath);
                if (!path.empty() && !paths.createPath.empty()) path += u'\\';
                path += paths.createPath;
                entry.kind = RegFileEntryKind::Key;
                entry.root = root;
                entry.path = path;
                break;
            }
            case BackupLineKind::Value:
                value = ParseValueLine(line);
                if (value.ignored || !value.tagFound) break;  // Malformed: skipped
                entry.kind = RegFileEntryKind::Value;
                entry.target = haveKey ? RegFileValueTarget::CurrentKey : RegFileValueTarget::NoKey;
                entry.name = value.name;
                entry.type = value.type;
                entry.data = value.data.data();
                entry.size = value.data.size();
                break;
            }
            return true;
        });
    }

private:
    // Takes the entries that next gives, in one read snapshot of the registry.
    template <class Next>
    ImportPreviewResult runEntries(Next next) {
        const bool snapshot = !registry_.inTransaction() && registry_.beginSnapshot();
        RegFileEntry entry;
        try {
            while (!result_.stopped && next(entry)) {
                ++at_;
                take(entry);
            }
        } catch (...) {
            if (snapshot && registry_.inTransaction()) registry_.endSnapshot();
            throw;
        }
        if (snapshot && registry_.inTransaction()) registry_.endSnapshot();
        return result_;
    }

    bool wouldExist(HKEY root, std::u16string_view path) {
        KeyId registryKey = kNoKey;
        return exists(root, path, keyOf(root, path), registryKey);
    }

    // The folded path with its root in front: the one spelling of a key in the maps.
    static std::u16string keyOf(HKEY root, std::u16string_view path) {
        std::u16string key(1, static_cast<char16_t>(root & 0xFFFF));
        for (std::u16string_view name : splitKeyPath(path)) {
            key += u'\\';
            key += foldName(name);
        }
        return key;
    }

    // The last deletion of the key or a key above it.
    std::size_t lastDeletion(const std::u16string& key) const {
        std::size_t last = 0;
        for (std::size_t end = key.find(u'\\');; end = key.find(u'\\', end + 1)) {
            const auto it = keys_.find(end == std::u16string::npos ? key : key.substr(0, end));
            if (it != keys_.end()) last = std::max(last, it->second.deleted);
            if (end == std::u16string::npos) break;
        }
        return last;
    }

    // Whether the key would exist before the entry now taken; registryKey is set when the
    // registry's own key (and its values) still stand.
    bool exists(HKEY root, std::u16string_view path, const std::u16string& key, KeyId& registryKey) {
        registryKey = kNoKey;
        const std::size_t deleted = lastDeletion(key);
        if (deleted == 0) registryKey = findBackendKey(registry_, root, path);
        const auto it = keys_.find(key);
        const std::size_t created = it == keys_.end() ? 0 : it->second.created;
        if (created > deleted) return true;
        return registryKey != kNoKey;
    }

    bool report(const PreviewEntry& entry) {
        if (!sink_.onPreview(entry)) result_.stopped = true;
        return !result_.stopped;
    }

    void take(const RegFileEntry& entry) {
        switch (entry.kind) {
        case RegFileEntryKind::Key: takeKey(entry); break;
        case RegFileEntryKind::DeleteKey: takeKeyDeletion(entry); break;
        case RegFileEntryKind::Value:
        case RegFileEntryKind::DeleteValue:
            if (entry.target != RegFileValueTarget::CurrentKey || !haveKey_) {
                ++result_.linesSkipped;
                return;
            }
            takeValue(entry);
            break;
        case RegFileEntryKind::OtherRootKey:
            haveKey_ = false;
            ++result_.linesSkipped;
            break;
        case RegFileEntryKind::Malformed: ++result_.linesSkipped; break;
        }
    }

    void takeKey(const RegFileEntry& entry) {
        currentRoot_ = entry.root;
        currentPath_.assign(entry.path);
        currentKey_ = keyOf(entry.root, entry.path);
        haveKey_ = true;
        valuesListed_ = false;
        const bool there = exists(entry.root, entry.path, currentKey_, registryKey_);
        // Every key on the way exists after this line.
        for (std::size_t end = currentKey_.find(u'\\');; end = currentKey_.find(u'\\', end + 1)) {
            keys_[end == std::u16string::npos ? currentKey_ : currentKey_.substr(0, end)].created = at_;
            if (end == std::u16string::npos) break;
        }
        if (there) return;
        ++result_.keysCreated;
        PreviewEntry created;
        created.kind = PreviewKind::KeyCreated;
        created.line = entry.line;
        created.root = entry.root;
        created.path = currentPath_;
        report(created);
    }

    void takeKeyDeletion(const RegFileEntry& entry) {
        haveKey_ = false;
        const std::u16string key = keyOf(entry.root, entry.path);
        KeyId registryKey = kNoKey;
        const bool there = exists(entry.root, entry.path, key, registryKey);
        keys_[key].deleted = at_;
        if (!there) return;
        ++result_.keysDeleted;
        PreviewEntry deleted;
        deleted.kind = PreviewKind::KeyDeleted;
        deleted.line = entry.line;
        deleted.root = entry.root;
        deleted.path = entry.path;
        report(deleted);
    }

    // The value as it is before this line: from an earlier line, else from the registry.
    bool valueBefore(std::u16string_view name, const std::u16string& valueKey, ValueData& before) {
        const auto it = values_.find(valueKey);
        if (it != values_.end() && it->second.at > lastDeletion(currentKey_)) {
            before = ValueData{it->second.type, reinterpret_cast<const BYTE*>(it->second.data.data()),
                               it->second.data.size()};
            return it->second.present;
        }
        if (registryKey_ == kNoKey) return false;
        if (!valuesListed_) {
            registryValues_.clear();
            registry_.listValues(registryKey_, 0, -1, registryValues_);
            valuesListed_ = true;
        }
        for (ValueEntry& value : registryValues_) {
            if (compareNames(value.name, name) != 0) continue;
            if (!value.dataLoaded) {
                value.data.resize(value.size);
                if (!registry_.readValueData(value.id, reinterpret_cast<BYTE*>(value.data.data()), value.size))
                    throw BackendFailure(BackendFailure::Kind::Other);
                value.dataLoaded = true;
            }
            before = ValueData{value.type, reinterpret_cast<const BYTE*>(value.data.data()), value.data.size()};
            return true;
        }
        return false;
    }

    void takeValue(const RegFileEntry& entry) {
        std::u16string valueKey = currentKey_;
        valueKey += u'\0';
        valueKey += foldName(entry.name);
        ValueData before;
        const bool present = valueBefore(entry.name, valueKey, before);
        PreviewEntry change;
        change.line = entry.line;
        change.root = currentRoot_;
        change.path = currentPath_;
        change.name = entry.name;
        change.before = before;
        ValueEvent event{at_, entry.kind == RegFileEntryKind::Value, entry.type,
                         std::string(reinterpret_cast<const char*>(entry.data),
                                     entry.kind == RegFileEntryKind::Value ? entry.size : 0)};
        if (entry.kind == RegFileEntryKind::DeleteValue) {
            if (present) {
                change.kind = PreviewKind::ValueDeleted;
                ++result_.valuesDeleted;
                report(change);
            }
        } else {
            change.after = ValueData{entry.type, entry.data, entry.size};
            if (!present) {
                change.kind = PreviewKind::ValueAdded;
                ++result_.valuesAdded;
            } else if (sameValue(before, change.after)) {
                change.kind = PreviewKind::ValueUnchanged;
                ++result_.valuesUnchanged;
            } else {
                change.kind = PreviewKind::ValueChanged;
                ++result_.valuesChanged;
            }
            report(change);
        }
        // Stored after the report: before may point into the entry it replaces.
        values_[std::move(valueKey)] = std::move(event);
    }

    Backend& registry_;
    PreviewSink& sink_;
    ImportPreviewResult result_;
    std::size_t at_ = 0;
    std::unordered_map<std::u16string, KeyEvents> keys_;
    std::unordered_map<std::u16string, ValueEvent> values_;
    bool haveKey_ = false;
    HKEY currentRoot_ = 0;
    std::u16string currentPath_;
    std::u16string currentKey_;
    KeyId registryKey_ = kNoKey;
    bool valuesListed_ = false;
    std::vector<ValueEntry> registryValues_;
};

}  // namespace

ImportPreviewResult previewRegFileImport(std::u16string_view text, Backend& registry, PreviewSink& sink) {
    return ImportPreviewer(registry, sink).runRegFile(text);
}

ImportPreviewResult previewBackupImport(const BackupText& lines, Backend& registry, PreviewSink& sink) {
    return ImportPreviewer(registry, sink).runBackup(lines);
}

}  // namespace tovik
