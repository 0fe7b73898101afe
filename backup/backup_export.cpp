#include "backup/backup_export.h"

#include <algorithm>
#include <cerrno>

#include "regfile/byte_sink.h"
#include "regfile/key_tree_walk.h"
#include "regfile/reg_export.h"
#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "registry/registry_api.h"

namespace tovik {

namespace {

// The backup file's lines of each key and value the walk meets.
class BackupVisitor final : public KeyTreeVisitor {
public:
    BackupVisitor(BackupWriter& writer, ExportResult& result, const std::function<bool(std::size_t)>& progress)
        : writer_(writer), result_(result), progress_(progress) {}

    // True when the progress callback asked to stop.
    bool cancelled() const { return cancelled_; }

    bool OnKey(std::u16string_view path) override {
        path_ = path;
        writer_.writeKeyLine(path);
        ++result_.keys;
        if (!keyLineReadsBack(path)) notRestorable(backupKeyLine(path));
        if (progress_ && result_.keys > 1 && !progress_(result_.keys)) {
            cancelled_ = true;
            return false;
        }
        return writer_.ok();  // no point reading on once the disk is full
    }
    bool OnValue(std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) override {
        if (!writer_.writeValueLine(name, type, data, size))
            notRestorable(backupKeyLine(path_) + u" \"" + std::u16string(name) + u"\"");
        ++result_.values;
        return writer_.ok();
    }

private:
    void notRestorable(std::u16string example) {
        if (result_.notRestorable++ < kNotRestorableExamples)
            result_.notRestorableExamples.push_back(std::move(example));
    }

    BackupWriter& writer_;
    ExportResult& result_;
    const std::function<bool(std::size_t)>& progress_;
    bool cancelled_ = false;
    std::u16string path_;
};

// A .reg writer's bytes into the export's file.
class StreamSink final : public ByteSink {
public:
    explicit StreamSink(std::FILE* file) : file_(file) {}
    bool write(const BYTE* data, std::size_t size) override {
        if (std::fwrite(data, 1, size, file_) == size) return true;
        if (error_ == 0) error_ = errno != 0 ? errno : EIO;
        return false;
    }
    int error() const { return error_; }

private:
    std::FILE* file_;
    int error_ = 0;
};

ExportResult exportRegFileToFile(const std::string& target, HKEY root, std::u16string_view path, RegFileFormat format,
                                 const std::function<bool(std::size_t)>& progress) {
    ExportResult result;
    if (root != HKEY_CLASSES_ROOT && root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE) {
        result.outcome = ExportOutcome::NoKeySelected;  // nothing to write: no file is made
        return result;
    }
    ExportFile file(target);
    if (!file.open()) {
        result.outcome = file.outcome();
        result.error = file.error();
        return result;
    }
    StreamSink sink(file.stream());
    const RegFileExportResult written = exportRegFile(sink, root, path, format, progress);
    result.keys = written.keys;
    result.values = written.values;
    result.notRestorable = written.inexact;
    result.keyPath = written.keyPath;
    switch (written.outcome) {
    case RegFileExportOutcome::Written:
        if (!file.commit()) {
            result.outcome = file.outcome();
            result.error = file.error();
        }
        return result;
    case RegFileExportOutcome::NoKeySelected: result.outcome = ExportOutcome::NoKeySelected; break;
    case RegFileExportOutcome::KeyNotOpened: result.outcome = ExportOutcome::KeyNotOpened; break;
    case RegFileExportOutcome::ReadFailed: result.outcome = ExportOutcome::ReadFailed; break;
    case RegFileExportOutcome::Cancelled: result.outcome = ExportOutcome::Cancelled; break;
    case RegFileExportOutcome::WriteFailed:
        result.outcome = ExportOutcome::WriteFailed;
        result.error = sink.error();
        break;
    }
    file.discard();
    return result;
}

}  // namespace

BackupExport::BackupExport(std::string target) : file_(std::move(target)) {}

BackupExport::~BackupExport() = default;  // an unfinished file removes its temporary

bool BackupExport::fail(ExportOutcome outcome, int error) {
    result_.outcome = outcome;
    result_.error = error;
    return false;
}

bool BackupExport::begin(HKEY root) {
    if (failed() || started_ || finished_) return false;
    started_ = true;
    if (!file_.open()) return fail(file_.outcome(), file_.error());
    writer_ = std::make_unique<BackupWriter>(file_.stream());
    writer_->writeMarkAndHeader();

    if (backupRootLine(root).empty()) {
        // No key: a new file is left holding the mark and the header; a file that was there
        // already keeps its content rather than lose it for a backup that holds nothing.
        if (writer_->flush()) {
            file_.commitIfNew();
        } else {
            file_.discard();
        }
        finished_ = true;
        return fail(ExportOutcome::NoKeySelected);
    }
    writer_->writeRootLine(root);
    return checkWriter();
}

void BackupExport::writeKeyTree(HKEY root, std::u16string_view path) {
    if (failed() || writer_ == nullptr || finished_) return;
    // The walk reads inside one snapshot: the file shows the registry of one moment, and the walk
    // does not pay for a transaction per call.
    BackupVisitor visitor(*writer_, result_, progress_);
    const KeyTreeWalkResult walk = walkKeyTree(root, path, visitor);
    switch (walk.outcome) {
    case KeyTreeWalkOutcome::Done: checkWriter(); break;
    case KeyTreeWalkOutcome::KeyNotOpened:
        fail(ExportOutcome::KeyNotOpened);
        result_.keyPath = walk.keyPath;
        break;
    case KeyTreeWalkOutcome::ReadFailed:
        fail(ExportOutcome::ReadFailed);
        result_.keyPath = walk.keyPath;
        break;
    case KeyTreeWalkOutcome::Stopped:
        if (visitor.cancelled())
            fail(ExportOutcome::Cancelled);
        else
            fail(ExportOutcome::WriteFailed, writer_->error());  // a full disk
        break;
    }
}

bool BackupExport::checkWriter() {
    if (writer_->ok()) return true;
    return fail(ExportOutcome::WriteFailed, writer_->error());
}

ExportResult BackupExport::finish() {
    if (finished_) return result_;
    finished_ = true;
    if (!failed() && !started_) fail(ExportOutcome::FileNotCreated, EBADF);  // Begin was not called
    if (!failed() && !writer_->flush()) fail(ExportOutcome::WriteFailed, writer_->error());
    if (failed()) {
        file_.discard();
    } else if (!file_.commit()) {
        fail(file_.outcome(), file_.error());
    }
    return result_;
}

std::u16string notRestorableNotice(const ExportResult& result) {
    if (result.notRestorable == 0) return {};
    const std::string count = std::to_string(result.notRestorable);
    std::u16string notice = fillTemplate(kNotRestorableTemplate, {std::u16string(count.begin(), count.end())});
    for (const std::u16string& example : result.notRestorableExamples) notice += u"\n" + example;
    if (result.notRestorable > result.notRestorableExamples.size()) notice += u"\n…";
    return notice;
}

ExportResult exportKeyToFile(const std::string& target, HKEY root, std::u16string_view path, ExportFileFormat format,
                             const std::function<bool(std::size_t keys)>& progress) {
    if (format == ExportFileFormat::Reg)
        return exportRegFileToFile(target, root, path, RegFileFormat::Version5, progress);
    if (format == ExportFileFormat::Reg4)
        return exportRegFileToFile(target, root, path, RegFileFormat::Regedit4, progress);
    BackupExport file(target);
    if (progress) file.setProgress(progress);
    if (file.begin(root)) file.writeKeyTree(root, path);
    return file.finish();
}

std::u16string storedKeyPath(HKEY root, std::u16string_view path) {
    // One name at a time, so that the names from the first key that cannot be found on stay as typed.
    std::u16string stored;
    std::u16string found;
    KeyHandle parent(root);
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        const std::u16string wanted(path.substr(start, end - start));
        if (RegQueryStoredPath(parent.get(), wanted.c_str(), &found) != ERROR_SUCCESS) found = wanted;
        if (!stored.empty()) stored += u'\\';
        stored += found;
        KeyHandle child;
        if (openKeyHandle(parent.get(), found, child) != ERROR_SUCCESS) {
            stored += path.substr(end);
            return stored;
        }
        parent = std::move(child);
        start = end + 1;
    }
    return stored;
}

}  // namespace tovik
