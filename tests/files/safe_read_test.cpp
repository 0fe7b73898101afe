// Safe reads: a FIFO, device or folder is refused at once instead of blocking the reader, and
// the identity describes the very file the bytes came from.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "files/durable_writer.h"
#include "files/safe_read.h"
#include "files_test_support.h"

namespace {

using ::testing::HasSubstr;
using namespace files_test;
using tovik::files::FileIdentity;
using tovik::files::FileStatus;
using tovik::files::Problem;

TEST(SafeRead, FifosDevicesAndFoldersAreRefusedWithoutBlocking) {
    Folder folder;
    ASSERT_EQ(::mkfifo(folder.file("user.reg").c_str(), 0600), 0);
    fs::create_symlink(folder.file("user.reg"), folder.file("link"));
    const int code = inChild([&] {
        for (const std::string& path :
             {folder.file("user.reg"), folder.file("link"), std::string("/dev/zero"), folder.path}) {
            std::string bytes;
            const FileStatus refused = tovik::files::readFile(path, bytes);
            if (refused.problem != Problem::notRegularFile) return 1;
            if (refused.message != "Cannot read " + path + ": it is not a regular file." &&
                refused.message != "Cannot read " + path + ": it is a folder, not a regular file.")
                return 2;
            char head[4];
            std::size_t got = 0;
            if (tovik::files::readHead(path, head, sizeof head, got).ok()) return 3;
        }
        return 0;
    });
    EXPECT_EQ(code, 0) << "-1: a read blocked";
}

TEST(SafeRead, ReadsTheWholeFileWithTheIdentityOfThatFile) {
    Folder folder;
    const std::string path = folder.file("system.reg");
    const std::string content = std::string(200000, 'a') + "tail";
    putFile(path, content);
    std::string bytes;
    FileIdentity identity;
    ASSERT_TRUE(tovik::files::readFile(path, bytes, &identity).ok());
    EXPECT_EQ(bytes, content);
    EXPECT_EQ(tovik::files::identityOf(path), identity);
    EXPECT_EQ(identity.size, content.size());

    char head[5] = {};
    std::size_t got = 0;
    ASSERT_TRUE(tovik::files::readHead(path, head, 4, got).ok());
    EXPECT_EQ(got, 4u);
    EXPECT_STREQ(head, "aaaa");

    // Replaced by another program: another identity, even with the same size.
    ASSERT_TRUE(tovik::files::replaceFile(path, std::string(content.size(), 'b')).ok());
    EXPECT_NE(tovik::files::identityOf(path), identity);

    std::string missing;
    const FileStatus gone = tovik::files::readFile(folder.file("nothing"), missing);
    EXPECT_EQ(gone.error, ENOENT);
    EXPECT_THAT(gone.message, HasSubstr("No such file"));
}

TEST(SafeRead, AnOpenFileCanBeReopenedByNameByALibrary) {
    Folder folder;
    const std::string path = folder.file("SOFTWARE");
    putFile(path, "regf....");
    tovik::files::ReadableFile file;
    ASSERT_TRUE(file.open(path).ok());
    // The name keeps leading to the file that was opened, whatever replaces the path meanwhile.
    ASSERT_TRUE(tovik::files::replaceFile(path, "other").ok());
    EXPECT_EQ(contentOf(file.reopenPath()), "regf....");
}

}  // namespace
