#include "view/history_commands.h"

#include "history/recording_backend.h"
#include "history/undo_redo.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/command_ids.h"
#include "view/history_dlg.h"
#include "view/tovik_view.h"

namespace history = tovik::history;

namespace {

// The next entry an undo (or a redo) would take back, when the registry is recorded.
std::optional<history::EntryInfo> next(bool undo) {
    history::RecordingBackend* recorder = history::currentRecorder();
    if (!recorder || recorder->readOnly()) return std::nullopt;
    try {
        auto found = undo ? history::undoCandidates(recorder->file(), 1) : history::redoCandidates(recorder->file(), 1);
        if (!found.empty()) return found.front();
    } catch (const std::exception&) {}
    return std::nullopt;
}

// Where an undo was refused: the key, or the value of a key.
QString differenceText(const history::Difference& d) {
    const QString key = toQString(d.key);
    if (!d.isValue) return Tovik::tr("キー %1").arg(key);
    const QString name = d.value.empty() ? Tovik::tr("(既定)") : toQString(d.value);
    return Tovik::tr("%1 の値 %2").arg(key, name);
}

}  // namespace

HistoryCommands::HistoryCommands(CTovikView& view) : QObject(&view), m_view(view) {}

CHistoryDlg* HistoryCommands::dialog() const {
    return m_dialog.data();
}

QString HistoryCommands::commandName(int id) {
    switch (id) {
    case ID_DELETE_VALUE: return Tovik::tr("値 削除");
    case ID_DELETE_KEY: return Tovik::tr("キー 削除");
    case ID_RENAME: return Tovik::tr("名前の変更");
    case ID_EDIT_BINARY_DATA: return Tovik::tr("バイナリデータの変更");
    case ID_ADD_KEY: return Tovik::tr("キーの追加");
    case ID_ADD_DWORD_VALUE: return Tovik::tr("値REG_DWの追加");
    case ID_ADD_MULTI_STRING_VALUE: return Tovik::tr("値REG_MULTI_SZの追加");
    case ID_ADD_STRING_VALUE: return Tovik::tr("値REG_SZの追加");
    case ID_ADD_OTHER_VALUE: return Tovik::tr("その他の値の追加");
    case ID_IMPORT: return Tovik::tr("インポート（取り込み）");
    default: return {};
    }
}

QString HistoryCommands::entryName(const history::EntryInfo& entry) {
    const std::u16string& command = entry.command;
    // Entries that no command named (a value edited in place) are named after their first
    // change in English words; undos and redos after what they took back.
    struct Prefix {
        std::u16string_view english;
        const char* japanese;
    };
    static const Prefix kPrefixes[] = {
        {u"undo: ", QT_TRANSLATE_NOOP("Tovik", "元に戻す: %1")},
        {u"redo: ", QT_TRANSLATE_NOOP("Tovik", "やり直し: %1")},
        {u"set value ", QT_TRANSLATE_NOOP("Tovik", "値の変更 %1")},
        {u"delete value ", QT_TRANSLATE_NOOP("Tovik", "値 削除 %1")},
        {u"create key", QT_TRANSLATE_NOOP("Tovik", "キーの追加%1")},
        {u"delete key", QT_TRANSLATE_NOOP("Tovik", "キー 削除%1")},
        {u"rename key to ", QT_TRANSLATE_NOOP("Tovik", "名前の変更 %1")},
        {u"rename value ", QT_TRANSLATE_NOOP("Tovik", "名前の変更 %1")},
    };
    for (const Prefix& p : kPrefixes) {
        if (command.starts_with(p.english)) {
            history::EntryInfo inner = entry;
            inner.command = command.substr(p.english.size());
            const QString rest = p.english.starts_with(u"undo") || p.english.starts_with(u"redo")
                                     ? entryName(inner)
                                     : toQString(inner.command);
            return Tovik::tr(p.japanese).arg(rest);
        }
    }
    if (command.starts_with(u"undo ")) return Tovik::tr("元に戻す (%1 件)").arg(entry.targets.size());
    if (command.starts_with(u"redo ")) return Tovik::tr("やり直し (%1 件)").arg(entry.targets.size());
    return toQString(command);
}

bool HistoryCommands::OnUpdateUndo() const {
    return next(true).has_value();
}

bool HistoryCommands::OnUpdateRedo() const {
    return next(false).has_value();
}

bool HistoryCommands::OnUpdateHistory() const {
    return history::currentRecorder() != nullptr;
}

QString HistoryCommands::undoText() const {
    const std::optional<history::EntryInfo> entry = next(true);
    return entry ? Tovik::tr("元に戻す: %1").arg(entryName(*entry)) : Tovik::tr("元に戻す");
}

QString HistoryCommands::redoText() const {
    const std::optional<history::EntryInfo> entry = next(false);
    if (!entry) return Tovik::tr("やり直し");
    // A redo makes again what its undo took back: named after that.
    history::EntryInfo undone = *entry;
    if (undone.command.starts_with(u"undo: ")) undone.command = undone.command.substr(6);
    return Tovik::tr("やり直し: %1").arg(entryName(undone));
}

void HistoryCommands::finish(const history::UndoOutcome& outcome, bool undo) {
    m_view.OnRefresh();
    m_view.setModified();
    if (outcome.ok) {
        if (m_dialog && m_dialog->isVisible()) OnHistory();
        return;
    }
    QString text;
    if (outcome.difference) {
        text = (undo ? Tovik::tr("元に戻せませんでした。この変更の後に、次のものが変更されています: %1")
                     : Tovik::tr("やり直せませんでした。元に戻した後に、次のものが変更されています: %1"))
                   .arg(differenceText(*outcome.difference));
    } else {
        text = (undo ? Tovik::tr("元に戻せませんでした。") : Tovik::tr("やり直せませんでした。")) + QLatin1Char('\n') +
               QString::fromStdString(outcome.error);
    }
    m_view.prompts().messageBox(&m_view, text, MessageButtons::Ok);
}

void HistoryCommands::OnUndo() {
    history::RecordingBackend* recorder = history::currentRecorder();
    if (!recorder) return;
    finish(history::undoChanges(*recorder, 1), true);
}

void HistoryCommands::OnRedo() {
    history::RecordingBackend* recorder = history::currentRecorder();
    if (!recorder) return;
    finish(history::redoChanges(*recorder, 1), false);
}

void HistoryCommands::undoThrough(std::int64_t id) {
    history::RecordingBackend* recorder = history::currentRecorder();
    if (!recorder) return;
    finish(history::undoThrough(*recorder, id), true);
}

void HistoryCommands::OnHistory() {
    history::RecordingBackend* recorder = history::currentRecorder();
    if (!recorder) return;
    if (!m_dialog) {
        m_dialog = new CHistoryDlg(&m_view);
        m_dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_dialog, &CHistoryDlg::undoThroughRequested, this, &HistoryCommands::undoThrough);
    }
    std::vector<std::int64_t> undoable;
    for (const history::EntryInfo& e : history::undoCandidates(recorder->file(), static_cast<std::size_t>(-1)))
        undoable.push_back(e.id);
    m_dialog->setEntries(recorder->file().list(-1), undoable, recorder->file().dropped());
    m_dialog->show();
    m_dialog->raise();
}
