#include "regfile/reg_text.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "regfile_test_util.h"

namespace tovik {
namespace {

using test::EightBitFile;
using test::Utf16File;

TEST(RegFileDecoding, TheMarkChoosesTheEncoding) {
    const Bytes wide = Utf16File(u"REGEDIT4\r\n\"é\"𝄞");
    const RegFileText utf16 = DecodeRegFileBytes(wide.data(), wide.size());
    EXPECT_EQ(utf16.encoding, RegFileEncoding::Utf16Le);
    EXPECT_EQ(utf16.text, u"REGEDIT4\r\n\"é\"𝄞");

    Bytes odd = Utf16File(u"AB");
    odd.push_back(0x43);  // half a unit
    EXPECT_EQ(DecodeRegFileBytes(odd.data(), odd.size()).text, u"AB");

    const Bytes marked = EightBitFile("Windows Registry Editor Version 5.00\r\n\xc3\xa9", true);
    const RegFileText utf8 = DecodeRegFileBytes(marked.data(), marked.size());
    EXPECT_EQ(utf8.encoding, RegFileEncoding::Utf8Mark);
    EXPECT_EQ(utf8.text, u"Windows Registry Editor Version 5.00\r\né");

    const Bytes plain = EightBitFile("REGEDIT4\n");
    const RegFileText eight = DecodeRegFileBytes(plain.data(), plain.size());
    EXPECT_EQ(eight.encoding, RegFileEncoding::EightBit);
    EXPECT_EQ(eight.text, u"REGEDIT4\n");

    EXPECT_TRUE(DecodeRegFileBytes(nullptr, 0).text.empty());
    EXPECT_TRUE(DecodeRegFileBytes(plain.data(), 0).text.empty());
}

TEST(RegFileDecoding, EachLineIsUtf8OrElseWindows1252) {
    // Line 2 is valid UTF-8 (é, あ, a four-byte character); line 3 is 1252 (é, €, ™, an
    // unassigned 0x81); line 4 holds an overlong form and an encoded surrogate, so it is 1252 too.
    const Bytes file = EightBitFile("REGEDIT4\r\n\xc3\xa9\xe3\x81\x82\xf0\x9d\x84\x9e\r\n\xe9\x80\x99\x81\n\xc0\xaf\xed\xa0\x80\r");
    const RegFileText decoded = DecodeRegFileBytes(file.data(), file.size());
    EXPECT_EQ(decoded.text, u"REGEDIT4\r\néあ𝄞\r\né€™\u0081\n\u00c0\u00af\u00ed\u00a0\u20ac\r");
}

TEST(RegFileDecoding, EightBitDataAndUtf8OutputRoundTrip) {
    std::u16string out;
    const Bytes truncated = EightBitFile("\xe3\x81");  // an unfinished sequence: 1252
    AppendEightBitText(truncated.data(), truncated.size(), out);
    EXPECT_EQ(out, u"\u00e3\u0081");

    const std::u16string_view text(u"aé€あ𝄞\0z", 8);
    Bytes utf8;
    EXPECT_TRUE(AppendUtf8(text, utf8));
    EXPECT_EQ(utf8.size(), 1u + 2 + 3 + 3 + 4 + 1 + 1);
    std::u16string back;
    AppendEightBitText(utf8.data(), utf8.size(), back);
    EXPECT_EQ(back, text);

    Bytes lone;
    EXPECT_FALSE(AppendUtf8(std::u16string(1, char16_t{0xD800}) + u"a", lone));
    EXPECT_EQ(lone, EightBitFile("\xef\xbf\xbd" "a"));
}

TEST(RegFileDecoding, TheFirstLineTellsTheFormatFromTheFirstBytes) {
    const Bytes v5 = Utf16File(u"Windows Registry Editor Version 5.00\r\n[HKCU\\A]");
    EXPECT_EQ(SniffRegFileFormat(v5.data(), v5.size()), RegFileFormat::Version5);
    EXPECT_EQ(SniffRegFileFormat(v5.data(), 40), RegFileFormat::Unknown);  // the line is cut off
    const Bytes v4 = EightBitFile("REGEDIT4\n");
    EXPECT_EQ(SniffRegFileFormat(v4.data(), v4.size()), RegFileFormat::Regedit4);
    const Bytes utf8 = EightBitFile("Windows Registry Editor Version 5.00\r", true);
    EXPECT_EQ(SniffRegFileFormat(utf8.data(), utf8.size()), RegFileFormat::Version5);
    const Bytes backup = Utf16File(u"Tovik レジストリ退避ファイル Ver1.0\r\n\\\\HKEY_CURRENT_USER\r\n");
    EXPECT_EQ(SniffRegFileFormat(backup.data(), backup.size()), RegFileFormat::Unknown);
    EXPECT_EQ(SniffRegFileFormat(nullptr, 0), RegFileFormat::Unknown);
}

TEST(RegFileDecoding, AFileOnDiskReadsAsItsBytesDo) {
    const auto dir = std::filesystem::temp_directory_path() / ("tovik_reg_text_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto write = [&](const char* name, const Bytes& bytes) {
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
        return (dir / name).string();
    };
    const Bytes wide = Utf16File(u"Windows Registry Editor Version 5.00\r\n[HKCU\\あ]\r\n");
    const Bytes narrow = EightBitFile("REGEDIT4\r\n\"\xe9\"=\"\xc3\xa9\"\r\n");
    for (const Bytes* bytes : {&wide, &narrow}) {
        const std::optional<RegFileText> read = ReadRegFileAt(write("file.reg", *bytes));
        ASSERT_TRUE(read.has_value());
        const RegFileText decoded = DecodeRegFileBytes(bytes->data(), bytes->size());
        EXPECT_EQ(read->encoding, decoded.encoding);
        EXPECT_EQ(read->text, decoded.text);
    }
    EXPECT_EQ(ReadRegFileAt(write("empty.reg", {}))->text, u"");
    EXPECT_EQ(ReadRegFileAt(write("mark.reg", {0xFF, 0xFE}))->encoding, RegFileEncoding::Utf16Le);

    int error = 0;
    EXPECT_FALSE(ReadRegFileAt((dir / "missing.reg").string(), &error).has_value());
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(ReadRegFileAt(dir.string(), &error).has_value());
    EXPECT_NE(error, 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tovik
