#include "editors/edit_buffer.h"

#include <algorithm>
#include <utility>

MemoryEditBuffer::MemoryEditBuffer(std::u16string text)
    : text_(std::move(text)), selection_{text_.size(), text_.size()} {}

void MemoryEditBuffer::setSel(std::size_t start, std::size_t end) {
    start = std::min(start, text_.size());
    end = std::min(end, text_.size());
    if (start > end) std::swap(start, end);
    selection_ = {start, end};
}

void MemoryEditBuffer::replaceSel(std::u16string_view text) {
    text_.replace(selection_.start, selection_.end - selection_.start, text);
    const std::size_t caret = selection_.start + text.size();
    selection_ = {caret, caret};
    changed();
}

void MemoryEditBuffer::setText(std::u16string_view text) {
    text_.assign(text);
    selection_ = {text_.size(), text_.size()};
    changed();
}

void MemoryEditBuffer::changed() {
    if (onChange) onChange();
}
