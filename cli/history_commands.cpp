// history, undo and redo: the change history of the registry named, as the window's 変更履歴 shows it.
#include <ctime>
#include <ostream>

#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/utf8.h"
#include "history/recording_backend.h"
#include "history/undo_redo.h"
#include "registry/key_path.h"

namespace tovik::cli {

namespace {

std::string localTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

history::RecordingBackend* currentRecorder(std::ostream& err) {
    history::RecordingBackend* recorder = history::currentRecorder();
    if (!recorder) {
        reportError(err, say({"the changes of this registry are not recorded: its history could not be opened.",
                              "このレジストリの変更は記録されていません: 変更履歴を開けませんでした。"}));
    }
    return recorder;
}

int report(const history::UndoOutcome& outcome, const Message& done, std::ostream& out, std::ostream& err) {
    if (!outcome.ok) {
        reportError(err, outcome.error);
        return kExitFailure;
    }
    out << say(done, {count(outcome.entries, {"%1 change", "%1件の変更"}, {"%1 changes", "%1件の変更"})}) << '\n';
    return kExitSuccess;
}

}  // namespace

std::u16string historyEntryName(const Command& command) {
    const auto quoted = [](std::u16string_view name) {
        return u"\"" + std::u16string(name.empty() ? u"@" : name) + u"\"";
    };
    const std::u16string key = fullKeyPath(command.key.root, command.key.path);
    switch (command.kind) {
    case CommandKind::Set: return u"set " + key + u" " + quoted(command.valueName);
    case CommandKind::DeleteValue: return u"delete-value " + key + u" " + quoted(command.valueName);
    case CommandKind::AddKey: return u"add-key " + key;
    case CommandKind::DeleteKey: return u"delete-key " + key;
    case CommandKind::RenameKey: return u"rename-key " + key + u" " + command.newName;
    case CommandKind::RenameValue:
        return u"rename-value " + key + u" " + quoted(command.valueName) + u" " + quoted(command.newName);
    case CommandKind::Import: {
        // A file name is bytes; shown as text where it is UTF-8.
        const std::optional<std::u16string> file = utf8ToUtf16(command.fileName);
        return u"import " + file.value_or(u"(a file)");
    }
    default: return u"change";
    }
}

int runHistory(const Command& command, std::ostream& out, std::ostream& err) {
    history::RecordingBackend* recorder = currentRecorder(err);
    if (!recorder) return kExitFailure;
    const std::u16string key = command.hasKey ? fullKeyPath(command.key.root, command.key.path) : std::u16string();
    for (const history::EntryInfo& entry : recorder->file().list(static_cast<std::int64_t>(command.shown), key)) {
        out << entry.id << '\t' << localTime(entry.time) << '\t' << utf16ToUtf8(entry.command) << '\t'
            << utf16ToUtf8(entry.key);
        if (entry.undone)
            out << "\tundone";
        else if (entry.redone)
            out << "\tredone";
        out << '\n';
    }
    if (const history::DroppedEntries dropped = recorder->file().dropped(); dropped.count > 0) {
        const Message one{"%1 older entry was dropped from the history (the newest of them from %2).",
                          "古い%1件は変更履歴から削除されました（そのうち最も新しいものは %2）。"};
        const Message many{"%1 older entries were dropped from the history (the newest of them from %2).",
                           "古い%1件は変更履歴から削除されました（そのうち最も新しいものは %2）。"};
        out << say(dropped.count == 1 ? one : many, {std::to_string(dropped.count), localTime(dropped.newestTime)})
            << '\n';
    }
    return kExitSuccess;
}

int runUndo(const Command& command, std::ostream& out, std::ostream& err) {
    history::RecordingBackend* recorder = currentRecorder(err);
    if (!recorder) return kExitFailure;
    return report(history::undoChanges(*recorder, command.count), {"undone: %1.", "元に戻しました: %1。"}, out, err);
}

int runRedo(const Command& command, std::ostream& out, std::ostream& err) {
    history::RecordingBackend* recorder = currentRecorder(err);
    if (!recorder) return kExitFailure;
    return report(history::redoChanges(*recorder, command.count), {"redone: %1.", "やり直しました: %1。"}, out, err);
}

}  // namespace tovik::cli
