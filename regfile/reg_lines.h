#pragma once
// The lines of a decoded .reg file for a confirmation display: one offset per line into the text,
// no copy of any line.
#include <cstddef>
#include <string_view>
#include <vector>

namespace tovik {

class RegFileLineIndex {
public:
    // text must outlive the index. Lines end in CR LF, LF or CR, as the reader splits them.
    explicit RegFileLineIndex(std::u16string_view text);

    std::size_t size() const { return starts_.size(); }
    // Line i (0-based; the header is line 0) without its line end.
    std::u16string_view line(std::size_t i) const;

private:
    std::u16string_view text_;
    std::vector<std::size_t> starts_;
};

}  // namespace tovik
