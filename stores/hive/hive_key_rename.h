#pragma once
// Renaming a key of a hive. hivex cannot rename a key, so the key is copied under its new name,
// with every key and value below it, and the original is deleted, all in one batch of the
// model (saved once, or not at all). The key and every key below it keep their NodeIds. The copies take their security descriptor from the parent,
// as every key that hivex creates does.
#include <string_view>

#include "stores/hive/hive_model.h"

namespace tovik::hive {

// Exists when a sibling has the new name; Refused for the root, or when something below the key
// could not be written again (a name hivex cannot write, a value too large for this hive).
HiveResult renameKey(HiveModel& model, NodeId key, std::u16string_view newName);

}  // namespace tovik::hive
