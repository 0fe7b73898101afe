#include "history/undo_redo.h"

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <unordered_set>

#include "history/recording_backend.h"
#include "registry/registry_store.h"

namespace tovik::history {

std::vector<EntryInfo> undoCandidates(HistoryFile& file, std::size_t count) {
    if (count == 0) return {};
    return file.undoable(count > static_cast<std::size_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(count));
}

std::vector<EntryInfo> redoCandidates(HistoryFile& file, std::size_t count) {
    std::vector<EntryInfo> found;
    if (count == 0) return found;
    // The walk usually ends within the newest few entries: read those first, all only if needed.
    for (const std::int64_t page : {std::int64_t{64}, std::int64_t{-1}}) {
        found.clear();
        const std::vector<EntryInfo> entries = file.list(page);
        bool ended = page >= 0 && static_cast<std::int64_t>(entries.size()) < page;
        for (const EntryInfo& entry : entries) {
            if (entry.kind == EntryKind::Change) {  // a change since the undo ends what can be redone
                ended = true;
                break;
            }
            if (entry.kind != EntryKind::Undo || entry.redone) continue;
            found.push_back(entry);
            if (found.size() == count) {
                ended = true;
                break;
            }
        }
        if (ended || page < 0) break;
    }
    return found;
}

namespace {

// The changes of entries read from the history a part at a time, the oldest entry's first.
class HistorySource : public ChangeSource {
public:
    explicit HistorySource(HistoryFile& file) : file_(file) {}
    void addEntry(std::int64_t id) {
        for (std::int64_t seq : file_.partsOf(id)) parts_.push_back({id, seq});
    }
    std::size_t partCount() override { return parts_.size(); }
    std::vector<ChangeOp> part(std::size_t i) override {
        std::optional<std::vector<ChangeOp>> ops = file_.partOps(parts_.at(i).entry, parts_.at(i).seq);
        if (!ops) throw Unreadable();
        return std::move(*ops);
    }
    struct Unreadable : std::runtime_error {
        Unreadable() : std::runtime_error("The history of this change cannot be read.") {}
    };

private:
    struct Part {
        std::int64_t entry, seq;
    };
    HistoryFile& file_;
    std::vector<Part> parts_;
};

// Takes back the entries (newest first) as one entry of kind.
UndoOutcome revertEntries(RecordingBackend& recorder, const std::vector<EntryInfo>& entries, EntryKind kind) {
    UndoOutcome outcome;
    const char16_t* verb = kind == EntryKind::Undo ? u"undo" : u"redo";
    if (entries.empty()) {
        outcome.error = kind == EntryKind::Undo ? "There is nothing to undo." : "There is nothing to redo.";
        if (kind == EntryKind::Undo && recorder.file().dropped().count > 0)
            outcome.error += " Older changes were dropped from the history.";
        return outcome;
    }
    if (recorder.readOnly()) {
        outcome.error = "The registry is open read-only.";
        return outcome;
    }
    // The changes in the order they were made: the oldest entry's first.
    HistorySource changes(recorder.file());
    std::vector<std::int64_t> targets;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        changes.addEntry(it->id);
        targets.push_back(it->id);
    }
    std::u16string command = verb;
    if (entries.size() == 1) {
        // A redo is named after what it makes again, not after the undo it takes back.
        std::u16string_view what = entries.front().command;
        if (kind == EntryKind::Redo && what.starts_with(u"undo: ")) what.remove_prefix(6);
        command += u": ";
        command += what;
    } else {
        const std::string n = std::to_string(entries.size());
        command += u" " + std::u16string(n.begin(), n.end()) + u" changes";
    }
    try {
        recorder.beginScope(command, entries.front().key, kind, targets);
        struct EndScope {
            RecordingBackend& r;
            ~EndScope() { r.endScope(); }
        } endScope{recorder};
        // The check and the writes in one batch: no other writer comes between them.
        RegistryBatch batch;
        std::unordered_set<std::u16string> madeKeys;
        if (std::optional<Difference> difference = firstDifference(recorder, changes, madeKeys)) {
            outcome.difference = difference;
            outcome.error = (kind == EntryKind::Undo ? "Nothing was undone: " : "Nothing was redone: ") +
                            describeDifference(*difference);
            batch.finish();
            return outcome;
        }
        const LONG rc = applyReverse(recorder, changes, madeKeys);
        const bool kept = batch.finish();
        if (rc != ERROR_SUCCESS || !kept) {
            outcome.error = std::string(kind == EntryKind::Undo ? "The undo" : "The redo") +
                            " failed part-way; the history holds what was done.";
            if (const std::string why = recorder.lastFailure(); !why.empty()) outcome.error += " " + why;
            return outcome;
        }
    } catch (const BackendFailure&) {
        outcome.error = "The registry could not be read or written; nothing was undone.";
        return outcome;
    } catch (const HistorySource::Unreadable& e) {
        outcome.error = e.what();
        return outcome;
    } catch (const std::exception& e) {
        outcome.error = std::string("The change history failed: ") + e.what();
        return outcome;
    }
    outcome.ok = true;
    outcome.entries = entries.size();
    return outcome;
}

}  // namespace

UndoOutcome undoChanges(RecordingBackend& recorder, std::size_t count) {
    return revertEntries(recorder, undoCandidates(recorder.file(), count), EntryKind::Undo);
}

UndoOutcome redoChanges(RecordingBackend& recorder, std::size_t count) {
    return revertEntries(recorder, redoCandidates(recorder.file(), count), EntryKind::Redo);
}

UndoOutcome undoThrough(RecordingBackend& recorder, std::int64_t id) {
    std::vector<EntryInfo> entries = undoCandidates(recorder.file(), static_cast<std::size_t>(-1));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].id != id) continue;
        entries.resize(i + 1);
        return revertEntries(recorder, entries, EntryKind::Undo);
    }
    UndoOutcome outcome;
    outcome.error = "That change cannot be undone from here: it is undone already, or it is an undo.";
    return outcome;
}

}  // namespace tovik::history
