#include "hive_builder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tovik::hive::testing {

namespace {

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = v >> 8;
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

constexpr std::uint32_t kNone = 0xFFFFFFFF;

}  // namespace

void fixChecksum(std::vector<std::uint8_t>& bytes) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < kBaseBlockChecksumOffset; at += 4) {
        sum ^= bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
               (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
    }
    put32(bytes, kBaseBlockChecksumOffset, sum);
}

std::vector<std::uint8_t> emptyHiveBytes(const EmptyHiveOptions& options) {
    std::vector<std::uint8_t> b(0x2000, 0);
    // Base block.
    b[0] = 'r', b[1] = 'e', b[2] = 'g', b[3] = 'f';
    put32(b, 0x04, options.sequence1);
    put32(b, 0x08, options.sequence2);
    put32(b, 0x14, 1);  // major version
    put32(b, 0x18, options.minorVersion);
    put32(b, 0x1c, 0);       // primary file
    put32(b, 0x20, 1);       // direct memory load
    put32(b, 0x24, 0x20);    // root key, from the first hbin
    put32(b, 0x28, 0x1000);  // size of the hbins
    put32(b, 0x2c, 1);       // clustering factor
    const std::u16string fileName = u"TEST";
    for (std::size_t i = 0; i < fileName.size(); ++i) put16(b, 0x30 + 2 * i, fileName[i]);

    // One hbin of 4 KiB.
    const std::size_t hbin = 0x1000;
    b[hbin] = 'h', b[hbin + 1] = 'b', b[hbin + 2] = 'i', b[hbin + 3] = 'n';
    put32(b, hbin + 0x04, 0);
    put32(b, hbin + 0x08, 0x1000);

    // Root key record: 0x50 bytes of fields, then its name.
    const std::size_t nk = kRootKeyOffset;
    const std::size_t nkSize = 0x58;
    const std::size_t sk = nk + nkSize;
    put32(b, nk, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nkSize)));
    b[nk + 4] = 'n', b[nk + 5] = 'k';
    put16(b, nk + 0x06, 0x2C);   // hive entry, not deletable, compressed name
    put32(b, nk + 0x14, kNone);  // parent
    put32(b, nk + 0x20, kNone);  // subkey list
    put32(b, nk + 0x24, kNone);  // volatile subkey list
    put32(b, nk + 0x2c, kNone);  // value list
    put32(b, nk + 0x30, static_cast<std::uint32_t>(sk - hbin));
    put32(b, nk + 0x34, kNone);  // class name
    put16(b, nk + 0x4c, 4);
    b[nk + 0x50] = 'R', b[nk + 0x51] = 'O', b[nk + 0x52] = 'O', b[nk + 0x53] = 'T';

    // Security record: a self-relative descriptor with no owner, group or lists.
    const std::size_t skSize = 0x30;
    put32(b, sk, static_cast<std::uint32_t>(-static_cast<std::int32_t>(skSize)));
    b[sk + 4] = 's', b[sk + 5] = 'k';
    put32(b, sk + 0x08, static_cast<std::uint32_t>(sk - hbin));  // next: itself
    put32(b, sk + 0x0c, static_cast<std::uint32_t>(sk - hbin));  // previous: itself
    put32(b, sk + 0x10, 1);
    put32(b, sk + 0x14, 20);
    b[sk + 0x18] = 1;
    put16(b, sk + 0x1a, 0x8004);

    // The rest of the hbin is one free cell.
    const std::size_t free = sk + skSize;
    put32(b, free, static_cast<std::uint32_t>(hbin + 0x1000 - free));
    fixChecksum(b);
    return b;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tovik-hive-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string runCommand(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int rc = ::pclose(pipe);
    if (status != nullptr) *status = WEXITSTATUS(rc);
    return output;
}

}  // namespace tovik::hive::testing
