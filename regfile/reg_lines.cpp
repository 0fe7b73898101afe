#include "regfile/reg_lines.h"

namespace tovik {

RegFileLineIndex::RegFileLineIndex(std::u16string_view text) : text_(text) {
    for (std::size_t at = 0; at < text.size();) {
        starts_.push_back(at);
        while (at < text.size() && text[at] != u'\r' && text[at] != u'\n') ++at;
        if (at < text.size()) at += (text[at] == u'\r' && at + 1 < text.size() && text[at + 1] == u'\n') ? 2 : 1;
    }
}

std::u16string_view RegFileLineIndex::line(std::size_t i) const {
    const std::size_t start = starts_[i];
    std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : text_.size();
    // The line end is CR LF, or a single CR or LF (a CR before an LF always pairs with it).
    if (end > start && (text_[end - 1] == u'\n' || text_[end - 1] == u'\r')) {
        --end;
        if (text_[end] == u'\n' && end > start && text_[end - 1] == u'\r') --end;
    }
    return text_.substr(start, end - start);
}

}  // namespace tovik
