// The backup reader on untrusted bytes: the bytes after the byte order mark are split into lines
// (at once and in pieces), every line is classified and parsed, and the whole file is imported
// into an empty in-memory store, which is then walked end to end and emptied again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "backup/backup_format.h"
#include "backup/backup_import.h"
#include "registry/key_enum.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// Piece sizes taken from the data itself, so that every block and unit boundary gets split.
void checkSplittingInPieces(const std::uint8_t* data, std::size_t size, const std::vector<std::u16string>& whole) {
    tovik::BackupTextSplitter splitter;
    std::size_t at = 0;
    std::size_t step = size > 0 ? data[0] % 9 + 1 : 1;
    while (at < size) {
        const std::size_t piece = std::min(step, size - at);
        splitter.feed(data + at, piece);
        at += piece;
        step = data[at - 1] % 1500 + 1;
    }
    check(splitter.takeLines() == whole, "lines split in pieces equal the lines split at once");
}

void checkKeyLine(std::u16string_view line) {
    const tovik::BackupKeyPaths paths = tovik::ParseKeyLine(line);
    // First and last characters go; a quote, if any, belongs to neither path.
    const std::size_t rest = line.size() >= 2 ? line.size() - 2 : 0;
    const bool quoted = line.size() >= 2 && line.substr(1, rest).find(u'"') != std::u16string_view::npos;
    check(paths.parentPath.size() + paths.createPath.size() + (quoted ? 1 : 0) == rest,
          "key line paths cover the line");
    check(paths.createPath.find(u'"') == std::u16string::npos, "the path to create holds no quote");
}

// A parsed value line written out again and read back gives the same value, unless its data text
// holds "=" (the reader splits at the last one: a documented loss of the format).
void checkValueLine(std::u16string_view line) {
    const tovik::BackupValue value = tovik::ParseValueLine(line);
    if (value.ignored || !value.tagFound) {
        check(value.data.empty(), "no data without a known tag");
        return;
    }
    switch (value.type) {
    case REG_DWORD: check(value.data.size() == 4, "DW data is four bytes"); break;
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: check(value.data.size() % 2 == 0, "string data is whole units"); break;
    default: break;
    }
    const std::u16string again = tovik::backupValueLine(value.name, value.type, value.data.data(), value.data.size());
    const std::size_t colon = again.find(u':', again.rfind(u"\"=") + 2);
    if (again.find(u'=', colon) != std::u16string::npos) return;
    // String data stops at its first zero unit when written; zero units come only from "|" (MLT).
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
        for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
            if (value.data[i] == 0 && value.data[i + 1] == 0) return;
        }
    }
    const tovik::BackupValue back = tovik::ParseValueLine(again);
    check(!back.ignored && back.tagFound && back.type == value.type, "a written value line keeps its type");
    check(back.name == value.name, "a written value line keeps its name");
    check(back.data == value.data, "a written value line keeps its data");
}

// Every key and value of the store can be read back; the walk is iterative.
void walkStore() {
    struct Level {
        HKEY key;
        DWORD index;
    };
    std::vector<Level> stack;
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) stack.push_back({root, 0});
    static tovik::EnumBuffers buffers;  // kept from input to input, as in EmptyStore
    std::size_t keys = 0;
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.index == 0) {
            tovik::EnumeratedValue value;
            for (DWORD v = 0;; ++v) {
                const LONG rc = tovik::enumValue(level.key, v, buffers, value);
                check(rc == ERROR_SUCCESS || rc == ERROR_NO_MORE_ITEMS, "values enumerate");
                if (rc != ERROR_SUCCESS) break;
                check(value.name.size() <= static_cast<std::size_t>(kMaxValueNameLength),
                      "value names stay in the limit");
            }
        }
        std::u16string_view listed;
        const LONG rc = tovik::enumSubkeyName(level.key, level.index, buffers, listed);
        check(rc == ERROR_SUCCESS || rc == ERROR_NO_MORE_ITEMS, "subkeys enumerate");
        if (rc != ERROR_SUCCESS) {
            if ((level.key & 0x80000000u) == 0) RegCloseKey(level.key);  // roots stay open
            stack.pop_back();
            continue;
        }
        check(!listed.empty() && listed.size() <= static_cast<std::size_t>(kMaxKeyNameLength),
              "key names stay in the limit");
        ++level.index;
        HKEY child = 0;
        check(RegOpenKeyExW(level.key, listed.data(), 0, 0, &child) == ERROR_SUCCESS, "an enumerated key opens");
        check(++keys <= 1000000, "the walk ends");
        stack.push_back({child, 0});
        check(stack.size() <= static_cast<std::size_t>(kMaxKeyDepth) + 3, "keys stay within the depth limit");
    }
}

// Empties the store for the next input: far cheaper than a new store, whose statements would all
// be prepared again.
void emptyStore() {
    // Made once: filling a buffer of the longest name for every input took a quarter of the time.
    static std::u16string name(kMaxValueNameLength + 1, u'\0');
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        check(DeleteSubkeys(root, u"").failed == 0, "every imported key can be deleted");
        for (;;) {
            DWORD length = static_cast<DWORD>(name.size());
            if (RegEnumValueW(root, 0, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            check(RegDeleteValueW(root, name.c_str()) == ERROR_SUCCESS, "every imported value can be deleted");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::u16string> lines = tovik::SplitBackupText(data, size);
    checkSplittingInPieces(data, size, lines);

    for (std::size_t i = 2; i < lines.size(); ++i) {
        switch (tovik::classifyBackupLine(lines[i])) {
        case tovik::BackupLineKind::Key: checkKeyLine(lines[i]); break;
        case tovik::BackupLineKind::Value: checkValueLine(lines[i]); break;
        default: break;
        }
    }

    std::vector<std::uint8_t> file{0xFF, 0xFE};
    file.insert(file.end(), data, data + size);
    if (!tovik::hasRegistryStore()) tovik::openInMemoryRegistryStore();
    const tovik::ImportResult result = tovik::importBackup(file.data(), file.size());
    const std::size_t dataLines = lines.size() > 2 ? lines.size() - 2 : 0;
    check(result.keysCreated + result.valuesWritten + result.linesSkipped() <= dataLines,
          "every line is counted at most once");
    if (result.outcome == tovik::ImportOutcome::BrokenLine) {
        check(result.brokenLineNumber >= 3 && result.brokenLineNumber <= lines.size(),
              "the broken line is in the file");
        check(lines[result.brokenLineNumber - 1] == result.brokenLine, "the broken line is the one reported");
    }
    walkStore();
    emptyStore();
    return 0;
}
