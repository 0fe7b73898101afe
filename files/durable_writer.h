#pragma once
// Replacing a file so that a crash or kill at any moment leaves either its old or its new
// content, never a mix: the new content goes to a file created beside the target (a file without
// a name, O_TMPFILE, or where the file system has none a hidden temporary created exclusively,
// never through a link), is synced, takes the target's name in one step (rename, or linkat for a
// new file) and the folder is synced.
//
// The replacement keeps the target's mode and, where this user may give it, its owner and group.
// A target named through a link is written through to the file the link names (the link stays a
// link), except a link that another user placed in a shared sticky folder such as /tmp: writing
// through it would let them choose which file is overwritten. A folder, FIFO, device or socket at
// the target is refused.
#include <cstdio>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "files/file_identity.h"
#include "files/file_status.h"

namespace tovik::files {

struct WriteOptions {
    // The mode of a file that did not exist (umask does not apply).
    mode_t newFileMode = 0600;
    // When set and that file exists, a new file takes its mode, owner and group instead.
    std::string modeOf;
    // A file this user may not write is not replaced (as a plain open for writing would refuse it).
    bool refuseReadOnlyTarget = false;
};

// One replacement: open(), write() or stream() or a library writing to fdPath(), then commit()
// or commitIfNew(). Destroying it before either removes what it wrote; the target is untouched.
class DurableWriter {
public:
    explicit DurableWriter(std::string target, WriteOptions options = {});
    ~DurableWriter();
    DurableWriter(const DurableWriter&) = delete;
    DurableWriter& operator=(const DurableWriter&) = delete;

    // Resolves and checks the target and creates the new file beside it.
    FileStatus open();
    FileStatus write(std::string_view bytes);
    // For writers that stream (exports): a stdio stream on the new file, made on first use;
    // write() goes through it from then on.
    std::FILE* stream();
    int fd() const { return fd_; }
    // A name that opens the new file, for libraries that only write to a named file (hivex).
    std::string fdPath() const;

    // Syncs the new file and puts it in the target's place. On failure the target is unchanged,
    // unless the status says placed (the folder could not be synced after the rename).
    FileStatus commit();
    // The same, but only where no file has the target's name: an existing file is left as it was
    // and the status is a failure with EEXIST.
    FileStatus commitIfNew();
    void discard();

    // After open(): the file that is replaced (a link resolved), whether it existed, and as what.
    const std::string& target() const { return target_; }
    bool targetExisted() const { return targetExisted_; }
    const FileIdentity& targetIdentity() const { return targetIdentity_; }

private:
    FileStatus fail(FileStatus status);
    FileStatus resolveTarget();
    FileStatus createNewFile(const std::string& folder);
    FileStatus flushAndSync();
    bool linkUnnamedAs(const std::string& name);
    bool placeReplacing();
    bool placeWithoutReplacing();
    FileStatus syncFolder();
    void closeFile();
    void removeTemporary();

    std::string requested_;
    WriteOptions options_;
    std::string target_;
    std::string temporary_;  // the new file's name; empty while it has none
    bool unnamed_ = false;   // made with O_TMPFILE: linked into place at the end
    bool targetExisted_ = false;
    FileIdentity targetIdentity_;
    bool haveLike_ = false;  // the mode, owner and group below come from an existing file
    mode_t finalMode_ = 0600;
    uid_t owner_ = 0;
    gid_t group_ = 0;
    int fd_ = -1;
    std::FILE* stream_ = nullptr;
};

// Replaces (or creates) path with bytes, as DurableWriter does.
FileStatus replaceFile(const std::string& path, std::string_view bytes, const WriteOptions& options = {});

// Copies source to copy durably unless a file (or link) named copy exists already; the copy is
// private (0600), or with keepSourceMode has the source's mode, owner and group.
FileStatus copyFileOnce(const std::string& source, const std::string& copy, bool keepSourceMode);

// Removes the temporaries in folder left by writers of this user that were killed (their process
// is gone). Returns how many were removed.
std::size_t removeStaleTemporaries(const std::string& folder);

std::string folderOf(const std::string& path);

// Gives the file `from` the name `to` in one step, unless a file (or link) named `to` exists:
// then nothing moves and errno is EEXIST. For files another library wrote (a store SQLite built
// beside its final name). The folder is not synced.
bool renameIfAbsent(const std::string& from, const std::string& to);

namespace testing {
// Called after each step of a write ("created", "wrote", "synced", "placed", "folder synced"),
// so that tests can kill or stop the writer there. nullptr to stop.
using StepHook = void (*)(const char* step);
void setStepHook(StepHook hook);
// Lets tests take the path of file systems without O_TMPFILE.
void setUnnamedFilesAllowed(bool allowed);
}  // namespace testing

}  // namespace tovik::files
