#pragma once
// Test helpers: a fresh in-memory registry and short ways to fill it.
#include <string>
#include <vector>

#include "registry/value_types.h"

namespace testing_support {

void FreshRegistry();
// Creates the key (and the keys above it) below root.
void MakeKey(HKEY root, const std::u16string& path);
void SetValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type, const Bytes& data);

}  // namespace testing_support
