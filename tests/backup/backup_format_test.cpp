#include "backup/backup_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "backup_test_util.h"

namespace tovik {
namespace {

using test::encodeUtf16;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

std::vector<std::u16string> split(const Bytes& bytes) {
    return SplitBackupText(bytes.data(), bytes.size());
}
std::string narrow(std::u16string_view s) {
    return std::string(s.begin(), s.end());
}

TEST(BackupWriter, WritesTheExampleFileByteForByte) {
    Bytes sample = stringToBytes(std::u16string(u"Sample application\0", 19));
    const Bytes version = dwordToBytes(260), flags = dwordToBytes(0xFFFFFFFF), data{0x0A, 0xFF, 0x00};
    const Bytes paths = stringToBytes(std::u16string(u"\\Windows\0\\Temp\0\0", 16)), order{0, 0, 1, 0};

    BackupWriter writer;
    writer.writeStart(HKEY_LOCAL_MACHINE);
    writer.writeKeyLine(u"Software\\Sample");
    writer.writeValueLine(u"", REG_SZ, sample.data(), sample.size());
    writer.writeValueLine(u"Version", REG_DWORD, version.data(), version.size());
    writer.writeValueLine(u"Flags", REG_DWORD, flags.data(), flags.size());
    writer.writeValueLine(u"Data", REG_BINARY, data.data(), data.size());
    writer.writeValueLine(u"Paths", REG_MULTI_SZ, paths.data(), paths.size());
    writer.writeKeyLine(u"Software\\Sample\\Options");
    writer.writeValueLine(u"Order", REG_DWORD_BIG_ENDIAN, order.data(), order.size());
    writer.writeValueLine(u"Empty", REG_NONE, nullptr, 0);
    EXPECT_EQ(writer.takeBytes(), test::exampleFileBytes());

    EXPECT_EQ(backupRootLine(HKEY_CLASSES_ROOT), u"\\\\HKEY_CLASSES_ROOT");
    EXPECT_EQ(backupRootLine(HKEY_CURRENT_USER), u"\\\\HKEY_CURRENT_USER");
    EXPECT_TRUE(backupRootLine(0x80000003).empty());
}

TEST(BackupWriter, LinesQuoteAndEscapeNothing) {
    EXPECT_EQ(backupKeyLine(u""), u"[]");
    EXPECT_EQ(backupKeyLine(u"A\\B \"C\"]"), u"[A\\B \"C\"]]");
    const Bytes dw = dwordToBytes(5), sz = stringToBytes(u"x=y: z "), other{0x01};
    EXPECT_EQ(backupValueLine(u"", REG_DWORD, dw.data(), dw.size()), u"\"@\"=DW:5(5)");
    EXPECT_EQ(backupValueLine(u"a\"=b", REG_DWORD, dw.data(), dw.size()), u"\"a\"=b\"=DW:5(5)");
    EXPECT_EQ(backupValueLine(u"n", REG_SZ, sz.data(), sz.size()), u"\"n\"=SZ:x=y: z ");
    EXPECT_EQ(backupValueLine(u"n", 0x42, other.data(), other.size()), u"\"n\"=??:01 ");
}

TEST(BackupWriter, FileModeWritesTheSameBytesAsBufferMode) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    BackupWriter toFile(file), toBuffer;
    const Bytes big(200000, 0x5A);  // one line larger than the flush threshold
    for (BackupWriter* w : {&toFile, &toBuffer}) {
        w->writeStart(HKEY_CLASSES_ROOT);
        for (DWORD i = 0; i < 20000; ++i) {
            const Bytes dw = dwordToBytes(i);
            w->writeKeyLine(u"K");
            w->writeValueLine(u"値", REG_DWORD, dw.data(), dw.size());
        }
        w->writeValueLine(u"big", REG_BINARY, big.data(), big.size());
    }
    ASSERT_TRUE(toFile.flush());
    const Bytes expected = toBuffer.takeBytes();
    std::rewind(file);
    Bytes written(expected.size() + 16);
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    EXPECT_TRUE(written == expected) << written.size() << " bytes, expected " << expected.size();
}

TEST(SplitBackupText, LineEndsOddBytesAndTheExample) {
    const Bytes example = test::exampleFileBytes();
    EXPECT_THAT(SplitBackupText(example.data() + 2, example.size() - 2), ElementsAreArray(test::kExampleLines));
    EXPECT_THAT(split(encodeUtf16(u"A\r\nB")), ElementsAre(u"A"));
    EXPECT_THAT(split(encodeUtf16(u"A\rB\r\n\nC\r\r\n")), ElementsAre(u"A", u"B", u"C", u""));
    EXPECT_THAT(split(encodeUtf16(u"A\nB\nC\n")), IsEmpty());
    EXPECT_THAT(split(encodeUtf16(u"x\ny\r表\U0001F600\rz")), ElementsAre(u"xy", u"表\U0001F600"));
    Bytes odd = encodeUtf16(u"A\r\n");
    odd.push_back(0x0D);  // half a unit
    EXPECT_THAT(split(odd), ElementsAre(u"A"));
}

TEST(SplitBackupText, ZeroUnitSkipsTheRestOfItsBlock) {
    // 512 units per block: a zero at unit 10 drops units 10 to 511, its CR at 11 included.
    std::u16string text = std::u16string(512, u'a') + std::u16string(512, u'b');
    text[10] = u'\0';
    text[11] = u'\r';
    text[600] = u'\r';
    EXPECT_THAT(split(encodeUtf16(text)), ElementsAre(std::u16string(10, u'a') + std::u16string(88, u'b')));
    // A zero as a block's last unit skips nothing of the next one.
    std::u16string edge(520, u'c');
    edge[511] = u'\0';
    edge[519] = u'\r';
    EXPECT_THAT(split(encodeUtf16(edge)), ElementsAre(std::u16string(518, u'c')));
}

TEST(SplitBackupText, PiecesOfAnySizeAndLinesOfAnyLength) {
    std::u16string text;
    for (int i = 0; i < 3000; ++i) {
        text += i % 97 == 0 ? std::u16string(u"line\0", 5) : std::u16string(i % 13, u'x');
        text += i % 5 == 0 ? u"\r" : u"\r\n";
    }
    text += u"\"v\"=SZ:" + std::u16string(3000000, u'y') + u"\r\n";
    Bytes bytes = encodeUtf16(text);
    bytes.push_back(0x41);
    const std::vector<std::u16string> whole = split(bytes);
    ASSERT_GT(whole.size(), 1000u);
    EXPECT_EQ(whole.back().size(), 3000007u);
    for (std::size_t piece : {1u, 3u, 1023u, 1025u, 65536u}) {
        BackupTextSplitter splitter;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            splitter.feed(bytes.data() + at, std::min(piece, bytes.size() - at));
        }
        EXPECT_TRUE(splitter.takeLines() == whole) << "piece " << piece;
    }
}

TEST(BackupReader, HeaderRootAndLineKinds) {
    for (std::u16string_view h : {kBackupHeaderLine, std::u16string_view(u"Tovik"), std::u16string_view(u"TovikXYZ")}) {
        EXPECT_TRUE(isBackupHeaderLine(h)) << narrow(h);
    }
    for (std::u16string_view h : {u"tovik レジストリ退避ファイル Ver1.0", u"Tovi", u" Tovik", u""}) {
        EXPECT_FALSE(isBackupHeaderLine(h));
    }
    EXPECT_EQ(rootFromBackupRootLine(u"\\\\HKEY_CLASSES_ROOT"), HKEY_CLASSES_ROOT);
    EXPECT_EQ(rootFromBackupRootLine(u"\\\\HKEY_CURRENT_USER"), HKEY_CURRENT_USER);
    EXPECT_EQ(rootFromBackupRootLine(u"\\\\HKEY_LOCAL_MACHINE"), HKEY_LOCAL_MACHINE);
    for (std::u16string_view r :
         {u"\\\\HKEY_LOCAL_MACHINE ", u"\\HKEY_LOCAL_MACHINE", u"\\\\hkey_local_machine", u""}) {
        EXPECT_EQ(rootFromBackupRootLine(r), 0u) << narrow(r);
    }
    EXPECT_EQ(classifyBackupLine(u""), BackupLineKind::End);
    EXPECT_EQ(classifyBackupLine(u"[x]"), BackupLineKind::Key);
    EXPECT_EQ(classifyBackupLine(u"\"a\"=SZ:"), BackupLineKind::Value);
    EXPECT_EQ(classifyBackupLine(u" [x]"), BackupLineKind::Broken);
}

TEST(ParseKeyLine, PathsToCreateAndParents) {
    const std::u16string_view cases[][3] = {{u"[Software\\Sample]", u"", u"Software\\Sample"},
                                            {u"[Software\\Sample)", u"", u"Software\\Sample"},
                                            {u"[]", u"", u""},
                                            {u"[", u"", u""},
                                            {u"[A\\B\"C\\D]", u"A\\B", u"C\\D"},
                                            {u"[A\"B\"C]", u"A\"B", u"C"},
                                            {u"[表\\\U0001F600]", u"", u"表\\\U0001F600"}};
    for (const auto& c : cases) {
        const BackupKeyPaths p = ParseKeyLine(c[0]);
        EXPECT_TRUE(p.parentPath == c[1] && p.createPath == c[2]) << narrow(c[0]);
    }
}

TEST(ParseValueLine, NamesTagsAndData) {
    const struct {
        std::u16string_view line;
        bool ignored, tagFound;
        std::u16string_view name;
        DWORD type;
        Bytes data;
    } cases[] = {
        {u"\"@\"=SZ:x", false, true, u"", REG_SZ, stringToBytes(u"x")},
        {u"\"a=b\"=DW:5(5)", false, true, u"a=b", REG_DWORD, dwordToBytes(5)},
        {u"\"a\"=SZ:x=y", false, false, u"a\"=SZ:", 0, {}},
        {u"\"a\"=SZ:", false, true, u"a", REG_SZ, {}},
        {u"\"a\"=", true, false, u"", 0, {}},
        {u"\"a\"", true, false, u"", 0, {}},
        {u"\"a\"=BIN:", false, true, u"a", REG_BINARY, {}},
        {u"\"a\"=BIN:0A FF ", false, true, u"a", REG_BINARY, {0x0A, 0xFF}},
        {u"\"a\"=BIN:0a  ff", false, true, u"a", REG_BINARY, {0x0A, 0x00, 0xFF}},
        {u"\"a\"=MLT:x|y||", false, true, u"a", REG_MULTI_SZ, stringToBytes(std::u16string(u"x\0y\0\0", 5))},
        {u"\"a\"=DW:-2147483648(80000000)", false, true, u"a", REG_DWORD, dwordToBytes(0x80000000)},
        {u"\"a\"=DW:abc", false, true, u"a", REG_DWORD, dwordToBytes(0)},
        {u"\"a\"=sz:x", false, false, u"a", 0, {}},
        {u"\"a\"=SZ", false, false, u"a", 0, {}},                     // no ":": empty tag
        {u"\"=SZ:x", false, true, u"", REG_SZ, stringToBytes(u"x")},  // name part too short
        {u"\"@@\"=SZ:C:\\x", false, true, u"@@", REG_SZ, stringToBytes(u"C:\\x")},
    };
    for (const auto& c : cases) {
        const BackupValue v = ParseValueLine(c.line);
        EXPECT_EQ(v.ignored, c.ignored) << narrow(c.line);
        if (c.ignored) continue;
        EXPECT_EQ(v.name, c.name) << narrow(c.line);
        EXPECT_EQ(v.tagFound, c.tagFound) << narrow(c.line);
        if (c.tagFound) {
            EXPECT_EQ(v.type, c.type) << narrow(c.line);
        }
        EXPECT_EQ(v.data, c.data) << narrow(c.line);
    }
}

TEST(ParseValueLine, OnlyTheNineTagsExactly) {
    for (DWORD t = 0; t <= 8; ++t) {
        DWORD type = 99;
        EXPECT_TRUE(findBackupTag(typeTag(t), &type) && type == t) << t;
    }
    for (std::u16string_view tag : {u"??", u"", u"sz", u"Dw", u" SZ", u"SZ ", u"DWORD", u"D"}) {
        EXPECT_FALSE(findBackupTag(tag, nullptr)) << narrow(tag);
    }
}

TEST(BackupLines, EveryTypeRoundTripsThroughAValueLine) {
    const struct {
        std::u16string name;
        DWORD type;
        Bytes data, readBack;
    } cases[] = {
        {u"", REG_SZ, stringToBytes(std::u16string(u"abc\0", 4)), stringToBytes(u"abc")},
        {u"表示名", REG_EXPAND_SZ, stringToBytes(u"%TEMP%\\\U0001F600"), stringToBytes(u"%TEMP%\\\U0001F600")},
        {u"\U00020BB7野家", REG_MULTI_SZ, stringToBytes(std::u16string(u"甲\0乙\0\0", 5)),
         stringToBytes(std::u16string(u"甲\0乙\0\0", 5))},
        {u"a=b", REG_DWORD, dwordToBytes(0x80000000), dwordToBytes(0x80000000)},
        {u"short", REG_DWORD, Bytes{0x34, 0x12}, dwordToBytes(0x1234)},
        {u"none", REG_NONE, {}, {}},
        {u"bin", REG_BINARY, {0, 0x0A, 0x0D, 0xFF}, {0, 0x0A, 0x0D, 0xFF}},
        {u"lnk", REG_LINK, {0x5C, 0x00}, {0x5C, 0x00}},
        {u"rsc", REG_RESOURCE_LIST, Bytes(10000, 0xC3), Bytes(10000, 0xC3)},
        {u"long", REG_SZ, stringToBytes(std::u16string(100000, u'字')), stringToBytes(std::u16string(100000, u'字'))},
    };
    for (const auto& c : cases) {
        const BackupValue v = ParseValueLine(backupValueLine(c.name, c.type, c.data.data(), c.data.size()));
        EXPECT_TRUE(!v.ignored && v.tagFound && v.name == c.name && v.type == c.type) << narrow(c.name);
        EXPECT_TRUE(v.data == c.readBack) << "type " << c.type << " size " << v.data.size();
    }
}

}  // namespace
}  // namespace tovik
