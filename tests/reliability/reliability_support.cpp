#include "reliability/reliability_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "registry/registry_api.h"
#include "stores/open_store.h"

extern char** environ;

namespace reliability {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tovik-reliability-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Permission tests may leave read-only folders behind.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec)) ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ec);
}

Bytes ReadFileBytes(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    BYTE buffer[1 << 16];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        bytes.insert(bytes.end(), buffer, buffer + got);
        if (got < sizeof buffer) break;
    }
    std::fclose(file);
    return bytes;
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot create " + path);
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path, ec)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes BackupFile(const std::vector<std::u16string>& lines) {
    std::size_t units = 0;
    for (const auto& line : lines) units += line.size() + 2;
    Bytes bytes;
    bytes.reserve(2 + 2 * units);
    bytes.push_back(0xFF);
    bytes.push_back(0xFE);
    const auto put = [&bytes](char16_t c) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    };
    for (const auto& line : lines) {
        for (const char16_t c : line) put(c);
        put(u'\r');
        put(u'\n');
    }
    return bytes;
}

std::u16string Ascii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// ---- Child processes ----

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) {
            return x.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

Child::Child(const ChildSpec& spec) {
    std::vector<std::string> argv = spec.argv;
    std::vector<std::string> env = mergedEnvironment(spec.environment);
    std::vector<char*> argvPointers = pointers(argv);
    std::vector<char*> envPointers = pointers(env);
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return;
    }
    startSeconds_ = Now();
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls from here to exec.
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0) ::dup2(devNull, 0);
        ::setpgid(0, 0);
        if (spec.fileSizeLimit) {
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit {};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = *spec.fileSizeLimit;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (spec.group && ::setgid(*spec.group) != 0) ::_exit(126);
        if (spec.user) {
            if (::setgroups(0, nullptr) != 0 && errno != EPERM) ::_exit(126);
            if (::setuid(*spec.user) != 0) ::_exit(126);
        }
        ::execve(argvPointers[0], argvPointers.data(), envPointers.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (pid_ < 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return;
    }
    out_ = outPipe[0];
    err_ = errPipe[0];
}

Child::~Child() {
    if (pid_ > 0) {
        Kill(SIGKILL);
        Wait(5);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
}

// Reads what is ready from both pipes; false when both have ended.
bool Child::Pump(int timeoutMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    const int n = ::poll(fds, 2, timeoutMs);
    if (n < 0 && errno != EINTR) return false;
    char buffer[65536];
    for (int i = 0; i < 2; ++i) {
        int& fd = i == 0 ? out_ : err_;
        if (fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            (i == 0 ? outBuffer_ : errBuffer_).append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            ::close(fd);
            fd = -1;
        }
    }
    return out_ >= 0 || err_ >= 0;
}

bool Child::ReadLine(std::string& line, int timeoutMs) {
    const double deadline = Now() + timeoutMs / 1000.0;
    for (;;) {
        const std::size_t end = outBuffer_.find('\n', outTaken_);
        if (end != std::string::npos) {
            line = outBuffer_.substr(outTaken_, end - outTaken_);
            outTaken_ = end + 1;
            return true;
        }
        const double left = deadline - Now();
        if (left <= 0 || out_ < 0) return false;
        Pump(static_cast<int>(left * 1000) + 1);
    }
}

void Child::TakeReadyOutput() {
    Pump(0);
}

void Child::Kill(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

ChildExit Child::Wait(double timeoutSeconds) {
    ChildExit result;
    if (pid_ <= 0) return result;
    result.started = true;
    const double deadline = Now() + timeoutSeconds;
    while (out_ >= 0 || err_ >= 0) {
        const double left = deadline - Now();
        if (left <= 0) {
            ::kill(pid_, SIGKILL);
            result.timedOut = true;
            break;
        }
        Pump(static_cast<int>(std::min(left, 1.0) * 1000) + 1);
    }
    int status = 0;
    struct rusage usage {};
    // The output may have ended before the process (or a grandchild holds the pipe): wait anyway.
    for (;;) {
        const pid_t done = ::wait4(pid_, &status, WNOHANG, &usage);
        if (done == pid_) break;
        if (done < 0 && errno != EINTR) break;
        if (Now() > deadline && !result.timedOut) {
            ::kill(pid_, SIGKILL);
            result.timedOut = true;
        }
        ::usleep(2000);
    }
    result.seconds = Now() - startSeconds_;
    result.exited = WIFEXITED(status);
    result.code = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.maxRssKiB = usage.ru_maxrss;
    result.out = outBuffer_.substr(outTaken_);
    result.err = errBuffer_;
    pid_ = -1;
    return result;
}

ChildExit RunChild(const ChildSpec& spec, double timeoutSeconds) {
    Child child(spec);
    return child.Wait(timeoutSeconds);
}

ChildExit RunProgram(const std::string& program, std::vector<std::string> args,
                     std::optional<std::uint64_t> fileSizeLimit, std::optional<Account> user,
                     std::vector<std::string> environment) {
    args.insert(args.begin(), program);
    ChildSpec spec{std::move(args), std::move(environment), fileSizeLimit, {}, {}};
    if (user) {
        spec.user = user->uid;
        spec.group = user->gid;
    }
    return RunChild(spec, 120);
}

std::optional<Account> UnprivilegedAccount() {
    if (::geteuid() != 0) return std::nullopt;
    const passwd* pw = ::getpwnam("nobody");
    if (pw == nullptr) return Account{65534, 65534};
    return Account{pw->pw_uid, pw->pw_gid};
}

// ---- Registry dump ----

std::string Utf8(std::u16string_view text) {
    std::string out;
    const auto escape = [&out](unsigned unit) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "\\x{%04X}", unit);
        out += buffer;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        char32_t code = c;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c < 0x20 || c == 0x7F) {
            escape(c);
            continue;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

namespace {

constexpr std::size_t kDumpTextLimit = 200;

// Appends the values of key; false when it has none.
bool dumpValues(HKEY key, std::string& values) {
    std::u16string name(kMaxValueNameLength + 1, u'\0');
    Bytes data(4096);
    bool any = false;
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, index, name.data(), &length, nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA) {
            data.resize(std::max<std::size_t>(size, data.size() * 2));
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        const FormattedValue v = FormatValue(type, data.data(), size);
        std::u16string text = v.text.substr(0, kDumpTextLimit);
        std::string line =
            "\"" + Utf8(std::u16string_view(name.data(), length)) + "\"=" + Utf8(v.tag) + ":" + Utf8(text);
        if (v.text.size() > kDumpTextLimit) line += "...(" + std::to_string(v.text.size()) + " chars)";
        values += line + "\n";
        any = true;
        ++index;
    }
    return any;
}

}  // namespace

std::string DumpRegistry() {
    std::string dump;
    struct Level {
        HKEY key;
        std::u16string path;
        DWORD index;
    };
    for (const HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const std::u16string rootName = rootKeyName(root);
        std::vector<Level> stack{{root, rootName, 0}};
        std::u16string name(kMaxKeyNameLength + 1, u'\0');
        while (!stack.empty()) {
            Level& level = stack.back();
            if (level.index == 0) {
                std::string values;
                const bool any = dumpValues(level.key, values);
                if (any || stack.size() > 1) dump += "[" + Utf8(level.path) + "]\n" + values;
            }
            DWORD length = static_cast<DWORD>(name.size());
            if (RegEnumKeyExW(level.key, level.index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                if (stack.size() > 1) RegCloseKey(level.key);
                stack.pop_back();
                continue;
            }
            ++level.index;
            const std::u16string child(name.data(), length);
            HKEY opened = 0;
            if (RegOpenKeyExW(level.key, child.c_str(), 0, 0, &opened) != ERROR_SUCCESS) {
                dump += "[" + Utf8(level.path + u"\\" + child) + "] cannot be opened\n";
                continue;
            }
            stack.push_back({opened, level.path + u"\\" + child, 0});
        }
    }
    return dump;
}

bool MakeStore(const std::string& path) {
    if (!tovik::openRegistryStore(path).ok) return false;
    HKEY key = 0;
    DWORD disposition = 0;
    bool made = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Kept", 0, nullptr, 0, 0, nullptr, &key, &disposition) ==
                ERROR_SUCCESS;
    const Bytes data = stringToBytes(u"precious");
    made =
        made && RegSetValueExW(key, u"data", 0, REG_SZ, data.data(), static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
    RegCloseKey(key);
    tovik::closeRegistryStore();
    return made;
}

bool MakeLoopedStore(const std::string& path) {
    if (!MakeStore(path) || !tovik::openRegistryStore(path).ok) return false;
    HKEY key = 0;
    bool made = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Kept\\Deep", 0, nullptr, 0, 0, nullptr, &key,
                                nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    tovik::closeRegistryStore();
    sqlite3* db = nullptr;
    made = made && sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
           sqlite3_exec(db,
                        "UPDATE keys SET parent = (SELECT id FROM keys WHERE depth = 3) "
                        "WHERE depth = 0 AND id = (SELECT parent FROM keys WHERE depth = 1)",
                        nullptr, nullptr, nullptr) == SQLITE_OK &&
           sqlite3_changes(db) == 1;
    sqlite3_close(db);
    return made;
}

std::string IntegrityCheck(const std::string& storePath) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(storePath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close(db);
        return message;
    }
    sqlite3_busy_timeout(db, 10000);
    std::string result;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            if (!result.empty()) result += "; ";
            result += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        }
    } else {
        result = sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

namespace {

// Calls visit(name, type, data, size) for each value of root\path in order until it returns
// false; nothing when the key cannot be opened. data is the reader's buffer, valid for the call.
template <typename Visit>
void visitValues(HKEY root, const std::u16string& path, Visit visit) {
    HKEY key = 0;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return;
    std::u16string entry(kMaxValueNameLength + 1, u'\0');
    Bytes data(64);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(entry.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, index, entry.data(), &length, nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA) {
            data.resize(std::max<std::size_t>(size, data.size() * 2));
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        if (!visit(std::u16string_view(entry.data(), length), type, data.data(), size)) break;
        ++index;
    }
    RegCloseKey(key);
}

}  // namespace

std::optional<StoredValue> ReadValue(HKEY root, const std::u16string& path, const std::u16string& name) {
    std::optional<StoredValue> found;
    visitValues(root, path, [&](std::u16string_view entry, DWORD type, const BYTE* data, DWORD size) {
        if (entry != name) return true;
        found = StoredValue{type, Bytes(data, data + size)};
        return false;
    });
    return found;
}

std::vector<std::pair<std::u16string, StoredValue>> ReadValues(HKEY root, const std::u16string& path) {
    std::vector<std::pair<std::u16string, StoredValue>> values;
    visitValues(root, path, [&](std::u16string_view name, DWORD type, const BYTE* data, DWORD size) {
        values.emplace_back(std::u16string(name), StoredValue{type, Bytes(data, data + size)});
        return true;
    });
    return values;
}

double TimeScale() {
    const char* sanitized = std::getenv("TOVIK_SANITIZED");
    return sanitized && *sanitized ? 4.0 : 1.0;
}

}  // namespace reliability
