#pragma once
// tovik-reg registries: the registries found on this machine, one line each. The entries come
// from one function, so that another output form (JSON) lists the same.
#include <iosfwd>
#include <string>
#include <vector>

#include "discover/found_registry.h"
#include "discover/user_folders.h"

namespace tovik::cli {

// What the command lists, in the order found, with whether each opens read-only now.
std::vector<discover::FoundRegistry>
registriesToList(const discover::UserFolders& folders = discover::UserFolders::fromEnvironment());
// "kind<TAB>name<TAB>folder<TAB>read-only|writable"; a tab or line end inside a field becomes a
// space, so that one registry stays one line.
std::string registryLine(const discover::FoundRegistry& registry);

// With json an array of {"kind", "name", "folder", "readOnly"} (cli/json_output.h).
int runRegistries(std::ostream& out, std::ostream& err, bool json = false);

}  // namespace tovik::cli
