// tovik-reg diff: two key trees compared, each a key of a registry or a .reg or backup file read as
// a tree.
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backup/backup_import.h"
#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/diff_listing.h"
#include "cli/json_output.h"
#include "cli/utf8.h"
#include "compare/diff_reg_writer.h"
#include "compare/reg_file_tree.h"
#include "compare/tree_compare.h"
#include "regfile/reg_text.h"
#include "regfile/reg_writer.h"
#include "registry/key_path.h"
#include "registry/registry_store.h"
#include "stores/open_backend.h"
#include "stores/sqlite/sqlite_store.h"

namespace tovik::cli {

namespace {

// Where the key lines of one side point: its root and the key below it that was compared.
struct SideBase {
    HKEY root = 0;
    std::u16string path;
    std::u16string full(std::u16string_view below) const {
        std::u16string joined = path;
        if (!joined.empty() && !below.empty()) joined += u'\\';
        joined += below;
        return joined;
    }
};

class ListingSink final : public DifferenceSink {
public:
    ListingSink(DiffListing& listing, const SideBase& a, const SideBase& b) : listing_(listing), a_(a), b_(b) {}
    bool onDifference(const Difference& d) override {
        switch (d.kind) {
        case DifferenceKind::KeyOnlyInA: listing_.key('-', a_.root, a_.full(d.path)); break;
        case DifferenceKind::KeyOnlyInB: listing_.key('+', a_.root, a_.full(d.path)); break;
        case DifferenceKind::ValueOnlyInA:
            listing_.keyHeader(a_.root, a_.full(d.path));
            listing_.value('-', d.name, d.a.type, d.a.data, d.a.size);
            break;
        case DifferenceKind::ValueOnlyInB:
            listing_.keyHeader(a_.root, a_.full(d.path));
            listing_.value('+', d.name, d.b.type, d.b.data, d.b.size);
            break;
        case DifferenceKind::ValueChanged:
            listing_.keyHeader(a_.root, a_.full(d.path));
            listing_.value('-', d.name, d.a.type, d.a.data, d.a.size);
            listing_.value('+', d.name, d.b.type, d.b.data, d.b.size);
            break;
        case DifferenceKind::KeySame:
        case DifferenceKind::ValueSame: break;
        }
        (void)b_;
        return true;
    }

private:
    DiffListing& listing_;
    const SideBase& a_;
    const SideBase& b_;
};

// One element per difference: {"change": "added"|"removed"|"changed", "path": ..., and for a value
// "name", "a" and "b" (the value objects of json_output.h, null on the side without it)}.
class JsonSink final : public DifferenceSink {
public:
    JsonSink(JsonArrayWriter& array, const SideBase& a, const SideBase& b) : array_(array), a_(a), b_(b) {}
    bool onDifference(const Difference& d) override {
        if (d.kind == DifferenceKind::KeySame || d.kind == DifferenceKind::ValueSame) return true;
        const bool onlyA = d.kind == DifferenceKind::KeyOnlyInA || d.kind == DifferenceKind::ValueOnlyInA;
        const bool onlyB = d.kind == DifferenceKind::KeyOnlyInB || d.kind == DifferenceKind::ValueOnlyInB;
        nlohmann::ordered_json element;
        element["change"] = onlyA ? "removed" : onlyB ? "added" : "changed";
        element["kind"] = d.isKey() ? "key" : "value";
        element["path"] = utf16ToUtf8(fullKeyPath(a_.root, a_.full(d.path)));
        if (!d.isKey()) {
            element["name"] = utf16ToUtf8(d.name);
            element["a"] = onlyB ? nlohmann::ordered_json(nullptr)
                                 : jsonValue(a_.root, a_.full(d.path), d.name, d.a.type, d.a.data, d.a.size);
            element["b"] = onlyA ? nlohmann::ordered_json(nullptr)
                                 : jsonValue(b_.root, b_.full(d.path), d.name, d.b.type, d.b.data, d.b.size);
        }
        array_.add(element);
        return true;
    }

private:
    JsonArrayWriter& array_;
    const SideBase& a_;
    const SideBase& b_;
};

class StreamSink final : public ByteSink {
public:
    explicit StreamSink(std::ostream& out) : out_(out) {}
    bool write(const BYTE* data, std::size_t size) override {
        out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return static_cast<bool>(out_);
    }

private:
    std::ostream& out_;
};

// A side's registry: the current one, another one opened for it, or a file read into memory.
struct OpenedSide {
    std::unique_ptr<Backend> owned;
    Backend* backend = nullptr;
};

// Reads a backup file into an in-memory tree. Nullopt when file is no backup file (nothing said);
// else whether it was read (false with the error said).
std::optional<bool> readBackupFileSide(const std::string& file, OpenedSide& side, std::ostream& err) {
    int error = 0;
    std::optional<BackupFileLines> backup = readBackupFileAt(file, &error);
    if (!backup || backup->notUnicode || backup->lines.empty() || !isBackupHeaderLine(backup->lines[0]))
        return std::nullopt;
    side.owned = openSqliteMemoryStore();
    side.backend = side.owned.get();
    const ImportOutcome outcome = readBackupFileTree(backup->lines, *side.backend);
    if (outcome == ImportOutcome::NoRootKey) {
        reportError(err, say({"the backup file %1 names no root on its second line.",
                              "バックアップファイル %1 の2行目がルートキーではありません。"},
                             {file}));
        return false;
    }
    return true;
}

// Reads a .reg file or a backup file into an in-memory tree; false (with the error said) when it
// cannot.
bool readFileSide(const std::string& file, OpenedSide& side, std::ostream& err) {
    const RegFileFormat format = sniffRegFileAt(file);
    if (format != RegFileFormat::Version5 && format != RegFileFormat::Regedit4) {
        if (const std::optional<bool> read = readBackupFileSide(file, side, err)) return *read;
        const Message notReg{"not a .reg file (REGEDIT4 or version 5): %1",
                             ".regファイル（REGEDIT4 またはバージョン5）ではありません: %1"};
        const Message unknownVersion{"not a .reg file (REGEDIT4 or version 5): %1 (its header names a version that is "
                                     "not read)",
                                     ".regファイル（REGEDIT4 またはバージョン5）ではありません: %1（ヘッダーが読めない"
                                     "バージョンを示しています）"};
        reportError(err, say(format == RegFileFormat::UnknownHeader ? unknownVersion : notReg, {file}));
        return false;
    }
    int error = 0;
    const std::optional<RegFileText> text = readRegFileAt(file, &error);
    if (!text) {
        reportError(err, cannotReadFileText(file, error));
        return false;
    }
    side.owned = openSqliteMemoryStore();
    side.backend = side.owned.get();
    readRegFileTree(text->text, *side.backend);
    return true;
}

}  // namespace

int runDiff(const Command& command, std::ostream& out, std::ostream& err) {
    const DiffSide& sideA = command.sides.at(0);
    const DiffSide& sideB = command.sides.at(1);
    OpenedSide a, b;
    if (sideA.isFile) {
        if (!readFileSide(sideA.file, a, err)) return kExitUsage;
    } else {
        a.backend = currentBackend();
    }
    if (sideB.isFile) {
        if (!readFileSide(sideB.file, b, err)) return kExitUsage;
    } else if (command.otherSource) {
        const StoreOpenResult opened = openRegistryBackend(*command.otherSource, b.owned);
        if (!opened.ok) {
            reportError(err, opened.error);
            return kExitUsage;
        }
        b.backend = b.owned.get();
    } else {
        b.backend = currentBackend();
    }
    if (!a.backend || !b.backend) {
        reportError(err, say({"no registry is open.", "レジストリが開いていません。"}));
        return kExitUsage;
    }

    // A file side is read at the other side's key; two files are compared root by root.
    std::vector<std::pair<SideBase, SideBase>> pairs;
    if (sideA.isFile && sideB.isFile) {
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            pairs.push_back({SideBase{root, u""}, SideBase{root, u""}});
    } else {
        const KeyArgument& keyA = sideA.isFile ? sideB.key : sideA.key;
        const KeyArgument& keyB = sideB.isFile ? sideA.key : sideB.key;
        pairs.push_back({SideBase{keyA.root, keyA.path}, SideBase{keyB.root, keyB.path}});
    }

    DiffListing listing(out);
    JsonArrayWriter array(out);
    StreamSink bytes(out);
    RegFileWriter regWriter(bytes,
                            command.diffFormat == DiffFormat::Reg4 ? RegFileFormat::Regedit4 : RegFileFormat::Version5);
    if (command.diffFormat != DiffFormat::Listing) regWriter.writeHeader();
    std::size_t differences = 0;
    bool found = false;
    for (const auto& [baseA, baseB] : pairs) {
        const CompareSide compareA{a.backend, baseA.root, baseA.path};
        const CompareSide compareB{b.backend, baseB.root, baseB.path};
        // --reverse: B against A, so that everything reads from B's side.
        const CompareSide& first = command.reverse ? compareB : compareA;
        const CompareSide& second = command.reverse ? compareA : compareB;
        const SideBase& firstBase = command.reverse ? baseB : baseA;
        const SideBase& secondBase = command.reverse ? baseA : baseB;
        ListingSink listed(listing, firstBase, secondBase);
        JsonSink json(array, firstBase, secondBase);
        DiffRegWriter reg(regWriter, firstBase.root, firstBase.path);
        DifferenceSink& sink = command.json                                ? static_cast<DifferenceSink&>(json)
                               : command.diffFormat == DiffFormat::Listing ? static_cast<DifferenceSink&>(listed)
                                                                           : static_cast<DifferenceSink&>(reg);
        const CompareResult result = compareKeyTrees(first, second, sink);
        if (result.outcome == CompareOutcome::KeyNotFound) continue;
        found = true;
        if (result.outcome == CompareOutcome::ReadFailed) {
            reportError(err, say({"cannot read %1; the comparison stopped there.",
                                  "%1 を読み出せません。比較はそこで止めました。"},
                                 {utf16ToUtf8(fullKeyPath(firstBase.root, firstBase.full(result.keyPath)))}));
            return kExitUsage;
        }
        if (result.outcome == CompareOutcome::Stopped) {
            reportError(err, say(kCannotWriteOutput));
            return kExitUsage;
        }
        differences += result.differences;
    }
    if (!found) {
        reportError(err, sideA.isFile && sideB.isFile
                             ? say({"neither file holds a key.", "どちらのファイルにもキーがありません。"})
                             : say({"no such key on either side: %1", "どちらの側にもキー %1 がありません。"},
                                   {utf16ToUtf8(fullKeyPath(pairs[0].first.root, pairs[0].first.path))}));
        return kExitUsage;
    }
    bool written = true;
    if (command.json)
        written = array.finish();
    else if (command.diffFormat != DiffFormat::Listing)
        written = regWriter.finish();
    out.flush();
    if (!written || !out) {
        reportError(err, say(kCannotWriteOutput));
        return kExitUsage;
    }
    return differences == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace tovik::cli
