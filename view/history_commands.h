#pragma once
// 編集 > 元に戻す, やり直し and 変更履歴... beside the view: take back the registry's recorded
// changes, make them again, and list them. Every command of the view runs inside a change scope
// named after it, so that one command is one entry of the history.
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "history/history_file.h"

class CHistoryDlg;
class CTovikView;

namespace tovik::history {
struct UndoOutcome;
}

class HistoryCommands : public QObject {
public:
    explicit HistoryCommands(CTovikView& view);

    void OnUndo();
    void OnRedo();
    void OnHistory();
    bool OnUpdateUndo() const;
    bool OnUpdateRedo() const;
    bool OnUpdateHistory() const;
    // The menu items' texts, naming what they would take back: "元に戻す: キー 削除".
    QString undoText() const;
    QString redoText() const;
    // Undoes every entry back to and including id (the history window's choice).
    void undoThrough(std::int64_t id);

    // What an entry's command is called in the interface's language.
    static QString entryName(const tovik::history::EntryInfo& entry);
    // The name a view command's entry is given; empty for commands that change nothing.
    static QString commandName(int id);
    CHistoryDlg* dialog() const;

private:
    // Shows the outcome: the view re-read on success, the reason otherwise.
    void finish(const tovik::history::UndoOutcome& outcome, bool undo);
    CTovikView& m_view;
    QPointer<CHistoryDlg> m_dialog;
};
