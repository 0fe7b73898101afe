#pragma once
// Trees built straight through a Backend, and a sink that writes each difference as one line, for
// the comparison's tests.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "compare/tree_compare.h"
#include "registry/key_path.h"
#include "registry/utf8.h"
#include "registry/value_types.h"
#include "stores/sqlite/sqlite_store.h"

namespace tovik::test {

inline KeyId makeKeyIn(Backend& backend, HKEY root, std::u16string_view path) {
    KeyId key = backend.rootKey(root);
    const std::vector<std::u16string_view> names = splitKeyPath(path);
    if (names.empty()) return key;
    bool created = false;
    if (backend.createKeys(key, 0, names, key, created) != ERROR_SUCCESS) throw std::runtime_error("createKeys");
    return key;
}

inline void setValueIn(Backend& backend, HKEY root, std::u16string_view path, std::u16string_view name, DWORD type,
                       const Bytes& data) {
    const KeyId key = makeKeyIn(backend, root, path);
    if (backend.setValue(key, name, type, data.data(), static_cast<DWORD>(data.size())) != ERROR_SUCCESS)
        throw std::runtime_error("setValue");
}

// "-key P", "+key P", "=key P", "-val P:N", "+val P:N", "~val P:N", "=val P:N"; a trailing " (below)"
// for entries below a key only on one side.
class LineSink final : public DifferenceSink {
public:
    bool onDifference(const Difference& d) override {
        std::string line;
        switch (d.kind) {
        case DifferenceKind::KeyOnlyInA: line = "-key "; break;
        case DifferenceKind::KeyOnlyInB: line = "+key "; break;
        case DifferenceKind::KeySame: line = "=key "; break;
        case DifferenceKind::ValueOnlyInA: line = "-val "; break;
        case DifferenceKind::ValueOnlyInB: line = "+val "; break;
        case DifferenceKind::ValueChanged: line = "~val "; break;
        case DifferenceKind::ValueSame: line = "=val "; break;
        }
        line += utf16ToUtf8(d.path);
        if (!d.isKey()) line += ":" + utf16ToUtf8(d.name);
        if (d.belowOneSidedKey) line += " (below)";
        lines.push_back(line);
        return stopAfter == 0 || lines.size() < stopAfter;
    }
    std::vector<std::string> lines;
    std::size_t stopAfter = 0;
};

inline std::vector<std::string> diffLines(const CompareSide& a, const CompareSide& b, bool reportSame = false) {
    LineSink sink;
    CompareOptions options;
    options.reportSame = reportSame;
    const CompareResult result = compareKeyTrees(a, b, sink, options);
    if (result.outcome != CompareOutcome::Done) throw std::runtime_error("comparison did not finish");
    return sink.lines;
}

}  // namespace tovik::test
