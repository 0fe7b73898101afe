// The import preview: what a .reg file or a backup file would change, line by line as the import
// takes them, and that the preview writes nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "backup/backup_import.h"
#include "compare/import_preview.h"
#include "regfile/reg_import.h"
#include "registry/name_fold.h"
#include "registry/registry_store.h"
#include "tests/compare/compare_test_util.h"

namespace tovik::test {
namespace {

using ::testing::ElementsAre;

constexpr HKEY kHkcu = HKEY_CURRENT_USER;

class PreviewLines final : public PreviewSink {
public:
    bool onPreview(const PreviewEntry& e) override {
        static const char* const kinds[] = {"key+", "key-", "add", "change", "delete", "same"};
        std::string line = std::string(kinds[static_cast<int>(e.kind)]) + " " + utf16ToUtf8(e.path);
        if (e.kind != PreviewKind::KeyCreated && e.kind != PreviewKind::KeyDeleted) line += ":" + utf16ToUtf8(e.name);
        if (e.kind == PreviewKind::ValueChanged || e.kind == PreviewKind::ValueDeleted)
            line += " was " + std::to_string(e.before.type) + "/" + std::to_string(e.before.size);
        line += " @" + std::to_string(e.line);
        lines.push_back(line);
        return true;
    }
    std::vector<std::string> lines;
};

TEST(ImportPreviewTest, TellsEveryChangeInTheFilesOrderAndWritesNothing) {
    std::unique_ptr<Backend> registry = openSqliteMemoryStore();
    setValueIn(*registry, kHkcu, u"App", u"Same", REG_SZ, stringToBytes(u"s"));
    setValueIn(*registry, kHkcu, u"App", u"Size", REG_DWORD, dwordToBytes(5));
    setValueIn(*registry, kHkcu, u"App", u"Old", REG_BINARY, {1, 2, 3});
    setValueIn(*registry, kHkcu, u"Gone\\Below", u"V", REG_DWORD, dwordToBytes(1));
    setValueIn(*registry, kHkcu, u"Again", u"Kept", REG_DWORD, dwordToBytes(1));
    const ChangeStamp before = registry->changeStamp();

    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_CURRENT_USER\\app]\r\n"  // 3
                                u"\"same\"=\"s\"\r\n"            // 4: as it is (a terminator is no difference)
                                u"\"Size\"=dword:00000006\r\n"   // 5
                                u"\"Old\"=-\r\n"                 // 6
                                u"\"Absent\"=-\r\n"              // 7: nothing to delete
                                u"\"New\"=hex:01\r\n"            // 8
                                u"\"New\"=hex:02\r\n"            // 9: sees line 8
                                u"\r\n[HKEY_CURRENT_USER\\App\\Sub\\Deeper]\r\n"  // 11
                                u"\r\n[-HKEY_CURRENT_USER\\Gone]\r\n"             // 13
                                u"\r\n[-HKEY_CURRENT_USER\\Nothing]\r\n"          // 15: not there
                                u"\r\n[-HKEY_CURRENT_USER\\Again]\r\n"            // 17
                                u"\r\n[HKEY_CURRENT_USER\\Again]\r\n"             // 19: made again, empty
                                u"\"Kept\"=dword:00000001\r\n"  // 20: added, the old one went with the key
                                u"\r\n[HKEY_USERS\\Other]\r\n"  // 22
                                u"\"x\"=dword:00000001\r\n";
    PreviewLines lines;
    const ImportPreviewResult result = previewRegFileImport(text, *registry, lines);
    EXPECT_THAT(lines.lines, ElementsAre("same app:same @4", "change app:Size was 4/4 @5", "delete app:Old was 3/3 @6",
                                         "add app:New @8", "change app:New was 3/1 @9", "key+ App\\Sub\\Deeper @11",
                                         "key- Gone @13", "key- Again @17", "key+ Again @19", "add Again:Kept @20"));
    EXPECT_EQ(result.keysCreated, 2u);
    EXPECT_EQ(result.keysDeleted, 2u);
    EXPECT_EQ(result.valuesAdded, 2u);
    EXPECT_EQ(result.valuesChanged, 2u);
    EXPECT_EQ(result.valuesDeleted, 1u);
    EXPECT_EQ(result.valuesUnchanged, 1u);
    EXPECT_EQ(result.linesSkipped, 2u);
    EXPECT_EQ(registry->changeStamp(), before);
    EXPECT_FALSE(registry->inTransaction());
}

TEST(ImportPreviewTest, AnUnknownHeaderPreviewsNothing) {
    std::unique_ptr<Backend> registry = openSqliteMemoryStore();
    PreviewLines lines;
    EXPECT_FALSE(previewRegFileImport(u"REGEDIT9\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n", *registry, lines).ok());
    EXPECT_TRUE(lines.lines.empty());
}

// A backup file of random lines over a few names in several cases: keys made by path and by an
// existing parent (a double quote) that may be missing, values of every kind written, rewritten
// and left as they are, lines the import skips, and sometimes an end or a broken line early.
BackupText randomBackupFile(std::mt19937& random) {
    static const std::u16string_view keys[] = {u"A", u"a\\B", u"A\\b\\C", u"D", u"d\\e"};
    static const std::u16string_view names[] = {u"v", u"V", u"w", u"", u"Long name"};
    BackupText file;
    file.push_back(kBackupHeaderLine);
    file.push_back(backupRootLine(kHkcu));
    const int count = 1 + static_cast<int>(random() % 30);
    for (int i = 0; i < count; ++i) {
        const std::u16string_view name = names[random() % std::size(names)];
        switch (random() % 12) {
        case 0:
        case 1:
        case 2: file.push_back(u"[" + std::u16string(keys[random() % std::size(keys)]) + u"]"); break;
        case 3:
            file.push_back(u"[" + std::u16string(keys[random() % std::size(keys)]) + u"\"" +
                           std::u16string(keys[random() % std::size(keys)]) + u"]");
            break;
        case 4: file.push_back(u"\"" + std::u16string(name) + u"\"=XX:1"); break;
        case 5: file.push_back(u"\"" + std::u16string(name) + u"\"=SZ"); break;
        case 6:
            if (random() % 4 == 0) file.push_back(random() % 2 ? u"" : u"broken");
            break;
        default: {
            const DWORD types[] = {REG_SZ, REG_DWORD, REG_BINARY};
            const DWORD type = types[random() % std::size(types)];
            const Bytes data = type == REG_SZ      ? stringToBytes(random() % 2 ? u"x" : u"y")
                               : type == REG_DWORD ? dwordToBytes(random() % 2)
                                                   : Bytes{BYTE(random() % 2)};
            file.push_back(backupValueLine(name.empty() ? u"@" : name, type, data.data(), data.size()));
        }
        }
    }
    return file;
}

void fillBefore(Backend& registry, std::mt19937& random) {
    static const std::u16string_view keys[] = {u"A", u"A\\B", u"D"};
    for (std::u16string_view key : keys) {
        if (random() % 3 == 0) continue;
        makeKeyIn(registry, kHkcu, key);
        if (random() % 2) setValueIn(registry, kHkcu, key, u"V", REG_DWORD, dwordToBytes(random() % 2));
        if (random() % 2) setValueIn(registry, kHkcu, key, u"", REG_SZ, stringToBytes(u"x"));
    }
}

struct StoredValue {
    DWORD type = REG_NONE;
    Bytes data;
    ValueData view() const { return ValueData{type, data.data(), data.size()}; }
};
using ValueKey = std::pair<std::u16string, std::u16string>;  // folded key path and value name

class PreviewRecord final : public PreviewSink {
public:
    bool onPreview(const PreviewEntry& e) override {
        const std::u16string key = foldName(e.path);
        if (e.kind == PreviewKind::KeyCreated) created.insert(key);
        if (e.kind == PreviewKind::KeyCreated || e.kind == PreviewKind::KeyDeleted) return true;
        const ValueKey at{key, foldName(e.name)};
        if (!first.count(at))
            first[at] = {e.kind, StoredValue{e.before.type, Bytes(e.before.data, e.before.data + e.before.size)}};
        last[at] = StoredValue{e.after.type, Bytes(e.after.data, e.after.data + e.after.size)};
        return true;
    }
    std::set<std::u16string> created;
    std::map<ValueKey, std::pair<PreviewKind, StoredValue>> first;
    std::map<ValueKey, StoredValue> last;
};

class DifferenceRecord final : public DifferenceSink {
public:
    bool onDifference(const Difference& d) override {
        if (d.kind == DifferenceKind::KeyOnlyInB) added.insert(foldName(d.path));
        if (d.kind == DifferenceKind::KeyOnlyInA || d.kind == DifferenceKind::ValueOnlyInA) ++removed;
        if (!d.isKey() && d.kind != DifferenceKind::ValueOnlyInA)
            values[{foldName(d.path), foldName(d.name)}] = {
                d.kind, StoredValue{d.b.type, Bytes(d.b.data, d.b.data + d.b.size)}};
        return true;
    }
    std::set<std::u16string> added;
    std::size_t removed = 0;
    std::map<ValueKey, std::pair<DifferenceKind, StoredValue>> values;
};

// The preview of a backup file tells what importing it then does: the keys it creates, each
// value's end state and whether it was new, changed or already so, and where the import ends.
TEST(ImportPreviewTest, ABackupFilesPreviewIsWhatItsImportThenDoes) {
    for (unsigned seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const BackupText file = randomBackupFile(random);
        const std::mt19937 state = random;
        std::unique_ptr<Backend> before = openSqliteMemoryStore();
        fillBefore(*before, random);
        {
            std::unique_ptr<Backend> registry = openSqliteMemoryStore();
            random = state;
            fillBefore(*registry, random);
            setCurrentBackend(std::move(registry));
        }
        Backend& registry = *currentBackend();
        const ChangeStamp stamp = registry.changeStamp();
        PreviewRecord preview;
        const ImportPreviewResult result = previewBackupImport(file, registry, preview);
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(registry.changeStamp(), stamp) << "the preview wrote";
        const ImportResult imported = importBackupLines(file);
        EXPECT_EQ(result.backupOutcome, imported.outcome);
        EXPECT_EQ(result.brokenLine, imported.brokenLineNumber);
        EXPECT_EQ(result.keysCreated, preview.created.size());

        DifferenceRecord diff;
        CompareOptions options;
        options.reportSame = true;
        ASSERT_EQ(compareKeyTrees({before.get(), kHkcu, u""}, {&registry, kHkcu, u""}, diff, options).outcome,
                  CompareOutcome::Done);
        EXPECT_EQ(diff.removed, 0u);
        // A key line that makes several keys is one created key: the keys on its way come with it.
        for (const std::u16string& key : preview.created) EXPECT_TRUE(diff.added.count(key)) << utf16ToUtf8(key);
        for (const std::u16string& key : diff.added) {
            const bool onTheWay = std::any_of(preview.created.begin(), preview.created.end(), [&](const auto& made) {
                return made == key || made.starts_with(key + u"\\");
            });
            EXPECT_TRUE(onTheWay) << utf16ToUtf8(key);
        }
        for (const auto& [at, value] : preview.last) {
            const auto found = diff.values.find(at);
            ASSERT_NE(found, diff.values.end()) << utf16ToUtf8(at.first) << ":" << utf16ToUtf8(at.second);
            EXPECT_TRUE(sameValue(found->second.second.view(), value.view()));
            const auto& [kind, old] = preview.first.at(at);
            const DifferenceKind expected = kind == PreviewKind::ValueAdded       ? DifferenceKind::ValueOnlyInB
                                            : sameValue(old.view(), value.view()) ? DifferenceKind::ValueSame
                                                                                  : DifferenceKind::ValueChanged;
            EXPECT_EQ(found->second.first, expected) << utf16ToUtf8(at.first) << ":" << utf16ToUtf8(at.second);
        }
        for (const auto& [at, value] : diff.values) {
            if (value.first != DifferenceKind::ValueSame) EXPECT_TRUE(preview.last.count(at)) << utf16ToUtf8(at.second);
        }
        closeRegistryStore();
    }
}

TEST(ImportPreviewTest, ABackupFileWithoutHeaderOrRootPreviewsNothing) {
    std::unique_ptr<Backend> registry = openSqliteMemoryStore();
    PreviewLines lines;
    BackupText noHeader, noRoot;
    noHeader.push_back(u"REGEDIT4");
    noRoot.push_back(kBackupHeaderLine);
    noRoot.push_back(u"\\\\HKEY_USERS");
    noRoot.push_back(u"[A]");
    EXPECT_EQ(previewBackupImport(noHeader, *registry, lines).backupOutcome, ImportOutcome::FormatError);
    EXPECT_EQ(previewBackupImport(noRoot, *registry, lines).backupOutcome, ImportOutcome::NoRootKey);
    EXPECT_FALSE(previewBackupImport(noRoot, *registry, lines).ok());
    EXPECT_TRUE(lines.lines.empty());
}

}  // namespace
}  // namespace tovik::test
