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

using test::eightBitFile;
using test::utf16File;

TEST(RegFileDecoding, TheMarkChoosesTheEncoding) {
    const Bytes wide = utf16File(u"REGEDIT4\r\n\"é\"𝄞");
    const RegFileText utf16 = decodeRegFileBytes(wide.data(), wide.size());
    EXPECT_EQ(utf16.encoding, RegFileEncoding::Utf16Le);
    EXPECT_EQ(utf16.text, u"REGEDIT4\r\n\"é\"𝄞");

    Bytes odd = utf16File(u"AB");
    odd.push_back(0x43);  // half a unit
    EXPECT_EQ(decodeRegFileBytes(odd.data(), odd.size()).text, u"AB");

    const Bytes marked = eightBitFile("Windows Registry Editor Version 5.00\r\n\xc3\xa9", true);
    const RegFileText utf8 = decodeRegFileBytes(marked.data(), marked.size());
    EXPECT_EQ(utf8.encoding, RegFileEncoding::Utf8Mark);
    EXPECT_EQ(utf8.text, u"Windows Registry Editor Version 5.00\r\né");

    const Bytes plain = eightBitFile("REGEDIT4\n");
    const RegFileText eight = decodeRegFileBytes(plain.data(), plain.size());
    EXPECT_EQ(eight.encoding, RegFileEncoding::EightBit);
    EXPECT_EQ(eight.text, u"REGEDIT4\n");

    EXPECT_TRUE(decodeRegFileBytes(nullptr, 0).text.empty());
    EXPECT_TRUE(decodeRegFileBytes(plain.data(), 0).text.empty());
}

TEST(RegFileDecoding, EachLineIsUtf8OrElseWindows1252) {
    // Line 2 is valid UTF-8 (é, あ, a four-byte character); line 3 is 1252 (é, €, ™, an
    // unassigned 0x81); line 4 holds an overlong form and an encoded surrogate, so it is 1252 too.
    const Bytes file =
        eightBitFile("REGEDIT4\r\n\xc3\xa9\xe3\x81\x82\xf0\x9d\x84\x9e\r\n\xe9\x80\x99\x81\n\xc0\xaf\xed\xa0\x80\r");
    const RegFileText decoded = decodeRegFileBytes(file.data(), file.size());
    EXPECT_EQ(decoded.text, u"REGEDIT4\r\néあ𝄞\r\né€™\u0081\n\u00c0\u00af\u00ed\u00a0\u20ac\r");
}

TEST(RegFileDecoding, EightBitDataAndUtf8OutputRoundTrip) {
    std::u16string out;
    const Bytes truncated = eightBitFile("\xe3\x81");  // an unfinished sequence: 1252
    appendEightBitText(truncated.data(), truncated.size(), out);
    EXPECT_EQ(out, u"\u00e3\u0081");

    const std::u16string_view text(u"aé€あ𝄞\0z", 8);
    Bytes utf8;
    EXPECT_TRUE(appendUtf8(text, utf8));
    EXPECT_EQ(utf8.size(), 1u + 2 + 3 + 3 + 4 + 1 + 1);
    std::u16string back;
    appendEightBitText(utf8.data(), utf8.size(), back);
    EXPECT_EQ(back, text);

    Bytes lone;
    EXPECT_FALSE(appendUtf8(std::u16string(1, char16_t{0xD800}) + u"a", lone));
    EXPECT_EQ(lone, eightBitFile("\xef\xbf\xbd"
                                 "a"));
}

TEST(RegFileDecoding, TheFirstLineTellsTheFormatFromTheFirstBytes) {
    const Bytes v5 = utf16File(u"Windows Registry Editor Version 5.00\r\n[HKCU\\A]");
    EXPECT_EQ(sniffRegFileFormat(v5.data(), v5.size()), RegFileFormat::Version5);
    EXPECT_EQ(sniffRegFileFormat(v5.data(), 40), RegFileFormat::Unknown);  // the line is cut off
    const Bytes v4 = eightBitFile("REGEDIT4\n");
    EXPECT_EQ(sniffRegFileFormat(v4.data(), v4.size()), RegFileFormat::Regedit4);
    const Bytes utf8 = eightBitFile("Windows Registry Editor Version 5.00\r", true);
    EXPECT_EQ(sniffRegFileFormat(utf8.data(), utf8.size()), RegFileFormat::Version5);
    const Bytes backup = utf16File(u"Tovik レジストリ退避ファイル Ver1.0\r\n\\\\HKEY_CURRENT_USER\r\n");
    EXPECT_EQ(sniffRegFileFormat(backup.data(), backup.size()), RegFileFormat::Unknown);
    EXPECT_EQ(sniffRegFileFormat(nullptr, 0), RegFileFormat::Unknown);
}

TEST(RegFileDecoding, AFileOnDiskReadsAsItsBytesDo) {
    const auto dir = std::filesystem::temp_directory_path() / ("tovik_reg_text_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto write = [&](const char* name, const Bytes& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return (dir / name).string();
    };
    const Bytes wide = utf16File(u"Windows Registry Editor Version 5.00\r\n[HKCU\\あ]\r\n");
    const Bytes narrow = eightBitFile("REGEDIT4\r\n\"\xe9\"=\"\xc3\xa9\"\r\n");
    for (const Bytes* bytes : {&wide, &narrow}) {
        const std::optional<RegFileText> read = readRegFileAt(write("file.reg", *bytes));
        ASSERT_TRUE(read.has_value());
        const RegFileText decoded = decodeRegFileBytes(bytes->data(), bytes->size());
        EXPECT_EQ(read->encoding, decoded.encoding);
        EXPECT_EQ(read->text, decoded.text);
    }
    EXPECT_EQ(readRegFileAt(write("empty.reg", {}))->text, u"");
    EXPECT_EQ(readRegFileAt(write("mark.reg", {0xFF, 0xFE}))->encoding, RegFileEncoding::Utf16Le);

    int error = 0;
    EXPECT_FALSE(readRegFileAt((dir / "missing.reg").string(), &error).has_value());
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(readRegFileAt(dir.string(), &error).has_value());
    EXPECT_NE(error, 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tovik
