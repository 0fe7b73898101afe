#pragma once
#include <string>

namespace tovik {

// Creates the folder and any missing folders above it, each with mode 0700 from the start (the
// registry is the user's alone); folders that exist are left as they are. False with errno set
// when one cannot be made.
bool createPrivateFolders(const std::string& folder);

}  // namespace tovik
