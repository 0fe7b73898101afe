#include "bench/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace tovik::bench {
namespace {

constexpr std::size_t kMaxErrorOutput = 64 * 1024;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Starts argv with stdout on stdoutFd and stderr into an unnamed temporary file (read back at the
// end: a pipe could fill up while the caller reads stdout), then calls drain and waits; usage
// gets the child's resource use when given.
ChildOutcome run(const std::vector<std::string>& argv, int stdoutFd, const std::function<void()>& drain,
                 rusage* usage = nullptr) {
    ChildOutcome outcome;
    std::FILE* errors = std::tmpfile();
    if (!errors) {
        outcome.error = systemError("cannot create a temporary file");
        return outcome;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fileno(errors), STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        errno = spawned;
        outcome.error = systemError(("cannot start " + argv[0]).c_str());
        std::fclose(errors);
        return outcome;
    }
    if (drain) drain();
    int status = 0;
    rusage ignored{};
    while (wait4(pid, &status, 0, usage ? usage : &ignored) < 0 && errno == EINTR) {}
    outcome.ran = true;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::rewind(errors);
    char buffer[4096];
    std::size_t got;
    while (outcome.errorOutput.size() < kMaxErrorOutput && (got = std::fread(buffer, 1, sizeof buffer, errors)) > 0)
        outcome.errorOutput.append(buffer, got);
    std::fclose(errors);
    return outcome;
}

}  // namespace

ChildOutcome runDiscardingOutput(const std::vector<std::string>& argv) {
    Fd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (devNull.get() < 0) {
        ChildOutcome outcome;
        outcome.error = systemError("cannot open /dev/null");
        return outcome;
    }
    return run(argv, devNull.get(), {});
}

ChildOutcome runReadingOutput(const std::vector<std::string>& argv, const std::function<void(std::string_view)>& sink) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        ChildOutcome outcome;
        outcome.error = systemError("cannot create a pipe");
        return outcome;
    }
    // Both ends are close-on-exec: the child keeps only its dup2'd stdout.
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);
    return run(argv, writeEnd.get(), [&] {
        writeEnd.reset();  // only the child writes now, so reading ends when it does
        char buffer[1 << 16];
        ssize_t got;
        while ((got = ::read(readEnd.get(), buffer, sizeof buffer)) != 0) {
            if (got < 0) {
                if (errno == EINTR) continue;
                break;
            }
            sink(std::string_view(buffer, static_cast<std::size_t>(got)));
        }
    });
}

ChildOutcome runMeasuringPeakMemory(const std::string& self, const std::vector<std::string>& argv,
                                    std::uint64_t& peakResidentKib) {
    std::vector<std::string> measured{self, std::string(kPeakMemoryChildArgument)};
    measured.insert(measured.end(), argv.begin(), argv.end());
    std::string report;
    ChildOutcome outcome = runReadingOutput(measured, [&](std::string_view chunk) { report += chunk; });
    const std::string mark = "peak-resident-kib: ";
    const std::size_t at = report.rfind(mark);
    peakResidentKib = at == std::string::npos ? 0 : std::strtoull(report.c_str() + at + mark.size(), nullptr, 10);
    if (outcome.succeeded() && at == std::string::npos) {
        outcome.exitCode = -1;
        outcome.error = "the measuring copy reported no peak";
    }
    return outcome;
}

int peakMemoryChildMain(const std::vector<std::string>& args) {
    Fd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    rusage usage{};
    const ChildOutcome outcome = run(args, devNull.get(), {}, &usage);
    std::fwrite(outcome.errorOutput.data(), 1, outcome.errorOutput.size(), stderr);
    if (!outcome.ran) {
        std::fprintf(stderr, "%s\n", outcome.error.c_str());
        return 127;
    }
    std::printf("peak-resident-kib: %ld\n", usage.ru_maxrss);
    return outcome.exitCode < 0 ? 128 : outcome.exitCode;
}

}  // namespace tovik::bench
