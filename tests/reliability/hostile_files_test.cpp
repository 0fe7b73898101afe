// Hostile backup files. Each hostile/NAME.txt is imported by tovik-reg into a store that holds
// only the three roots and must give what hostile/NAME.expected says: the exit status, the
// message, and the whole registry afterwards; the GUI's reading path (ReadBackupFileAt, then the
// line importer) must give the same outcome and registry. Large files are made here: a 100 MB
// line, a million lines, paths 600 levels deep, 100,000-character names, a zero unit at every
// position of a file, megabytes of noise. None may crash, run longer than 10 s, or use more
// memory than kMemoryBound allows.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "backup/backup_import.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"

namespace {

using namespace reliability;

// Peak resident memory of tovik-reg import: a fixed allowance (the program, and the 64 MiB of
// pages the store may keep while a batch writes) and 3 bytes per byte of the file (the file's
// text in one buffer, and one line's data once more while it is written), however many lines it
// has.
constexpr long kMemoryBaseKiB = (64 + 64) * 1024;
constexpr long kMemoryPerFileByte = 3;
constexpr long kMemoryPerLine = 0;
long memoryBoundKiB(std::uint64_t fileBytes, std::uint64_t lines) {
    // The sanitizers keep freed memory in quarantine and add shadow memory: the bound is then a
    // much looser one.
    const bool sanitized = TimeScale() > 1;
    const long base = sanitized ? 1024 * 1024 : kMemoryBaseKiB;
    const long perFile = static_cast<long>(fileBytes / 1024) * kMemoryPerFileByte;
    const long perLine = static_cast<long>(lines / 1024) * kMemoryPerLine;
    return base + (perFile + perLine) * (sanitized ? 3 : 1);
}

// The lines of a backup file as the reader counts them: its CR units.
std::uint64_t linesOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    std::uint64_t lines = 0;
    char odd = 0;
    bool haveOdd = false;
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        const std::size_t got = static_cast<std::size_t>(in.gcount());
        for (std::size_t i = 0; i < got; ++i) {
            if (!haveOdd) {
                odd = buffer[i];
                haveOdd = true;
            } else {
                lines += odd == '\r' && buffer[i] == 0;
                haveOdd = false;
            }
        }
    }
    return lines;
}
constexpr double kTimeLimitSeconds = 10;

struct Expectation {
    int exit = 0;
    std::string outcome;
    std::size_t broken = 0;
    std::size_t unknown = 0;
    std::vector<std::string> stderrTexts;
    std::string dump;
};

Expectation readExpectation(const std::string& path) {
    std::ifstream in(path);
    Expectation e;
    std::string line;
    while (std::getline(in, line) && line != "--") {
        const std::size_t space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (word == "exit")
            e.exit = std::stoi(rest);
        else if (word == "outcome")
            e.outcome = rest;
        else if (word == "broken")
            e.broken = std::stoul(rest);
        else if (word == "unknown")
            e.unknown = std::stoul(rest);
        else if (word == "stderr")
            e.stderrTexts.push_back(rest);
    }
    std::stringstream dump;
    dump << in.rdbuf();
    e.dump = dump.str();
    return e;
}

std::string outcomeName(tovik::ImportOutcome outcome) {
    switch (outcome) {
    case tovik::ImportOutcome::Finished: return "Finished";
    case tovik::ImportOutcome::NotUnicode: return "NotUnicode";
    case tovik::ImportOutcome::FormatError: return "FormatError";
    case tovik::ImportOutcome::NoRootKey: return "NoRootKey";
    case tovik::ImportOutcome::BrokenLine: return "BrokenLine";
    case tovik::ImportOutcome::WriteFailed: return "WriteFailed";
    }
    return "?";
}

// An empty store (the three roots only) at path.
void makeEmptyStore(const std::string& path) {
    const tovik::StoreOpenResult opened = tovik::openRegistryStore(path);
    ASSERT_TRUE(opened.ok) << opened.error;
    tovik::closeRegistryStore();
}

// Runs argv through the helper that measures its peak memory: counted for a child of this
// process, the memory this process had at the fork would be counted as the child's. The helper's
// report is taken off the end of stderr into maxRssKiB.
ChildExit runWithPeakMemory(std::vector<std::string> argv, double timeoutSeconds) {
    argv.insert(argv.begin(), {HELPER_PATH, "peak-memory"});
    ChildExit run = RunChild({std::move(argv), kJapaneseMessages, {}, {}, {}}, timeoutSeconds);
    const std::string mark = "peak-memory-kib: ";
    const std::size_t at = run.err.rfind(mark);
    EXPECT_NE(at, std::string::npos) << "no peak memory reported:\n" << run.err;
    if (at == std::string::npos) return run;
    run.maxRssKiB = std::stol(run.err.substr(at + mark.size()));
    run.err.erase(at);
    return run;
}

// tovik-reg import of file into store, checked against the limits of time and memory.
ChildExit importWithTovikReg(const std::string& store, const std::string& file) {
    const ChildExit run =
        runWithPeakMemory({TOVIK_REG_PATH, "--registry", store, "import", file}, kTimeLimitSeconds * TimeScale() * 3);
    const std::uint64_t size = std::filesystem::file_size(file);
    const std::uint64_t lines = linesOf(file);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut) << file;
    EXPECT_TRUE(run.exited) << file << " ended by signal " << run.signal << "\n" << run.err;
    EXPECT_LT(run.seconds, kTimeLimitSeconds * TimeScale()) << file;
    EXPECT_LT(run.maxRssKiB, memoryBoundKiB(size, lines))
        << file << ": peak memory for a file of " << size << " bytes in " << lines << " lines";
    if (size > 1'000'000) {
        std::cout << "import of " << size << " bytes in " << lines << " lines: " << run.seconds << " s, peak "
                  << run.maxRssKiB / 1024 << " MiB (bound " << memoryBoundKiB(size, lines) / 1024 << " MiB)"
                  << std::endl;
    }
    return run;
}

// The GUI's path: the file read into lines, then the lines imported, in this process.
struct InProcessImport {
    tovik::ImportResult result;
    std::string dump;
};
InProcessImport importInProcess(const std::string& file) {
    tovik::openInMemoryRegistryStore();
    InProcessImport run;
    const std::optional<tovik::BackupFileLines> read = tovik::readBackupFileAt(file);
    EXPECT_TRUE(read.has_value()) << file;
    if (read && read->notUnicode) {
        run.result.outcome = tovik::ImportOutcome::NotUnicode;
    } else if (read) {
        run.result = tovik::importBackupLines(read->lines);
    }
    run.dump = DumpRegistry();
    tovik::closeRegistryStore();
    return run;
}

// ---- The stored files ----

std::vector<std::string> hostileFileNames() {
    std::vector<std::string> names;
    for (const std::string& entry : FolderEntries(HOSTILE_DIR)) {
        if (entry.size() > 4 && entry.ends_with(".txt")) names.push_back(entry.substr(0, entry.size() - 4));
    }
    return names;
}

class StoredHostileFile : public ::testing::TestWithParam<std::string> {};

TEST_P(StoredHostileFile, GivesItsExpectedOutcomeAndRegistry) {
    const std::string file = std::string(HOSTILE_DIR) + "/" + GetParam() + ".txt";
    const Expectation expected = readExpectation(std::string(HOSTILE_DIR) + "/" + GetParam() + ".expected");
    TempDir dir;
    const std::string store = dir.File("registry.db");
    makeEmptyStore(store);

    const ChildExit run = importWithTovikReg(store, file);
    EXPECT_EQ(run.code, expected.exit) << run.err;
    for (const std::string& text : expected.stderrTexts) EXPECT_NE(run.err.find(text), std::string::npos) << run.err;
    if (expected.stderrTexts.empty()) {
        EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(IntegrityCheck(store), "ok");
    const tovik::StoreOpenResult opened = tovik::openRegistryStore(store);
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_EQ(DumpRegistry(), expected.dump) << "after tovik-reg import";
    tovik::closeRegistryStore();

    const InProcessImport gui = importInProcess(file);
    EXPECT_EQ(outcomeName(gui.result.outcome), expected.outcome);
    if (expected.outcome == "BrokenLine") {
        EXPECT_EQ(gui.result.brokenLineNumber, expected.broken);
    }
    EXPECT_EQ(gui.result.valueLinesUnknownTag, expected.unknown);
    EXPECT_EQ(gui.dump, expected.dump) << "after the GUI's import";
}

INSTANTIATE_TEST_SUITE_P(Hostile, StoredHostileFile, ::testing::ValuesIn(hostileFileNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(StoredHostileFiles, AtLeastFiftyFilesEachWithItsExpectation) {
    const std::vector<std::string> names = hostileFileNames();
    EXPECT_GE(names.size(), 50u);
    for (const std::string& name : names) {
        EXPECT_TRUE(std::filesystem::exists(std::string(HOSTILE_DIR) + "/" + name + ".expected")) << name;
    }
}

// ---- Large files, made here ----

const std::u16string kHeader = u"Tovik レジストリ退避ファイル Ver1.0";
const std::u16string kRootLine = u"\\\\HKEY_LOCAL_MACHINE";

// Writes a backup file line by line, without holding it in memory.
class BackupFileWriter {
public:
    explicit BackupFileWriter(const std::string& path) : out_(path, std::ios::binary) {
        out_.write("\xFF\xFE", 2);
        line(kHeader);
        line(kRootLine);
    }
    void units(std::u16string_view text) {
        buffer_.clear();
        for (const char16_t c : text) {
            buffer_.push_back(static_cast<char>(c & 0xFF));
            buffer_.push_back(static_cast<char>(c >> 8));
        }
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    }
    void line(std::u16string_view text) {
        units(text);
        units(u"\r\n");
    }
    void repeat(char16_t c, std::size_t count) {
        const std::u16string chunk(1 << 16, c);
        for (; count >= chunk.size(); count -= chunk.size()) units(chunk);
        units(std::u16string_view(chunk).substr(0, count));
    }
    void close() { out_.close(); }

private:
    std::ofstream out_;
    std::string buffer_;
};

class LargeHostileFile : public ::testing::Test {
protected:
    void SetUp() override { makeEmptyStore(store_); }
    void TearDown() override { tovik::closeRegistryStore(); }
    ChildExit import(const std::string& file) {
        ChildExit run = importWithTovikReg(store_, file);
        EXPECT_EQ(IntegrityCheck(store_), "ok");
        std::filesystem::remove(file);
        const tovik::StoreOpenResult opened = tovik::openRegistryStore(store_);
        EXPECT_TRUE(opened.ok) << opened.error;
        return run;
    }
    TempDir dir_;
    std::string store_ = dir_.File("registry.db");
    std::string file_ = dir_.File("hostile.txt");
};

TEST_F(LargeHostileFile, HundredMegabyteValueLineIsWrittenWhole) {
    constexpr std::size_t kChars = 50'000'000 - 9;  // with the line's other 9 characters, 100 MB
    BackupFileWriter file(file_);
    file.line(u"[Big]");
    file.units(u"\"big\"=SZ:");
    file.repeat(u'x', kChars);
    file.units(u"\r\n");
    file.line(u"\"after\"=DW:1");
    file.close();
    ASSERT_GT(std::filesystem::file_size(file_), 100'000'000u);

    const ChildExit run = import(file_);
    EXPECT_EQ(run.code, 0) << run.err;
    const auto big = ReadValue(HKEY_LOCAL_MACHINE, u"Big", u"big");
    ASSERT_TRUE(big.has_value());
    EXPECT_EQ(big->type, REG_SZ);
    ASSERT_EQ(big->data.size(), 2 * kChars);
    EXPECT_TRUE(std::all_of(big->data.begin(), big->data.end(),
                            [n = 0](BYTE b) mutable { return b == ((n++ & 1) ? 0 : 'x'); }));
    const auto after = ReadValue(HKEY_LOCAL_MACHINE, u"Big", u"after");
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->data, dwordToBytes(1));
}

TEST_F(LargeHostileFile, HundredMegabyteKeyLineIsRefusedAndTheRestImported) {
    BackupFileWriter file(file_);
    file.units(u"[");
    file.repeat(u'k', 50'000'000 - 2);
    file.units(u"]\r\n");
    file.line(u"\"lost\"=DW:1");
    file.line(u"[Small]");
    file.line(u"\"kept\"=DW:2");
    file.close();

    const ChildExit run = import(file_);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(DumpRegistry(), "[HKEY_LOCAL_MACHINE\\Small]\n\"kept\"=DW:2(2)\n");
}

TEST_F(LargeHostileFile, MillionTinyLines) {
    BackupFileWriter file(file_);
    for (int key = 0; key < 1000; ++key) {
        file.line(u"[K" + Ascii(std::to_string(key)) + u"]");
        for (int value = 0; value < 999; ++value) {
            file.line(u"\"" + Ascii(std::to_string(value)) + u"\"=DW:" + Ascii(std::to_string(key * 1000 + value)));
        }
    }
    file.close();

    const ChildExit run = import(file_);
    EXPECT_EQ(run.code, 0) << run.err;
    std::size_t keys = 0, values = 0;
    HKEY root = HKEY_LOCAL_MACHINE;
    std::u16string name(300, u'\0');
    for (DWORD k = 0;; ++k) {
        DWORD length = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(root, k, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        ++keys;
        HKEY key = 0;
        ASSERT_EQ(RegOpenKeyExW(root, name.c_str(), 0, 0, &key), ERROR_SUCCESS);
        for (DWORD v = 0;; ++v) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD type = 0, data = 0, size = sizeof data;
            std::u16string valueName(300, u'\0');
            if (RegEnumValueW(key, v, valueName.data(), &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(&data),
                              &size) != ERROR_SUCCESS)
                break;
            ++values;
        }
        RegCloseKey(key);
    }
    EXPECT_EQ(keys, 1000u);
    EXPECT_EQ(values, 999'000u);
    const auto last = ReadValue(HKEY_LOCAL_MACHINE, u"K999", u"998");
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(last->data, dwordToBytes(999998));
}

// The data ends at the first empty line; the millions after it are read (and shown by the GUI's
// confirmation) but not imported.
TEST_F(LargeHostileFile, FiveMillionEmptyLines) {
    BackupFileWriter file(file_);
    file.line(u"[Before]");
    file.line(u"\"v\"=DW:1");
    for (int chunk = 0; chunk < 100; ++chunk) {
        std::u16string empty;
        for (int i = 0; i < 50'000; ++i) empty += u"\r\n";
        file.units(empty);
    }
    file.line(u"[After]");
    file.close();

    const ChildExit run = import(file_);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(DumpRegistry(), "[HKEY_LOCAL_MACHINE\\Before]\n\"v\"=DW:1(1)\n");
}

// a\a\...\a with the given number of levels.
std::u16string chainPath(int levels) {
    std::u16string path;
    for (int i = 0; i < levels; ++i) path += i == 0 ? u"a" : u"\\a";
    return path;
}

TEST_F(LargeHostileFile, PathsSixHundredLevelsDeep) {
    BackupFileWriter file(file_);
    // One key line of 600 levels: refused whole, its value goes nowhere.
    file.line(u"[" + chainPath(600) + u"]");
    file.line(u"\"lost\"=DW:0");
    // Then one level deeper at each line: the keys down to level 512 are made, none below.
    for (int level = 1; level <= 600; ++level) {
        file.line(u"[" + chainPath(level) + u"]");
        file.line(u"\"level\"=DW:" + Ascii(std::to_string(level)));
    }
    file.close();

    const ChildExit run = import(file_);
    EXPECT_EQ(run.code, 0) << run.err;
    const auto deepest = ReadValue(HKEY_LOCAL_MACHINE, chainPath(kMaxKeyDepth), u"level");
    ASSERT_TRUE(deepest.has_value());
    EXPECT_EQ(deepest->data, dwordToBytes(kMaxKeyDepth));
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, chainPath(kMaxKeyDepth).c_str(), 0, 0, &key), ERROR_SUCCESS);
    DWORD length = 8;
    char16_t name[8];
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, chainPath(kMaxKeyDepth), u"lost").has_value());
}

TEST_F(LargeHostileFile, NamesOfHundredThousandCharacters) {
    const std::u16string longName(100'000, u'n');
    BackupFileWriter file(file_);
    file.line(u"[" + longName + u"]");
    file.line(u"\"under the long key\"=DW:1");
    file.line(u"[Short]");
    file.line(u"\"" + longName + u"\"=SZ:long name");
    file.line(u"\"" + longName + u"\"=DW:2");
    file.line(u"\"ok\"=DW:3");
    file.close();

    const ChildExit run = import(file_);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(DumpRegistry(), "[HKEY_LOCAL_MACHINE\\Short]\n\"ok\"=DW:3(3)\n");
}

TEST_F(LargeHostileFile, MegabytesOfNoiseAfterTheRootLine) {
    std::mt19937 random(8);
    BackupFileWriter file(file_);
    file.line(u"[Noise]");
    file.line(u"\"before\"=DW:1");
    std::u16string noise(4 << 20, u'\0');
    for (char16_t& c : noise) c = static_cast<char16_t>(random());
    noise[0] = u'x';  // the first noise line starts with neither "[" nor a quote
    file.units(noise);
    file.units(u"\r\n");
    file.close();

    const ChildExit run = import(file_);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("インポートファイルが壊れています"), std::string::npos) << run.err;
    EXPECT_EQ(DumpRegistry(), "[HKEY_LOCAL_MACHINE\\Noise]\n\"before\"=DW:1(1)\n");
}

// A zero unit drops the rest of its 1024-byte block: in a file of one block, a zero unit at any
// position gives the same import as the file cut off there.
TEST(ZeroUnitAtEveryPosition, ImportsAsTheFileCutOffThere) {
    std::u16string text = kHeader + u"\r\n" + kRootLine + u"\r\n[Key\\Sub]\r\n\"@\"=SZ:default\r\n" +
                          u"\"n\"=DW:-5(FFFFFFFB)\r\n\"b\"=BIN:0A FF \r\n[Other]\r\n\"m\"=MLT:a|b||\r\n";
    ASSERT_LT(text.size(), 512u);
    TempDir dir;
    const auto importText = [&dir](std::u16string_view units) {
        const std::string path = dir.File("cut.txt");
        Bytes bytes{0xFF, 0xFE};
        for (const char16_t c : units) {
            bytes.push_back(static_cast<BYTE>(c & 0xFF));
            bytes.push_back(static_cast<BYTE>(c >> 8));
        }
        WriteFileBytes(path, bytes);
        const InProcessImport run = importInProcess(path);
        return outcomeName(run.result.outcome) + "\n" + run.dump;
    };
    std::size_t finished = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        std::u16string zeroed = text;
        zeroed[at] = u'\0';
        const std::string withZero = importText(zeroed);
        EXPECT_EQ(withZero, importText(std::u16string_view(text).substr(0, at))) << "zero unit at " << at;
        finished += withZero.starts_with("Finished");
    }
    EXPECT_GT(finished, text.size() / 2);  // most positions lie in the key and value lines
}

// A Wine prefix whose user.reg holds 1,000,000 keys of one line each, the densest in keys a Wine
// file gets: reading it for a query stays within a small multiple of the file's size.
TEST(WinePrefixDenseInKeys, IsReadWithinTwelveTimesTheFileSize) {
    TempDir dir;
    const std::string prefix = dir.File("prefix");
    std::filesystem::create_directory(prefix);
    std::ofstream(prefix + "/system.reg") << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n";
    {
        std::ofstream user(prefix + "/user.reg", std::ios::binary);
        user << "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n";
        char line[32];
        for (int key = 0; key < 1'000'000; ++key)
            user.write(line, std::snprintf(line, sizeof line, "\n[K%07d] 1\n", key));
    }
    const long fileKiB = static_cast<long>(std::filesystem::file_size(prefix + "/user.reg") / 1024);
    const bool sanitized = TimeScale() > 1;
    const long boundKiB = sanitized ? 1024 * 1024 + 3 * 12 * fileKiB : 12 * fileKiB;
    const ChildExit run = runWithPeakMemory({TOVIK_REG_PATH, "--wine-prefix", prefix, "query", "HKCU\\K0999999"},
                                            kTimeLimitSeconds * TimeScale() * 3);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("[K0999999]"), std::string::npos) << run.out;
    EXPECT_LT(run.maxRssKiB, boundKiB) << "peak memory for a user.reg of " << fileKiB << " KiB";
}

// Anything but a regular file is refused before it is read: a FIFO without a writer would block
// the import for ever, a device may never end.
TEST(NotARegularFile, IsRefusedWithoutReading) {
    TempDir dir;
    const std::string store = dir.File("registry.db");
    makeEmptyStore(store);
    const std::string fifo = dir.File("fifo.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.File("folder.txt");
    std::filesystem::create_directory(folder);
    const std::string link = dir.File("link.txt");
    std::filesystem::create_symlink(fifo, link);
    for (const std::string& path : {fifo, folder, link, std::string("/dev/null"), std::string("/dev/zero")}) {
        const ChildExit run = RunChild({{TOVIK_REG_PATH, "--registry", store, "import", path}, {}, {}, {}, {}}, 20);
        EXPECT_FALSE(run.timedOut) << path;
        EXPECT_EQ(run.code, 1) << path;
        EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << path << ": " << run.err;
        if (path != fifo && path != link) {
            int error = 0;
            EXPECT_FALSE(tovik::readBackupFileAt(path, &error).has_value()) << path;
            EXPECT_EQ(error, tovik::kNotRegularFile) << path;
        }
    }
}

}  // namespace
