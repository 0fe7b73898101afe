#pragma once
// Helpers of the Wine store tests: bytes of strings and files, a scratch folder, a prefix.
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "stores/wine/wine_registry_file.h"

namespace wine_test {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& path);
void writeBytes(const fs::path& path, std::string_view bytes);
// UTF-16LE bytes of `text` with its terminating zero, as string values hold them.
std::string sz(std::u16string_view text);
std::string dword(std::uint32_t value);
// Parses `text`, failing the test when it is refused.
std::unique_ptr<tovik::wine::WineRegistryFile> parseOk(const std::string& text);
// A header as Wine writes it for system.reg.
std::string machineHeader(std::string_view arch = "win64");

// A fresh folder under the test's temporary folder, removed at destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

}  // namespace wine_test
