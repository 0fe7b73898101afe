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

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// A value written by the writer (version 5) and read back gives the same name, type and bytes.
void checkValueRoundTrip(const tovik::RegFileEntry& entry) {
    tovik::BytesSink sink;
    tovik::RegFileWriter writer(sink, tovik::RegFileFormat::Version5);
    writer.writeHeader();
    writer.writeKey(HKEY_CURRENT_USER, u"K");
    writer.writeValue(entry.name, entry.type, entry.data, entry.size);
    check(writer.finish() && writer.inexact() == 0, "version 5 carries every value");
    const tovik::RegFileText text = tovik::decodeRegFileBytes(sink.bytes.data(), sink.bytes.size());
    tovik::RegFileReader reader(text.text);
    tovik::RegFileEntry key, back;
    check(reader.next(key) && key.kind == tovik::RegFileEntryKind::Key, "the key line reads back");
    check(reader.next(back) && back.kind == tovik::RegFileEntryKind::Value, "the value line reads back");
    check(back.name == entry.name, "a written value keeps its name");
    check(back.type == entry.type, "a written value keeps its type");
    check(back.size == entry.size && std::equal(back.data, back.data + back.size, entry.data),
          "a written value keeps its bytes");
}

// One file per root.
std::vector<Bytes> exportAll() {
    std::vector<Bytes> files;
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        tovik::BytesSink sink;
        check(tovik::exportRegFile(sink, root, u"").outcome == tovik::RegFileExportOutcome::Written, "a root exports");
        files.push_back(std::move(sink.bytes));
    }
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tovik::RegFileText text = tovik::decodeRegFileBytes(data, size);
    const tovik::RegFileLineIndex index(text.text);
    tovik::RegFileReader reader(text.text);
    tovik::RegFileEntry entry;
    std::size_t lastLine = 0;
    while (reader.next(entry)) {
        check(entry.line > 1 && entry.line <= reader.lineCount() && entry.line <= index.size(),
              "an entry's line is in the file, after the header");
        check(entry.line > lastLine, "entries come in line order");
        lastLine = entry.line;
        switch (entry.kind) {
        case tovik::RegFileEntryKind::Value: checkValueRoundTrip(entry); break;
        case tovik::RegFileEntryKind::Malformed:
            check(!tovik::RegFileProblemText(entry.problem).empty(), "every problem has a text");
            break;
        case tovik::RegFileEntryKind::Key:
        case tovik::RegFileEntryKind::DeleteKey:
            check(entry.root >= HKEY_CLASSES_ROOT && entry.root <= HKEY_LOCAL_MACHINE, "keys are under the roots");
            break;
        default: break;
        }
    }
    if (reader.format() == tovik::RegFileFormat::Regedit4 || reader.format() == tovik::RegFileFormat::Version5) {
        check(reader.position() == text.text.size(), "the reader reads to the end");
        check(reader.lineCount() == index.size(), "the reader and the index count the same lines");
    }

    // A fresh store per input: each import starts from the same empty registry.
    tovik::openInMemoryRegistryStore();
    const tovik::RegFileImportReport report = tovik::importRegFileText(text.text);
    check(report.problems.size() <= tovik::kRegFileReportedProblems, "the problems kept are bounded");
    check(report.keysWritten + report.valuesWritten + report.skipped() + report.failed() <= index.size(),
          "every line is counted at most once");
    const std::vector<Bytes> first = exportAll();
    tovik::openInMemoryRegistryStore();
    for (const Bytes& file : first) {
        const tovik::RegFileImportReport again = tovik::importRegFileBytes(file.data(), file.size());
        check(again.failed() == 0 && again.skipped() == 0, "an export imports without problems");
    }
    check(exportAll() == first, "an export imported again exports the same");
    tovik::closeRegistryStore();
    return 0;
}
