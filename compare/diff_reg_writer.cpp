#include "compare/diff_reg_writer.h"

#include <utility>

#include "registry/value_types.h"

namespace tovik {

DiffRegWriter::DiffRegWriter(RegFileWriter& writer, HKEY root, std::u16string base, bool reverse)
    : writer_(writer), root_(root), base_(std::move(base)), reverse_(reverse) {}

void DiffRegWriter::writeKeyLine(std::u16string_view path, bool deletion) {
    full_ = base_;
    if (!full_.empty() && !path.empty()) full_ += u'\\';
    full_ += path;
    if (deletion) {
        writer_.writeDeleteKey(root_, full_);
        haveKeyLine_ = false;  // values after a deletion belong to no key: the next needs its line
    } else {
        writer_.writeKey(root_, full_);
        lastKey_.assign(path);
        haveKeyLine_ = true;
    }
}

void DiffRegWriter::ensureKeyLine(std::u16string_view path) {
    if (!haveKeyLine_ || lastKey_ != path) writeKeyLine(path, false);
}

bool DiffRegWriter::onDifference(const Difference& given) {
    const Difference d = reverse_ ? reversed(given) : given;
    switch (d.kind) {
    case DifferenceKind::KeyOnlyInA:
        // One line deletes the whole subtree; the keys below it need none.
        if (!d.belowOneSidedKey) writeKeyLine(d.path, true);
        break;
    case DifferenceKind::KeyOnlyInB:
        writeKeyLine(d.path, false);  // every key, so that empty ones are made too
        break;
    case DifferenceKind::ValueOnlyInA:
        if (d.belowOneSidedKey) break;
        ensureKeyLine(d.path);
        writer_.writeDeleteValue(d.name);
        break;
    case DifferenceKind::ValueOnlyInB:
    case DifferenceKind::ValueChanged: {
        ensureKeyLine(d.path);
        // Strings as Windows' tools write them: a string kept without its zero (the Tovik
        // store) then reads as text, and imports as it would have from hex(1) anyway.
        const Bytes data = terminatedStringData(d.b.type, Bytes(d.b.data, d.b.data + d.b.size));
        writer_.writeValue(d.name, d.b.type, data.data(), data.size());
        break;
    }
    case DifferenceKind::KeySame:
    case DifferenceKind::ValueSame: break;
    }
    return writer_.ok();
}

}  // namespace tovik
