#pragma once
// Helpers of the reliability tests: temporary folders, files as bytes, child processes with
// limits and their resource use, a canonical dump of the whole registry, SQLite's integrity check.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/value_types.h"

namespace reliability {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
// The names in a folder, sorted.
std::vector<std::string> FolderEntries(const std::string& path);

// UTF-16LE with the byte order mark, each line ended by CR LF.
Bytes BackupFile(const std::vector<std::u16string>& lines);
std::u16string Ascii(std::string_view text);

struct ChildSpec {
    std::vector<std::string> argv;               // argv[0] is the program's path
    std::vector<std::string> environment;        // NAME=VALUE added to (or replacing in) ours
    std::optional<std::uint64_t> fileSizeLimit;  // RLIMIT_FSIZE; SIGXFSZ is then ignored
    std::optional<uid_t> user;                   // run as this user (and its group); needs root
    std::optional<gid_t> group;
};

struct ChildExit {
    bool started = false;
    bool exited = false;  // false: ended by a signal (or not started)
    int code = -1;
    int signal = 0;
    bool timedOut = false;  // killed by RunChild after its time limit
    double seconds = 0;
    long maxRssKiB = 0;  // peak resident memory, counting what the child had from us at the fork
    std::string out;
    std::string err;
};

// A started child with its output on pipes.
class Child {
public:
    explicit Child(const ChildSpec& spec);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The next line of its standard output (without the LF); false at its end or after timeoutMs.
    bool ReadLine(std::string& line, int timeoutMs);
    // Takes in what its pipes hold now, without waiting, so that a child that writes much does
    // not block on a full pipe; the lines stay for ReadLine.
    void TakeReadyOutput();
    void Kill(int signal);
    // Collects the rest of its output and waits; kills it after timeoutSeconds.
    ChildExit Wait(double timeoutSeconds = 600);

private:
    bool Pump(int timeoutMs);
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuffer_;
    std::string errBuffer_;
    std::size_t outTaken_ = 0;
    double startSeconds_ = 0;
};

ChildExit RunChild(const ChildSpec& spec, double timeoutSeconds = 600);

// Seconds on a monotonic clock.
double Now();

// The user to drop to for permission tests when running as root ("nobody"); nullopt otherwise.
struct Account {
    uid_t uid;
    gid_t gid;
};
std::optional<Account> UnprivilegedAccount();

// program with args, optionally under a file size limit and as another user, with environment
// (NAME=VALUE) added to ours; killed after 120 s.
ChildExit RunProgram(const std::string& program, std::vector<std::string> args,
                     std::optional<std::uint64_t> fileSizeLimit = {}, std::optional<Account> user = {},
                     std::vector<std::string> environment = {});
// The environment of a tovik-reg whose messages are read in Japanese: the window's own sentences.
inline const std::vector<std::string> kJapaneseMessages{"LANGUAGE=ja"};

// Every key of the current store below the three roots, depth first in the registry's order, as
// "[ROOT\path]" lines, each followed by its values as "\"name\"=TAG:text" (FormatValue) lines.
// Roots appear only when they hold values. Characters below U+0020, U+007F and unpaired
// surrogates are written as \x{XXXX}; the rest as UTF-8. Data texts longer than 200 characters
// are cut and end in "...(N chars)".
std::string DumpRegistry();
std::string Utf8(std::u16string_view text);

// Makes a store at path holding HKLM\Software\Kept with "data" = SZ "precious", and closes it;
// false when it could not.
bool MakeStore(const std::string& path);
// MakeStore with HKLM\Software\Kept\Deep below, then damaged as a hand-edited file may be:
// HKEY_LOCAL_MACHINE made a child of Deep, so that the tree below it loops back on itself. SQLite's
// integrity check still finds nothing wrong.
bool MakeLoopedStore(const std::string& path);

// "ok" when SQLite's integrity check finds nothing wrong, else what it found.
std::string IntegrityCheck(const std::string& storePath);

// A registry value read back, or nullopt when the key or value is missing.
struct StoredValue {
    DWORD type = 0;
    Bytes data;
};
std::optional<StoredValue> ReadValue(HKEY root, const std::u16string& path, const std::u16string& name);
// Every value of root\path in the store's order; empty when the key is missing.
std::vector<std::pair<std::u16string, StoredValue>> ReadValues(HKEY root, const std::u16string& path);

// How long a step may take: generous factors under the sanitizers (TOVIK_SANITIZED set).
double TimeScale();

}  // namespace reliability
