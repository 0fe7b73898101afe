#pragma once
// EditBuffer on the dialogs' Qt edits, so that the keypads and rules work on the real controls.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "editors/edit_buffer.h"
#include "ui/qt_text.h"

class LineEditBuffer final : public EditBuffer {
public:
    explicit LineEditBuffer(QLineEdit* edit) : edit_(edit) {}

    EditSelection getSel() const override {
        if (edit_->hasSelectedText())
            return {static_cast<std::size_t>(edit_->selectionStart()), static_cast<std::size_t>(edit_->selectionEnd())};
        const auto caret = static_cast<std::size_t>(edit_->cursorPosition());
        return {caret, caret};
    }
    void setSel(std::size_t start, std::size_t end) override {
        const auto length = static_cast<std::size_t>(edit_->text().size());
        start = std::min(start, length);
        end = std::min(end, length);
        if (start > end) std::swap(start, end);
        if (start == end)
            edit_->setCursorPosition(static_cast<int>(start));
        else
            edit_->setSelection(static_cast<int>(start), static_cast<int>(end - start));
    }
    void replaceSel(std::u16string_view text) override { edit_->insert(toQString(text)); }
    std::u16string getText() const override { return toU16(edit_->text()); }
    void setText(std::u16string_view text) override { edit_->setText(toQString(text)); }

private:
    QLineEdit* edit_;
};

// Positions count the document's characters, each line break being one.
class PlainTextEditBuffer final : public EditBuffer {
public:
    explicit PlainTextEditBuffer(QPlainTextEdit* edit) : edit_(edit) {}

    EditSelection getSel() const override {
        const QTextCursor cursor = edit_->textCursor();
        return {static_cast<std::size_t>(cursor.selectionStart()), static_cast<std::size_t>(cursor.selectionEnd())};
    }
    void setSel(std::size_t start, std::size_t end) override {
        const auto last = static_cast<std::size_t>(std::max(0, edit_->document()->characterCount() - 1));
        QTextCursor cursor(edit_->document());
        cursor.setPosition(static_cast<int>(std::min(start, last)));
        cursor.setPosition(static_cast<int>(std::min(end, last)), QTextCursor::KeepAnchor);
        edit_->setTextCursor(cursor);
    }
    void replaceSel(std::u16string_view text) override {
        QTextCursor cursor = edit_->textCursor();
        cursor.insertText(toQString(text));
        edit_->setTextCursor(cursor);
    }
    std::u16string getText() const override { return toU16(edit_->document()->toRawText()); }
    void setText(std::u16string_view text) override { edit_->setPlainText(toQString(text)); }
    void scrollCaret() override { edit_->ensureCursorVisible(); }

private:
    QPlainTextEdit* edit_;
};
