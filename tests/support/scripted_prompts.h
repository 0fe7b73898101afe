#pragma once
// Answers the view's message boxes and dialogs from a script, and records what was asked.
#include <QDialog>
#include <QStringList>
#include <deque>
#include <functional>

#include "ui/prompts.h"

struct ScriptedPrompts : ViewPrompts {
    QStringList messages;               // every message box text, in order
    std::deque<int> answers;            // IDYES / IDNO for Yes-No boxes; IDYES when empty
    std::deque<QString> fileNames;      // answers of the file and folder dialogs; "" = cancelled
    std::deque<QString> chosenFilters;  // the save dialog's chosen filter; none = the first
    QStringList filters;                // the filter list of every file dialog ("" for a folder), in order
    std::deque<std::function<int(QDialog&)>> dialogs;  // fills and closes each modal dialog
    int dialogCount = 0;

    int messageBox(QWidget*, const QString& text, MessageButtons buttons) override {
        messages << text;
        if (buttons == MessageButtons::Ok) return IDOK;
        if (answers.empty()) return IDYES;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    QString saveFileName(QWidget*, const QString& filter, QString* selectedFilter) override {
        filters << filter;
        if (selectedFilter != nullptr) {
            *selectedFilter = filter.section(QStringLiteral(";;"), 0, 0);
            if (!chosenFilters.empty()) {
                *selectedFilter = chosenFilters.front();
                chosenFilters.pop_front();
            }
        }
        return nextFile();
    }
    QString openFileName(QWidget*, const QString& filter) override {
        filters << filter;
        return nextFile();
    }
    QString existingFolder(QWidget*) override {
        filters << QString();
        return nextFile();
    }
    int DoModal(QDialog& dialog) override {
        ++dialogCount;
        if (dialogs.empty()) return IDCANCEL;
        auto script = std::move(dialogs.front());
        dialogs.pop_front();
        return script(dialog);
    }

private:
    QString nextFile() {
        if (fileNames.empty()) return {};
        QString name = fileNames.front();
        fileNames.pop_front();
        return name;
    }
};
