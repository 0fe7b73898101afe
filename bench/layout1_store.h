#pragma once
// A store of the first layout (user_version 1) with the content of a current one, so that the
// benchmark can time the upgrade that its first open makes.
#include <string>

namespace tovik::bench {

// Writes target (which must not exist) from source, a closed store of the current layout; false
// with error set when it could not.
bool writeLayout1Copy(const std::string& source, const std::string& target, std::string& error);

}  // namespace tovik::bench
