#pragma once
// Test hives made from bytes: a base block ("regf", checksum), one hbin holding a root key and
// the security record that hivex's new keys inherit. hivex grows them with its own writes.
#include <cstdint>
#include <string>
#include <vector>

namespace tovik::hive::testing {

struct EmptyHiveOptions {
    std::uint32_t minorVersion = 3;
    std::uint32_t sequence1 = 1;
    std::uint32_t sequence2 = 1;
};

std::vector<std::uint8_t> emptyHiveBytes(const EmptyHiveOptions& options = {});
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path);

// Offsets in the bytes above (from the file's start), for tests that damage records.
inline constexpr std::size_t kRootKeyOffset = 0x1020;
inline constexpr std::size_t kBaseBlockChecksumOffset = 0x1fc;
// Recomputes the base block's checksum after a test changed it.
void fixChecksum(std::vector<std::uint8_t>& bytes);

// A fresh folder under the test temporary folder, removed with its contents by the destructor.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command, returning its standard output; exit status in *status when given.
std::string runCommand(const std::string& command, int* status = nullptr);

}  // namespace tovik::hive::testing
