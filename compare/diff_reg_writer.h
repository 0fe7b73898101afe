#pragma once
// The .reg file that turns side A of a comparison into side B: deletions of the keys only in A,
// the keys only in B with their values, and for keys on both sides the values to write or
// delete. Imported into A's registry, it leaves a tree whose comparison with B is empty.
#include <string>
#include <string_view>

#include "compare/tree_compare.h"
#include "regfile/reg_writer.h"
#include "registry/win_types.h"

namespace tovik {

class DiffRegWriter final : public DifferenceSink {
public:
    // root\base: the key of the side the file is for (A; B when reverse), which the lines name.
    // With reverse the file turns B into A. The caller writes the header and finishes the writer.
    DiffRegWriter(RegFileWriter& writer, HKEY root, std::u16string base, bool reverse = false);

    bool onDifference(const Difference& difference) override;

private:
    void writeKeyLine(std::u16string_view path, bool deletion);
    void ensureKeyLine(std::u16string_view path);

    RegFileWriter& writer_;
    HKEY root_;
    std::u16string base_;
    bool reverse_;
    std::u16string full_;     // scratch: base_ with a path below it
    std::u16string lastKey_;  // the path of the last key line written
    bool haveKeyLine_ = false;
};

}  // namespace tovik
