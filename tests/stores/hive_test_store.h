#pragma once
// Hive files as a store for the contract suite: three hives made from bytes beside path, one
// mounted as each root, made current.
#include <string>

namespace tovik::testing {

// Creates the hives when missing; false when they cannot be opened.
bool openTestHives(const std::string& path, bool writable);

}  // namespace tovik::testing
