#pragma once
// What the 比較 command compares with, opened beside the current registry (never made current).
#include <QString>
#include <memory>

#include "registry/backend.h"
#include "view/compare_commands.h"

// A Tovik store file or a Wine prefix as target names it, or an empty in-memory store for a .reg
// file to be read into; null with error set when it cannot be opened.
std::unique_ptr<tovik::Backend> openCompareTarget(const CompareTarget& target, QString& error);
