#include "wine_test_support.h"

#include "stores/wine/wineserver_check.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdlib.h>

namespace wine_test {

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string sz(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    bytes.append(2, '\0');
    return bytes;
}

std::string dword(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::unique_ptr<tovik::wine::WineRegistryFile> parseOk(const std::string& text) {
    std::string error;
    auto file = tovik::wine::WineRegistryFile::parse(text, error);
    EXPECT_NE(file, nullptr) << error;
    return file;
}

std::string machineHeader(std::string_view arch) {
    return "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=" + std::string(arch) + "\n";
}

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tovik-wine-XXXXXX";
    char* made = ::mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

FakeWineserver::FakeWineserver(const std::string& lockFile) {
    int ready[2], stop[2];
    if (::pipe(ready) != 0) return;
    if (::pipe(stop) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(stop[1]);
        ::close(ready[0]);
        const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0600);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        char ignored;
        (void)!::read(stop[0], &ignored, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(stop[0]);
    stop_ = stop[1];
    char ok = 0;
    holding_ = ::read(ready[0], &ok, 1) == 1 && ok == '1';
    ::close(ready[0]);
}

void FakeWineserver::release() {
    if (pid_ <= 0) return;
    ::close(stop_);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

RunningWineserver::RunningWineserver(const std::string& prefixDir) {
    const std::string lock = tovik::wine::wineserverLockPaths(prefixDir).front();
    serverDir_ = lock.substr(0, lock.rfind('/'));
    fs::create_directories(serverDir_);
    server_ = std::make_unique<FakeWineserver>(lock);
}

bool RunningWineserver::holding() const {
    return server_->holding();
}

RunningWineserver::~RunningWineserver() {
    server_.reset();
    std::error_code ignored;
    fs::remove_all(serverDir_, ignored);
}

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string wineEnvironment(const std::string& prefix) {
    return "env -u DISPLAY WINEDEBUG=-all LC_ALL=C.UTF-8 WINEPREFIX=" + shellQuoted(prefix) + " ";
}

bool makeWinePrefix(const fs::path& dir) {
    const std::string env = wineEnvironment(dir.string());
    for (int attempt = 0; attempt < 2; ++attempt) {
        // wineserver -k fails when the server has ended already; only the files tell.
        (void)!std::system(
            (env + "wineboot -i >/dev/null 2>&1; " + env + "wineserver -k 2>/dev/null; " + env + "wineserver -w")
                .c_str());
        if (fs::exists(dir / "system.reg") && fs::exists(dir / "user.reg")) return true;
    }
    return false;
}

bool wineWanted(std::string& why) {
    const char* wanted = std::getenv("TOVIK_TEST_WINE");
    if (!wanted || std::string(wanted) != "1") {
        why = "set TOVIK_TEST_WINE=1 to run the checks with Wine";
        return false;
    }
    if (std::system("command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1") != 0) {
        why = "wine is not on PATH";
        return false;
    }
    return true;
}

void makeEmptyPrefix(const fs::path& dir) {
    fs::create_directories(dir);
    writeBytes(dir / "system.reg", machineHeader());
    writeBytes(dir / "user.reg",
               "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
               "#arch=win64\n");
}

}  // namespace wine_test
