#include "cli/registries_command.h"

#include <ostream>

#include <nlohmann/json.hpp>

#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/json_output.h"
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

nlohmann::ordered_json RegistryJson(const discover::FoundRegistry& registry)
{
    return nlohmann::ordered_json{{"kind", discover::kindWord(registry.kind)},
                          {"name", Utf16ToUtf8(registry.name)},
                          {"folder", registry.folder},
                          {"readOnly", registry.readOnly}};
}

int RunRegistries(std::ostream& out, std::ostream& err, bool json)
{
    if (json) {
        JsonArrayWriter writer(out);
        for (const discover::FoundRegistry& registry : RegistriesToList()) writer.Add(RegistryJson(registry));
        writer.Finish();
    } else {
        for (const discover::FoundRegistry& registry : RegistriesToList()) out << RegistryLine(registry) << '\n';
    }
    out.flush();
    if (!out) {
        ReportError(err, Say(kCannotWriteOutput));
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace tovik::cli
