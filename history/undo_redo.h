#pragma once
// Undo and redo over the current registry's history: what the next one would take back, and
// taking back one or more entries at once, all or nothing, recorded as an entry of its own.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/history_file.h"
#include "history/revert.h"

namespace tovik::history {

class RecordingBackend;

// The entries the next count undos would take back (newest first); fewer when the history has
// fewer. An undo takes back the newest change (or redo) that is not taken back yet.
std::vector<EntryInfo> undoCandidates(HistoryFile& file, std::size_t count);
// The undo entries the next count redos would take back (newest first): the undos since the
// last change that are not redone yet.
std::vector<EntryInfo> redoCandidates(HistoryFile& file, std::size_t count);

struct UndoOutcome {
    bool ok = false;
    std::size_t entries = 0;               // how many entries were taken back
    std::optional<Difference> difference;  // set when refused because the registry changed since
    std::string error;                     // a sentence when not ok
};

// Takes back the newest count entries (undo) or the newest count undos (redo), in one batch, after
// checking that the registry is as they left it. Nothing changes when the check fails.
UndoOutcome undoChanges(RecordingBackend& recorder, std::size_t count);
UndoOutcome redoChanges(RecordingBackend& recorder, std::size_t count);
// Undoes every entry back to and including the entry id (which must be one the next undos reach).
UndoOutcome undoThrough(RecordingBackend& recorder, std::int64_t id);

}  // namespace tovik::history
