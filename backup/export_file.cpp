#include "backup/export_file.h"

#include <sys/stat.h>

#include <cerrno>

#include "registry/registry_store.h"

namespace tovik {

namespace {

// A file that holds the open registry (the store, its write-ahead log or its shared-memory file),
// by device and inode.
bool IsStoreFile(const files::FileIdentity& target) {
    for (const std::string& path : CurrentRegistryFiles()) {
        const std::optional<files::FileIdentity> file = files::identityOf(path);
        if (file && file->device == target.device && file->inode == target.inode) return true;
    }
    return false;
}

files::WriteOptions ExportWriteOptions() {
    files::WriteOptions options;
    options.newFileMode = 0600;  // private whatever the umask
    options.refuseReadOnlyTarget = true;
    return options;
}

}  // namespace

std::u16string_view ExportOutcomeMessage(ExportOutcome outcome) {
    switch (outcome) {
        case ExportOutcome::Written: return {};
        case ExportOutcome::NoKeySelected: return kExportNoKeyMessage;
        case ExportOutcome::FileNotCreated: return kExportFileNotCreatedMessage;
        case ExportOutcome::KeyNotOpened: return kExportKeyNotOpenedMessage;
        case ExportOutcome::ReadFailed: return kExportReadFailedMessage;
        case ExportOutcome::WriteFailed: return kExportWriteFailedMessage;
        case ExportOutcome::UnsafeLink: return kExportUnsafeLinkMessage;
        case ExportOutcome::OntoStore: return kExportOntoStoreMessage;
        case ExportOutcome::Cancelled: return kExportCancelledMessage;
    }
    return {};
}

ExportFile::ExportFile(std::string target) : writer_(std::move(target), ExportWriteOptions()) {}

ExportFile::~ExportFile() { Discard(); }

bool ExportFile::Fail(ExportOutcome outcome, int error) {
    outcome_ = outcome;
    error_ = error;
    return false;
}

bool ExportFile::Open() {
    if (file_ != nullptr || outcome_ != ExportOutcome::Written) return false;
    const files::FileStatus opened = writer_.open();
    if (opened.problem == files::Problem::unsafeLink) return Fail(ExportOutcome::UnsafeLink, opened.error);
    if (!opened.ok()) return Fail(ExportOutcome::FileNotCreated, opened.error);
    // Replacing the store (or its log) with a backup of part of it would destroy it.
    if (writer_.targetExisted() && IsStoreFile(writer_.targetIdentity())) {
        writer_.discard();
        return Fail(ExportOutcome::OntoStore, EINVAL);
    }
    file_ = writer_.stream();
    if (file_ == nullptr) {
        const int error = errno;
        writer_.discard();
        return Fail(ExportOutcome::FileNotCreated, error);
    }
    return true;
}

bool ExportFile::Commit() {
    if (file_ == nullptr) return Fail(ExportOutcome::FileNotCreated, EBADF);
    file_ = nullptr;
    const files::FileStatus committed = writer_.commit();
    // A folder that cannot be synced after the rename leaves the complete file in place.
    if (!committed.ok() && !committed.placed) return Fail(ExportOutcome::WriteFailed, committed.error);
    return true;
}

void ExportFile::CommitIfNew() {
    if (file_ == nullptr) return;
    file_ = nullptr;
    writer_.commitIfNew();  // an existing file is kept as it was: nothing to report
}

void ExportFile::Discard() {
    file_ = nullptr;
    writer_.discard();
}

}  // namespace tovik
