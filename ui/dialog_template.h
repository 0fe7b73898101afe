#pragma once
// Places an editor's controls where its dialog template puts them. Template rectangles are in
// dialog units: a quarter of the font's average Latin character width across, an eighth of its
// height down. Both are scaled alike so that the dialog fills a small portrait screen's width,
// which also makes the keypad keys large enough to tap with a stylus.
#include <QEvent>
#include <QFont>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRect>
#include <QString>
#include <QTextCursor>
#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

class DialogUnits {
public:
    // The width a dialog fills: a 360-pixel portrait screen less the window's border.
    static constexpr int kPortraitWidth = 344;

    DialogUnits(const QFont& font, int templateWidth) {
        const QFontMetricsF metrics(font);
        const double baseX =
            metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0 /
            4.0;
        const double baseY = metrics.height() / 8.0;
        const double scale = std::max(1.0, kPortraitWidth / (templateWidth * baseX));
        unitX_ = baseX * scale;
        unitY_ = baseY * scale;
    }

    int pixelsX(int units) const { return static_cast<int>(std::lround(units * unitX_)); }
    int pixelsY(int units) const { return static_cast<int>(std::lround(units * unitY_)); }
    QRect rect(int x, int y, int width, int height) const {
        return QRect(pixelsX(x), pixelsY(y), pixelsX(x + width) - pixelsX(x), pixelsY(y + height) - pixelsY(y));
    }
    QSize size(int width, int height) const { return QSize(pixelsX(width), pixelsY(height)); }

private:
    double unitX_ = 1;
    double unitY_ = 1;
};

// A label that shows its text as it stands, never as markup.
inline QLabel* placeLabel(QWidget* dialog, const QString& text, QRect rect) {
    auto* label = new QLabel(text, dialog);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(rect);
    return label;
}

// A keypad key never takes the focus, so that the edit it types into keeps its caret and selection.
inline QPushButton* placeKeypadKey(QWidget* dialog, const QString& text, QRect rect) {
    auto* key = new QPushButton(text, dialog);
    key->setFocusPolicy(Qt::NoFocus);
    key->setAutoDefault(false);
    key->setGeometry(rect);
    return key;
}

// A dialog's multi-line edit: Enter acts as the OK button, as in the one-line edits; Ctrl+Enter
// or Shift+Enter starts a new line; Tab moves to the next control. Lines wrap at the right edge.
class DialogTextEditKeys : public QObject {
public:
    DialogTextEditKeys(QPlainTextEdit* edit, std::function<void()> onEnter)
        : QObject(edit), edit_(edit), onEnter_(std::move(onEnter)) {
        edit->setTabChangesFocus(true);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != edit_ || event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
        if (key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) {
            // A block break, not the line separator that Shift+Enter would give.
            if (!edit_->isReadOnly()) {
                QTextCursor cursor = edit_->textCursor();
                cursor.insertBlock();
                edit_->setTextCursor(cursor);
            }
        } else {
            onEnter_();
        }
        return true;
    }

private:
    QPlainTextEdit* edit_;
    std::function<void()> onEnter_;
};
