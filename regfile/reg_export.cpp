#include "regfile/reg_export.h"

#include "regfile/key_tree_walk.h"
#include "regfile/reg_writer.h"
#include "registry/registry_api.h"

namespace tovik {

namespace {

class RegFileVisitor final : public KeyTreeVisitor {
public:
    RegFileVisitor(RegFileWriter& writer, HKEY root, RegFileExportResult& result,
                   const std::function<bool(std::size_t)>& progress)
        : writer_(writer), root_(root), result_(result), progress_(progress) {}

    bool OnKey(std::u16string_view path) override {
        if (result_.keys != 0 && progress_ && !progress_(result_.keys)) {
            cancelled_ = true;
            return false;
        }
        writer_.writeKey(root_, path);
        ++result_.keys;
        return writer_.ok();
    }
    bool cancelled() const { return cancelled_; }
    bool OnValue(std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) override {
        writer_.writeValue(name, type, data, size);
        ++result_.values;
        return writer_.ok();
    }

private:
    RegFileWriter& writer_;
    HKEY root_;
    RegFileExportResult& result_;
    const std::function<bool(std::size_t)>& progress_;
    bool cancelled_ = false;
};

}  // namespace

RegFileExportResult exportRegFile(ByteSink& sink, HKEY root, std::u16string_view path, RegFileFormat format,
                                  const std::function<bool(std::size_t keys)>& progress) {
    RegFileExportResult result;
    if (root != HKEY_CLASSES_ROOT && root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE) {
        result.outcome = RegFileExportOutcome::NoKeySelected;
        return result;
    }
    RegFileWriter writer(sink, format);
    writer.writeHeader();
    RegFileVisitor visitor(writer, root, result, progress);
    const KeyTreeWalkResult walk = walkKeyTree(root, path, visitor);
    const bool written = writer.finish();
    result.inexact = writer.inexact();
    switch (walk.outcome) {
    case KeyTreeWalkOutcome::Done: break;
    case KeyTreeWalkOutcome::KeyNotOpened: result.outcome = RegFileExportOutcome::KeyNotOpened; break;
    case KeyTreeWalkOutcome::ReadFailed: result.outcome = RegFileExportOutcome::ReadFailed; break;
    case KeyTreeWalkOutcome::Stopped:
        result.outcome = visitor.cancelled() ? RegFileExportOutcome::Cancelled : RegFileExportOutcome::WriteFailed;
        break;
    }
    result.keyPath = walk.keyPath;
    if (result.outcome == RegFileExportOutcome::Written && !written) result.outcome = RegFileExportOutcome::WriteFailed;
    return result;
}

}  // namespace tovik
