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

// A child process that holds a write lock on `lockFile` (as a running wineserver does) until
// release() or destruction. Free of GoogleTest, for the Qt tests as well.
class FakeWineserver {
public:
    explicit FakeWineserver(const std::string& lockFile);
    bool holding() const { return holding_; }
    ~FakeWineserver() { release(); }
    FakeWineserver(const FakeWineserver&) = delete;
    FakeWineserver& operator=(const FakeWineserver&) = delete;
    void release();

private:
    int pid_ = -1;
    int stop_ = -1;
    bool holding_ = false;
};

// A wineserver "running" the prefix at `prefixDir`: its upstream server folder with a held lock
// file, both removed again at destruction.
class RunningWineserver {
public:
    explicit RunningWineserver(const std::string& prefixDir);
    ~RunningWineserver();
    bool holding() const;

private:
    std::string serverDir_;
    std::unique_ptr<FakeWineserver> server_;
};

// `text` quoted for the shell.
std::string shellQuoted(const std::string& text);
// "env ... " that runs a Wine program in prefix: no display, no debug output, and a UTF-8 locale,
// for Wine reads its command line in the locale's character set (in the C locale "é" would
// reach the registry as two other characters).
std::string wineEnvironment(const std::string& prefix);
// Whether the checks with Wine itself run: TOVIK_TEST_WINE=1 and wine on PATH; else why not.
bool wineWanted(std::string& why);

// A small prefix: system.reg and user.reg as Wine starts them, with no keys.
void makeEmptyPrefix(const fs::path& dir);

// A real prefix made by Wine at dir (wineboot -i, without a display), its wineserver ended again.
// wineboot now and then ends without having written the registry: it is tried once more then.
// False when the files are still missing.
bool makeWinePrefix(const fs::path& dir);

}  // namespace wine_test
