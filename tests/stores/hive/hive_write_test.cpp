// Writing through the model, checked with hivexget/hivexsh as an independent reader.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

#include <map>
#include <sstream>

#include "hive_test_support.h"
#include "registry/key_time.h"
#include "stores/hive/hive_key_rename.h"
#include "support/file_size_limit.h"

namespace tovik::hive::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using HiveWriting = HiveFixture;

TEST_F(HiveWriting, WritesAreSavedAtOnceAndReadByHivex) {
    ::chmod(hivePath.c_str(), 0640);
    const std::vector<std::uint8_t> original = readFile(hivePath);
    auto model = openHive(hivePath, true);
    NodeId software = 0, run = 0;
    ASSERT_TRUE(model->createKey(model->root(), u"Software", software).ok());
    ASSERT_TRUE(model->createKey(software, u"Run", run).ok());
    const std::vector<std::uint8_t> dword = bytes({0x2a, 0, 0, 0});
    ASSERT_TRUE(model->setValue(run, u"Count", 4, dword.data(), dword.size()).ok());
    const std::vector<std::uint8_t> text = bytes({'h', 0, 'i', 0, 0, 0});
    ASSERT_TRUE(model->setValue(run, u"Text", 1, text.data(), text.size()).ok());
    EXPECT_EQ(runCommand("hivexget '" + hivePath + "' 'Software\\Run' Count"), "42\n");
    EXPECT_EQ(runCommand("hivexget '" + hivePath + "' 'Software\\Run' Text"), "hi\n");

    // Replacing keeps the value's place and the case of its name; deleting rewrites the list.
    const std::vector<std::uint8_t> seven = bytes({7, 0, 0, 0});
    ASSERT_TRUE(model->setValue(run, u"COUNT", 4, seven.data(), seven.size()).ok());
    EXPECT_THAT(valueNames(*model, run), ElementsAre(u"Count", u"Text"));
    ASSERT_TRUE(model->deleteValue(run, u"text").ok());
    EXPECT_EQ(model->deleteValue(run, u"text").status, HiveStatus::NotFound);
    EXPECT_EQ(hivexSh(hivePath, "cd Software\\Run\nlsval\n"), "\"Count\"=dword:00000007\n");

    NodeId again = 0;
    EXPECT_EQ(model->createKey(software, u"RUN", again).status, HiveStatus::Exists);
    EXPECT_EQ(again, run);
    EXPECT_EQ(model->deleteKey(software).status, HiveStatus::HasSubkeys);
    ASSERT_TRUE(model->deleteKey(run).ok());
    EXPECT_EQ(hivexSh(hivePath, "cd Software\nls\n"), "");

    struct stat st {};
    ASSERT_EQ(::stat(hivePath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(readFile(hivePath + ".tovik-backup"), original);
}

TEST_F(HiveWriting, ReadOnlyByDefaultAndUnwritableThingsAreRefused) {
    const std::vector<std::uint8_t> before = readFile(hivePath);
    auto readOnly = openHive(hivePath, false);
    NodeId key = 0;
    const HiveResult refused = readOnly->createKey(readOnly->root(), u"A", key);
    EXPECT_EQ(refused.status, HiveStatus::ReadOnly);
    EXPECT_THAT(refused.message, HasSubstr("read-only"));
    EXPECT_EQ(readFile(hivePath), before);

    auto model = openHive(hivePath, true);
    EXPECT_EQ(model->createKey(model->root(), u"A", key, u"class").status, HiveStatus::Refused);
    EXPECT_EQ(model->createKey(model->root(), u"\u00c4", key).status, HiveStatus::Refused);
    EXPECT_EQ(model->createKey(model->root(), u"a\\b", key).status, HiveStatus::Refused);
    EXPECT_EQ(model->deleteKey(model->root()).status, HiveStatus::Refused);
    EXPECT_EQ(model->setKeySecurity(model->root(), nullptr, 0).status, HiveStatus::Refused);
    const std::vector<std::uint8_t> large(model->maxValueSize() + 1, 0xab);
    EXPECT_EQ(model->setValue(model->root(), u"big", 3, large.data(), large.size()).status, HiveStatus::Refused);
    EXPECT_EQ(readFile(hivePath), before);
    // The largest accepted value is written and read back whole.
    ASSERT_TRUE(model->setValue(model->root(), u"big", 3, large.data(), large.size() - 1).ok());
    const HiveValue* value = nullptr;
    auto reread = openHive(hivePath, false);
    ASSERT_TRUE(reread->findValue(reread->root(), u"big", value).ok());
    EXPECT_EQ(value->data.size(), large.size() - 1);
}

TEST_F(HiveWriting, AFailedSaveKeepsNothingAndTheNextWriteStartsFromTheFile) {
    auto model = openHive(hivePath, true);
    NodeId kept = 0, lost = 0;
    ASSERT_TRUE(model->createKey(model->root(), u"Kept", kept).ok());
    HiveResult failed;
    {
        // A full disk makes hivex's commit fail.
        test_support::FileSizeLimit full(4096);
        failed = model->createKey(model->root(), u"Lost", lost);
    }
    EXPECT_EQ(failed.status, HiveStatus::Failed);
    EXPECT_THAT(failed.message, HasSubstr("Nothing of the change was kept"));
    EXPECT_THAT(failed.message, HasSubstr(std::strerror(EFBIG)));
    EXPECT_EQ(hivexSh(hivePath, "ls\n"), "Kept\n");
    std::size_t count = 0;
    EXPECT_EQ(model->subkeyCount(lost, count).status, HiveStatus::NotFound);
    EXPECT_THAT(subkeyNames(*model, model->root()), ElementsAre(u"Kept"));
    ASSERT_TRUE(model->createKey(kept, u"Child", lost).ok());
    EXPECT_EQ(hivexSh(hivePath, "cd Kept\nls\n"), "Child\n");
}

TEST_F(HiveWriting, ABatchSavesOnceAtItsEndAndTwoWritersKeepEachOthersChanges) {
    auto first = openHive(hivePath, true);
    auto second = openHive(hivePath, true);
    NodeId key = 0;
    ASSERT_TRUE(first->beginBatch().ok());
    ASSERT_TRUE(first->createKey(first->root(), u"One", key).ok());
    ASSERT_TRUE(first->createKey(first->root(), u"Two", key).ok());
    EXPECT_EQ(hivexSh(hivePath, "ls\n"), "");
    ASSERT_TRUE(first->commitBatch().ok());
    EXPECT_EQ(hivexSh(hivePath, "ls\n"), "One\nTwo\n");
    // The second model read the file before the batch: it rereads before writing.
    ASSERT_TRUE(second->createKey(second->root(), u"Three", key).ok());
    EXPECT_EQ(hivexSh(hivePath, "ls\n"), "One\nThree\nTwo\n");
}

// Three tovik-reg loops on one hive, each setting its own value below keys that all three create
// at about the same moment: every set is kept, and a key another process made meanwhile is opened.
TEST_F(HiveWriting, ConcurrentWritersLoseNoValueAndMakeOneKeyTogether) {
    const std::string script =
        "for p in 0 1 2; do\n"
        "  (for i in $(seq 1 40); do '" +
        std::string(TOVIK_REG_PATH) + "' --hive '" + hivePath +
        "' --as 'HKLM\\H' --write set \"HKLM\\\\H\\\\K$i\" \"v$p\" DW $i 2>&1 || echo \"failed $p $i\"; done) &\n"
        "done\nwait\n";
    writeFile(folder.file("writers.sh"), std::vector<std::uint8_t>(script.begin(), script.end()));
    EXPECT_EQ(runCommand("sh '" + folder.file("writers.sh") + "'"), "");
    auto model = openHive(hivePath, false);
    ASSERT_EQ(subkeyNames(*model, model->root()).size(), 40u);
    for (int i = 1; i <= 40; ++i) {
        std::u16string key = u"K";
        for (char digit : std::to_string(i)) key.push_back(static_cast<char16_t>(digit));
        EXPECT_THAT(valueNames(*model, keyAt(*model, key)), ::testing::UnorderedElementsAre(u"v0", u"v1", u"v2"))
            << "K" << i;
    }
}

// Fixtures (fixtures/make_big_data_hives.py) of format 1.3 and 1.5 whose key Big holds a value of
// 20,000 bytes, split into a big-data record in 1.5. hivex would write it back as one plain cell
// with any other value of the key, so in 1.5 every such write is refused and leaves the file as it
// was; other writes go on, and other readers accept the hive afterwards.
TEST(HiveBigData, WritesThatWouldRewriteASplitValueAreRefusedAndTheHiveStaysReadable) {
    const bool haveRegfinfo = runCommand("command -v regfinfo") != "";
    for (const std::string name : {"big_data_1_3.hive", "big_data_1_5.hive"}) {
        SCOPED_TRACE(name);
        const bool split = name == "big_data_1_5.hive";
        TempFolder folder;
        const std::string path = folder.file("SOFTWARE");
        writeFile(path, readFile(std::string(TOVIK_HIVE_FIXTURES) + "/" + name));
        auto model = openHive(path, true);
        const NodeId big = keyAt(*model, u"Big");
        const std::uint8_t one[4] = {1, 0, 0, 0};
        const std::vector<std::function<HiveResult()>> touchingBig = {
            [&] { return model->setValue(big, u"Small", 4, one, sizeof one); },
            [&] { return model->setValue(big, u"New", 4, one, sizeof one); },
            [&] { return model->renameValue(big, u"Large", u"Huge"); },
            [&] { return model->renameValue(big, u"Small", u"Tiny"); },
            [&] { return model->deleteValue(big, split ? u"Small" : u"New"); },
        };
        for (const auto& write : touchingBig) {
            const auto before = readFile(path);
            const HiveResult result = write();
            if (split) {
                EXPECT_EQ(result.status, HiveStatus::Refused);
                EXPECT_THAT(result.message, HasSubstr("split form"));
                EXPECT_EQ(readFile(path), before);
            } else {
                EXPECT_TRUE(result.ok()) << result.message;
            }
        }
        NodeId child = 0;
        EXPECT_TRUE(model->setValue(keyAt(*model, u"Plain"), u"Other", 4, one, sizeof one).ok());
        EXPECT_TRUE(model->createKey(big, u"Child", child).ok());
        auto reread = openHive(path, false);
        const HiveValue* large = nullptr;
        ASSERT_TRUE(reread->findValue(keyAt(*reread, u"Big"), split ? u"Large" : u"Huge", large).ok());
        EXPECT_EQ(large->data.size(), 20000u);
        if (haveRegfinfo) EXPECT_EQ(runCommand("regfinfo '" + path + "' >/dev/null 2>&1; echo $?"), "0\n");
    }
}

// hivex cannot write class names, and a rename copies the key with everything below it: a key
// whose subtree holds one (the fixtures' Plain) is not renamed, and the file stays as it was.
TEST(HiveClassNames, ARenameThatWouldLoseAClassNameIsRefused) {
    TempFolder folder;
    const std::string path = folder.file("SYSTEM");
    writeFile(path, readFile(std::string(TOVIK_HIVE_FIXTURES) + "/big_data_1_3.hive"));
    auto model = openHive(path, true);
    NodeId below = 0;
    ASSERT_TRUE(model->createKey(keyAt(*model, u"Plain"), u"Below", below).ok());
    const auto before = readFile(path);
    const HiveResult renamed = renameKey(*model, keyAt(*model, u"Plain"), u"Lsa2");
    EXPECT_EQ(renamed.status, HiveStatus::Refused);
    EXPECT_THAT(renamed.message, HasSubstr("class name"));
    EXPECT_EQ(readFile(path), before);
    // A key without a class name below it is renamed as ever.
    EXPECT_TRUE(renameKey(*model, below, u"Moved").ok());
    EXPECT_TRUE(renameKey(*model, keyAt(*model, u"Big"), u"Large").ok());
    EXPECT_EQ(hivexSh(path, "ls\n"), "Large\nPlain\n");
}

// damaged.hive reads well, but hivex would abort inside a write that releases its damaged records
// (a data block two values name; a class name pointing into a record). Every write that would
// touch them fails with a sentence, and the file stays as it was to the byte, also when earlier
// writes of the same command were sound; writes elsewhere in the hive go on.
TEST(HiveDamaged, WritesThatWouldAbortHivexFailCleanlyAndChangeNothing) {
    TempFolder folder;
    const std::string path = folder.file("SOFTWARE");
    writeFile(path, readFile(std::string(TOVIK_HIVE_FIXTURES) + "/damaged.hive"));
    const std::string reg = std::string(TOVIK_REG_PATH) + " --hive '" + path + "' --as 'HKLM\\H' --write ";
    const std::string import = folder.file("import.reg");
    const std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\H\\Good]\n\"Added\"=dword:00000001\n\n"
                             "[-HKEY_LOCAL_MACHINE\\H\\Tree]\n";
    writeFile(import, std::vector<std::uint8_t>(text.begin(), text.end()));
    const auto before = readFile(path);
    for (const std::string& command : std::vector<std::string>{
             "set 'HKLM\\H\\Shared' Third DW 3", "set 'HKLM\\H\\Shared' First DW 3",
             "delete-value 'HKLM\\H\\Shared' Second", "delete-key 'HKLM\\H\\Shared'", "delete-key 'HKLM\\H\\Tree\\Z'",
             "delete-key 'HKLM\\H\\Tree'", "import '" + import + "'"}) {
        int status = -1;
        const std::string said = runCommand(reg + command + " 2>&1", &status);
        EXPECT_EQ(status, 1) << command << ": " << said;
        EXPECT_THAT(said, HasSubstr("is damaged at")) << command;
        EXPECT_EQ(readFile(path), before) << command;
    }
    int status = -1;
    runCommand(reg + "set 'HKLM\\H\\Good' New DW 5 2>&1", &status);
    EXPECT_EQ(status, 0);
    runCommand(reg + "delete-key 'HKLM\\H\\Tree\\A' 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(hivexSh(path, "cd Good\nlsval\ncd ..\ncd Tree\nls\n"),
              "\"Keep\"=dword:00000001\n\"New\"=dword:00000005\nB\nZ\n");
}

// A hive cut short: its header gives the pages a page more than the file holds. It reads as far
// as it goes, but hivex would add new pages after the missing one and save a hive that no reader
// opens again, so every write is refused and the file keeps its bytes.
TEST_F(HiveWriting, AHiveCutShortReadsButRefusesEveryWrite) {
    hivexSh(hivePath, "add A\ncd A\nsetval 1\nV\ndword:0x1\ncommit\n", true);
    std::vector<std::uint8_t> bytes = readFile(hivePath);
    const std::uint32_t pages = bytes[0x28] | (bytes[0x29] << 8) | (bytes[0x2a] << 16) | (bytes[0x2b] << 24);
    for (int i = 0; i < 4; ++i) bytes[0x28 + i] = ((pages + 0x1000) >> (8 * i)) & 0xFF;
    fixChecksum(bytes);
    writeFile(hivePath, bytes);
    const std::string reg = std::string(TOVIK_REG_PATH) + " --hive '" + hivePath + "' --as 'HKLM\\H' ";
    int status = -1;
    EXPECT_THAT(runCommand(reg + "query 'HKLM\\H\\A' 2>&1", &status), HasSubstr("V"));
    EXPECT_EQ(status, 0);
    for (const std::string& command : {"set 'HKLM\\H\\A' New DW 5", "set 'HKLM\\H\\A' V DW 2", "add-key 'HKLM\\H\\B'",
                                       "delete-value 'HKLM\\H\\A' V", "delete-key 'HKLM\\H\\A'"}) {
        const std::string said = runCommand(reg + "--write " + command + " 2>&1", &status);
        EXPECT_EQ(status, 1) << command << ": " << said;
        EXPECT_THAT(said, HasSubstr("is damaged at 0x28")) << command;
        EXPECT_EQ(readFile(hivePath), bytes) << command;
    }
}

TEST(HiveUnfinishedWrites, AHiveWindowsLeftUnfinishedOpensReadOnlyAndSaysWhy) {
    TempFolder folder;
    const std::string hive = folder.file("SYSTEM");
    writeFile(hive, emptyHiveBytes({.sequence1 = 5, .sequence2 = 4}));
    auto model = openHive(hive, true);
    EXPECT_TRUE(model->readOnly());
    EXPECT_THAT(model->readOnlyReason(), HasSubstr("Windows did not shut down cleanly"));

    writeFile(hive, emptyHiveBytes());
    writeFile(folder.file("system.LOG1"), bytes({1, 2, 3}));
    ::utimensat(AT_FDCWD, hive.c_str(), nullptr, 0);
    const struct timespec older[2] = {{1000, 0}, {1000, 0}};
    ::utimensat(AT_FDCWD, folder.file("system.LOG1").c_str(), older, 0);
    EXPECT_FALSE(openHive(hive, true)->readOnly());
    ::utimensat(AT_FDCWD, folder.file("system.LOG1").c_str(), nullptr, 0);
    const struct timespec oldHive[2] = {{1000, 0}, {1000, 0}};
    ::utimensat(AT_FDCWD, hive.c_str(), oldHive, 0);
    model = openHive(hive, true);
    EXPECT_TRUE(model->readOnly());
    EXPECT_THAT(model->readOnlyReason(), HasSubstr("system.LOG1"));
}

// A hive named through a link is saved into the file the link names; the link stays a link, and
// a tool that reads the real file sees the change.
TEST_F(HiveWriting, AHiveNamedThroughALinkIsWrittenInTheFileItNames) {
    std::filesystem::create_directory(folder.file("config"));
    const std::string real = folder.file("config/SOFTWARE");
    std::filesystem::rename(hivePath, real);
    std::filesystem::create_symlink("config/SOFTWARE", hivePath);
    auto model = openHive(hivePath, true);
    NodeId key = 0;
    ASSERT_TRUE(model->createKey(model->root(), u"Through", key).ok());
    EXPECT_TRUE(std::filesystem::is_symlink(hivePath));
    EXPECT_EQ(hivexSh(real, "ls\n"), "Through\n");
}

// Links planted where earlier versions put their temporaries make no other file receive the hive.
TEST_F(HiveWriting, LinksPlantedBesideTheHiveRedirectNothing) {
    const std::string victim = folder.file("victim");
    writeFile(victim, bytes({'m', 'i', 'n', 'e'}));
    std::filesystem::create_symlink(victim, folder.file(".SOFTWARE.tovik-new"));
    std::filesystem::create_symlink(victim, folder.file("SOFTWARE.tovik-backup.partial"));
    auto model = openHive(hivePath, true);
    NodeId key = 0;
    ASSERT_TRUE(model->createKey(model->root(), u"Saved", key).ok());
    EXPECT_EQ(readFile(victim), bytes({'m', 'i', 'n', 'e'}));
    EXPECT_EQ(hivexSh(hivePath, "ls\n"), "Saved\n");
    EXPECT_EQ(hivexSh(hivePath + ".tovik-backup", "ls\n"), "");
}

// reglookup's time of every key of the hive, by its path ("/Software/Run"), as "YYYY-MM-DD HH:MM:SS" UTC.
std::map<std::string, std::string> reglookupTimes(const std::string& hive) {
    std::map<std::string, std::string> times;
    std::istringstream lines(runCommand("reglookup -t KEY '" + hive + "'"));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t type = line.find(",KEY,,");
        if (type != std::string::npos) times[line.substr(0, type)] = line.substr(type + 6);
    }
    return times;
}

// The model's time of a key in reglookup's form.
std::string modelTime(HiveModel& model, NodeId key) {
    std::int64_t time = 0;
    EXPECT_TRUE(model.writeTime(key, time).ok());
    if (time == 0) return "1970-01-01 00:00:00";  // reglookup's form of a key that holds no time
    std::string text = formatFileTimeUtc(time);   // "2024-05-01T12:34:56Z"
    if (text.size() == 20) text = text.substr(0, 10) + " " + text.substr(11, 8);
    return text;
}

// The times the model keeps are the ones written into the file, as an independent reader finds
// them; keys that no write touched keep the time they had.
TEST_F(HiveWriting, KeyTimesAreWrittenIntoTheHiveAsReglookupReadsThem) {
    ASSERT_EQ(hivexSh(hivePath, "add Old\ncommit\n", true), "");
    const std::string old = reglookupTimes(hivePath).at("/Old");
    auto model = openHive(hivePath, true);
    const auto expectSame = [&](const char* step) {
        const std::map<std::string, std::string> read = reglookupTimes(hivePath);
        EXPECT_EQ(read.at("/Old"), old) << step;
        EXPECT_EQ(read.at("/Old"), modelTime(*model, keyAt(*model, u"Old"))) << step;
        for (const char* path : {"Software", "Software\\Run"}) {
            std::string slashed = std::string("/") + path;
            std::replace(slashed.begin(), slashed.end(), '\\', '/');
            const std::u16string wide(path, path + std::strlen(path));
            if (read.count(slashed) != 0)
                EXPECT_EQ(read.at(slashed), modelTime(*model, keyAt(*model, wide))) << step << " " << path;
        }
        EXPECT_EQ(read.at("/"), modelTime(*model, model->root())) << step;
    };
    NodeId software = 0, run = 0;
    const std::int64_t before = fileTimeNow();
    ASSERT_TRUE(model->createKey(model->root(), u"Software", software).ok());
    ASSERT_TRUE(model->createKey(software, u"Run", run).ok());
    std::int64_t made = 0;
    ASSERT_TRUE(model->writeTime(run, made).ok());
    EXPECT_GE(made, before);
    expectSame("create");
    const std::vector<std::uint8_t> dword = bytes({0x2a, 0, 0, 0});
    ASSERT_TRUE(model->setValue(run, u"Count", 4, dword.data(), dword.size()).ok());
    expectSame("set");
    ASSERT_TRUE(renameKey(*model, run, u"Run2").ok());
    ASSERT_TRUE(renameKey(*model, keyAt(*model, u"Software\\Run2"), u"Run").ok());
    expectSame("rename");

    // Reopened, the model reads the times from the file.
    std::int64_t kept = 0;
    ASSERT_TRUE(model->writeTime(keyAt(*model, u"Software\\Run"), kept).ok());
    model = openHive(hivePath, true);
    std::int64_t reread = 0;
    ASSERT_TRUE(model->writeTime(keyAt(*model, u"Software\\Run"), reread).ok());
    EXPECT_EQ(reread, kept);
}

// The hive store's reasons come in the user's language: a write refused by a damaged hive, a
// write to hives opened read-only and a file that is no hive, to a user whose locale is Japanese.
TEST(HiveLanguage, AHiveFailureReachesAJapaneseUserInJapanese) {
    TempFolder folder;
    const std::string path = folder.file("SOFTWARE");
    writeFile(path, readFile(std::string(TOVIK_HIVE_FIXTURES) + "/damaged.hive"));
    const std::string garbage = folder.file("GARBAGE");
    writeFile(garbage, std::vector<std::uint8_t>(8192, 'x'));
    const std::string japanese = "env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=ja_JP.UTF-8 " +
                                 std::string(TOVIK_REG_PATH) + " --as 'HKLM\\H' --hive ";
    struct Case {
        std::string command;
        std::string said;
    };
    const Case cases[] = {
        {"'" + path + "' --write set 'HKLM\\H\\Shared' Third DW 3", "は壊れています（0x"},
        {"'" + path + "' set 'HKLM\\H\\Good' New DW 5", "ハイブは読み取り専用で開いています"},
        {"'" + garbage + "' query 'HKLM\\H'", "はWindowsのレジストリハイブではないか、壊れています"},
    };
    for (const Case& c : cases) {
        int status = -1;
        const std::string said = runCommand(japanese + c.command + " 2>&1", &status);
        EXPECT_EQ(status, 1) << c.command << ": " << said;
        EXPECT_THAT(said, HasSubstr(c.said)) << c.command;
        for (const char* english : {" the ", " hive ", " is ", "nothing", "cannot"})
            EXPECT_THAT(said, Not(HasSubstr(english))) << c.command << ": " << said;
    }
}

}  // namespace
}  // namespace tovik::hive::testing
