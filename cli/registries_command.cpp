#include "cli/registries_command.h"

#include <ostream>

#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/utf8.h"
#include "stores/registry_discovery.h"

namespace tovik::cli {

namespace {

std::string oneLineField(std::string text)
{
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

}  // namespace

std::vector<discover::FoundRegistry> RegistriesToList(const discover::UserFolders& folders)
{
    return DiscoverAllRegistries(folders);
}

std::string RegistryLine(const discover::FoundRegistry& registry)
{
    std::string line(discover::kindWord(registry.kind));
    line += '\t' + oneLineField(Utf16ToUtf8(registry.name));
    line += '\t' + oneLineField(registry.folder);
    line += registry.readOnly ? "\tread-only" : "\twritable";
    return line;
}

int RunRegistries(std::ostream& out, std::ostream& err)
{
    for (const discover::FoundRegistry& registry : RegistriesToList()) out << RegistryLine(registry) << '\n';
    out.flush();
    if (!out) {
        ReportError(err, "the list could not be written.");
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace tovik::cli
