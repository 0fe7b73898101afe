#include "backup/export_file.h"

#include <sys/stat.h>

#include <cerrno>

#include "registry/registry_store.h"

namespace tovik {

namespace {

// A file that holds the open registry (the store, its write-ahead log or its shared-memory file),
// by device and inode.
bool isStoreFile(const files::FileIdentity& target) {
    for (const std::string& path : currentRegistryFiles()) {
        const std::optional<files::FileIdentity> file = files::identityOf(path);
        if (file && file->device == target.device && file->inode == target.inode) return true;
    }
    return false;
}

files::WriteOptions exportWriteOptions() {
    files::WriteOptions options;
    options.newFileMode = 0600;  // private whatever the umask
    options.refuseReadOnlyTarget = true;
    return options;
}

}  // namespace

std::u16string_view exportOutcomeMessage(ExportOutcome outcome) {
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

ExportFile::ExportFile(std::string target) : writer_(std::move(target), exportWriteOptions()) {}

ExportFile::~ExportFile() {
    discard();
}

bool ExportFile::fail(ExportOutcome outcome, int error) {
    outcome_ = outcome;
    error_ = error;
    return false;
}

bool ExportFile::open() {
    if (file_ != nullptr || outcome_ != ExportOutcome::Written) return false;
    const files::FileStatus opened = writer_.open();
    if (opened.problem == files::Problem::unsafeLink) return fail(ExportOutcome::UnsafeLink, opened.error);
    if (!opened.ok()) return fail(ExportOutcome::FileNotCreated, opened.error);
    // Replacing the store (or its log) with a backup of part of it would destroy it.
    if (writer_.targetExisted() && isStoreFile(writer_.targetIdentity())) {
        writer_.discard();
        return fail(ExportOutcome::OntoStore, EINVAL);
    }
    file_ = writer_.stream();
    if (file_ == nullptr) {
        const int error = errno;
        writer_.discard();
        return fail(ExportOutcome::FileNotCreated, error);
    }
    return true;
}

bool ExportFile::commit() {
    if (file_ == nullptr) return fail(ExportOutcome::FileNotCreated, EBADF);
    file_ = nullptr;
    const files::FileStatus committed = writer_.commit();
    // A folder that cannot be synced after the rename leaves the complete file in place.
    if (!committed.ok() && !committed.placed) return fail(ExportOutcome::WriteFailed, committed.error);
    return true;
}

void ExportFile::commitIfNew() {
    if (file_ == nullptr) return;
    file_ = nullptr;
    writer_.commitIfNew();  // an existing file is kept as it was: nothing to report
}

void ExportFile::discard() {
    file_ = nullptr;
    writer_.discard();
}

}  // namespace tovik
