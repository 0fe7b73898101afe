#pragma once
// The text and selection of one edit control, as the editors' logic sees it. The keypads and the
// number rules work on this interface; the dialogs back it with their Qt edits, the tests with
// MemoryEditBuffer.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

struct EditSelection {
    std::size_t start = 0;
    std::size_t end = 0;  // start == end: the caret
    bool operator==(const EditSelection&) const = default;
};

class EditBuffer {
public:
    virtual ~EditBuffer() = default;
    virtual EditSelection getSel() const = 0;
    // Positions past the end count as the end; the two positions may come in either order.
    virtual void setSel(std::size_t start, std::size_t end) = 0;
    // The selected characters give way to text; the caret then stands just after the text.
    virtual void replaceSel(std::u16string_view text) = 0;
    virtual std::u16string getText() const = 0;
    virtual void setText(std::u16string_view text) = 0;
    // Brings the caret into view; nothing to do without a window.
    virtual void scrollCaret() {}
};

// An edit without a window. onChange, when set, runs after every change of the text, as an edit
// control notifies its dialog.
class MemoryEditBuffer final : public EditBuffer {
public:
    MemoryEditBuffer() = default;
    // The caret stands at the end of the text.
    explicit MemoryEditBuffer(std::u16string text);

    EditSelection getSel() const override { return selection_; }
    void setSel(std::size_t start, std::size_t end) override;
    void replaceSel(std::u16string_view text) override;
    std::u16string getText() const override { return text_; }
    // The caret stands at the end of the new text.
    void setText(std::u16string_view text) override;

    std::function<void()> onChange;

private:
    void changed();

    std::u16string text_;
    EditSelection selection_;
};
