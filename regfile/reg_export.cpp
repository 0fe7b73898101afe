#include "regfile/reg_export.h"

#include "regfile/key_tree_walk.h"
#include "regfile/reg_writer.h"
#include "registry/registry_api.h"

namespace tovik {

namespace {

class RegFileVisitor final : public KeyTreeVisitor {
public:
    RegFileVisitor(RegFileWriter& writer, HKEY root, RegFileExportResult& result)
        : writer_(writer), root_(root), result_(result) {}

    bool OnKey(std::u16string_view path) override {
        writer_.WriteKey(root_, path);
        ++result_.keys;
        return writer_.ok();
    }
    bool OnValue(std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) override {
        writer_.WriteValue(name, type, data, size);
        ++result_.values;
        return writer_.ok();
    }

private:
    RegFileWriter& writer_;
    HKEY root_;
    RegFileExportResult& result_;
};

}  // namespace

RegFileExportResult ExportRegFile(ByteSink& sink, HKEY root, std::u16string_view path, RegFileFormat format) {
    RegFileExportResult result;
    if (root != HKEY_CLASSES_ROOT && root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE) {
        result.outcome = RegFileExportOutcome::NoKeySelected;
        return result;
    }
    RegFileWriter writer(sink, format);
    writer.WriteHeader();
    RegFileVisitor visitor(writer, root, result);
    const KeyTreeWalkResult walk = WalkKeyTree(root, path, visitor);
    const bool written = writer.Finish();
    result.inexact = writer.inexact();
    switch (walk.outcome) {
        case KeyTreeWalkOutcome::Done: break;
        case KeyTreeWalkOutcome::KeyNotOpened: result.outcome = RegFileExportOutcome::KeyNotOpened; break;
        case KeyTreeWalkOutcome::ReadFailed: result.outcome = RegFileExportOutcome::ReadFailed; break;
        case KeyTreeWalkOutcome::Stopped: result.outcome = RegFileExportOutcome::WriteFailed; break;
    }
    result.keyPath = walk.keyPath;
    if (result.outcome == RegFileExportOutcome::Written && !written) result.outcome = RegFileExportOutcome::WriteFailed;
    return result;
}

}  // namespace tovik
