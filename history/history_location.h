#pragma once
// Where a registry's history is kept: $XDG_STATE_HOME/tovik/ (else ~/.local/state/tovik/), one
// file per registry, named after the registry's identity (its store file, prefix folder, Windows
// folder or hive file), never inside a Wine prefix or beside a hive.
#include <memory>
#include <string>

#include "registry/backend.h"

namespace tovik::history {

std::string historyFolder();
// The history file of the registry whose identity is given (a canonical path, with a kind).
std::string historyPathFor(const std::string& identity);

struct WrapResult {
    std::unique_ptr<Backend> backend;  // the recording layer, or the backend itself when unrecorded
    std::string notice;                // why changes are not recorded, when they are not
};
// Wraps backend in the recording layer over the history of identity (an empty identity: a history
// in memory, for a registry in memory). When the history cannot be opened the backend is returned
// as it is, with a notice saying that its changes cannot be undone.
WrapResult recordChanges(std::unique_ptr<Backend> backend, const std::string& identity);

}  // namespace tovik::history
