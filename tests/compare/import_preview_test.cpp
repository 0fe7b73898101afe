// The import preview: what a .reg file would change, line by line as the import takes them, and
// that the preview writes nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "compare/import_preview.h"
#include "regfile/reg_import.h"
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

}  // namespace
}  // namespace tovik::test
