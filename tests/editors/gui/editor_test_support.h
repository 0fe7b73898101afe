#pragma once
// Helpers for driving the editors as a user does: tapping buttons, typing into edits.
#include <QDialog>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "ui/prompts.h"

// The button that shows this text; null, with a warning, unless exactly one does.
inline QPushButton* buttonWithText(QWidget& dialog, const QString& text) {
    QPushButton* found = nullptr;
    int count = 0;
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == text) {
            found = button;
            ++count;
        }
    if (count != 1) qWarning("%d buttons show \"%s\"", count, qPrintable(text));
    return count == 1 ? found : nullptr;
}

inline void tap(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton);
}

// Selects all of a focused edit's text and types text in its place, key by key.
inline void typeOver(QWidget* edit, const QString& text) {
    tap(edit);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
    else
        QTest::keyClicks(edit, text);
}

// Records the message boxes and answers the file dialogs from a list ("" or none: cancelled).
struct RecordingPrompts : ViewPrompts {
    QStringList messages;
    QStringList fileAnswers;
    QStringList fileFilters;

    int messageBox(QWidget*, const QString& text, MessageButtons) override {
        messages << text;
        return IDOK;
    }
    QString openFileName(QWidget*, const QString& filter) override {
        fileFilters << filter;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }
};

// Shows a dialog as the user meets it: opened and the active window.
inline bool showActive(QWidget& dialog) {
    dialog.show();
    return QTest::qWaitForWindowActive(&dialog);
}

// Queues a script to act in the dialog once its modal run has started. Whatever the script leaves
// open is cancelled, so that a refused OK fails the test instead of hanging it.
inline void whenShown(QDialog& dialog, std::function<void()> script) {
    QTimer::singleShot(0, &dialog, [&dialog, script] {
        script();
        if (dialog.isVisible()) dialog.reject();
    });
}
