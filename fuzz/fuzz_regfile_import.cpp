// The .reg reader on untrusted bytes: decoding, every entry the reader gives, the line index, each
// value written out again and read back, and the whole file imported into an empty in-memory
// store, exported and imported once more, which must give the same export.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "regfile/byte_sink.h"
#include "regfile/reg_export.h"
#include "regfile/reg_import.h"
#include "regfile/reg_lines.h"
#include "regfile/reg_reader.h"
#include "regfile/reg_text.h"
#include "regfile/reg_writer.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// A value written by the writer (version 5) and read back gives the same name, type and bytes.
void CheckValueRoundTrip(const tovik::RegFileEntry& entry) {
    tovik::BytesSink sink;
    tovik::RegFileWriter writer(sink, tovik::RegFileFormat::Version5);
    writer.WriteHeader();
    writer.WriteKey(HKEY_CURRENT_USER, u"K");
    writer.WriteValue(entry.name, entry.type, entry.data, entry.size);
    Check(writer.Finish() && writer.inexact() == 0, "version 5 carries every value");
    const tovik::RegFileText text = tovik::DecodeRegFileBytes(sink.bytes.data(), sink.bytes.size());
    tovik::RegFileReader reader(text.text);
    tovik::RegFileEntry key, back;
    Check(reader.Next(key) && key.kind == tovik::RegFileEntryKind::Key, "the key line reads back");
    Check(reader.Next(back) && back.kind == tovik::RegFileEntryKind::Value, "the value line reads back");
    Check(back.name == entry.name, "a written value keeps its name");
    Check(back.type == entry.type, "a written value keeps its type");
    Check(back.size == entry.size && std::equal(back.data, back.data + back.size, entry.data),
          "a written value keeps its bytes");
}

// One file per root.
std::vector<Bytes> ExportAll() {
    std::vector<Bytes> files;
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        tovik::BytesSink sink;
        Check(tovik::ExportRegFile(sink, root, u"").outcome == tovik::RegFileExportOutcome::Written, "a root exports");
        files.push_back(std::move(sink.bytes));
    }
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tovik::RegFileText text = tovik::DecodeRegFileBytes(data, size);
    const tovik::RegFileLineIndex index(text.text);
    tovik::RegFileReader reader(text.text);
    tovik::RegFileEntry entry;
    std::size_t lastLine = 0;
    while (reader.Next(entry)) {
        Check(entry.line > 1 && entry.line <= reader.lineCount() && entry.line <= index.size(),
              "an entry's line is in the file, after the header");
        Check(entry.line > lastLine, "entries come in line order");
        lastLine = entry.line;
        switch (entry.kind) {
            case tovik::RegFileEntryKind::Value:
                CheckValueRoundTrip(entry);
                break;
            case tovik::RegFileEntryKind::Malformed:
                Check(!tovik::RegFileProblemText(entry.problem).empty(), "every problem has a text");
                break;
            case tovik::RegFileEntryKind::Key:
            case tovik::RegFileEntryKind::DeleteKey:
                Check(entry.root >= HKEY_CLASSES_ROOT && entry.root <= HKEY_LOCAL_MACHINE, "keys are under the roots");
                break;
            default:
                break;
        }
    }
    if (reader.format() == tovik::RegFileFormat::Regedit4 || reader.format() == tovik::RegFileFormat::Version5) {
        Check(reader.position() == text.text.size(), "the reader reads to the end");
        Check(reader.lineCount() == index.size(), "the reader and the index count the same lines");
    }

    // A fresh store per input: each import starts from the same empty registry.
    tovik::OpenInMemoryRegistryStore();
    const tovik::RegFileImportReport report = tovik::ImportRegFileText(text.text);
    Check(report.problems.size() <= tovik::kRegFileReportedProblems, "the problems kept are bounded");
    Check(report.keysWritten + report.valuesWritten + report.skipped() + report.failed() <= index.size(),
          "every line is counted at most once");
    const std::vector<Bytes> first = ExportAll();
    tovik::OpenInMemoryRegistryStore();
    for (const Bytes& file : first) {
        const tovik::RegFileImportReport again = tovik::ImportRegFileBytes(file.data(), file.size());
        Check(again.failed() == 0 && again.skipped() == 0, "an export imports without problems");
    }
    Check(ExportAll() == first, "an export imported again exports the same");
    tovik::CloseRegistryStore();
    return 0;
}
