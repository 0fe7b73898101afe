#include "wine_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdlib.h>

namespace wine_test {

std::string readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string sz(std::u16string_view text)
{
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    bytes.append(2, '\0');
    return bytes;
}

std::string dword(std::uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::unique_ptr<tovik::wine::WineRegistryFile> parseOk(const std::string& text)
{
    std::string error;
    auto file = tovik::wine::WineRegistryFile::parse(text, error);
    EXPECT_NE(file, nullptr) << error;
    return file;
}

std::string machineHeader(std::string_view arch)
{
    return "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=" +
           std::string(arch) + "\n";
}

ScratchDir::ScratchDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tovik-wine-XXXXXX";
    char* made = ::mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    path_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

}  // namespace wine_test
