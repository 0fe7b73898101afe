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

std::string oneLineField(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

}  // namespace

std::vector<discover::FoundRegistry> registriesToList(const discover::UserFolders& folders) {
    return tovik::discoverAllRegistries(folders);
}

std::string registryLine(const discover::FoundRegistry& registry) {
    std::string line(discover::kindWord(registry.kind));
    line += '\t' + oneLineField(utf16ToUtf8(registry.name));
    line += '\t' + oneLineField(registry.folder);
    line += registry.readOnly ? "\tread-only" : "\twritable";
    return line;
}

nlohmann::ordered_json registryJson(const discover::FoundRegistry& registry) {
    return nlohmann::ordered_json{{"kind", discover::kindWord(registry.kind)},
                                  {"name", utf16ToUtf8(registry.name)},
                                  {"folder", registry.folder},
                                  {"readOnly", registry.readOnly}};
}

int runRegistries(std::ostream& out, std::ostream& err, bool json) {
    if (json) {
        JsonArrayWriter writer(out);
        for (const discover::FoundRegistry& registry : registriesToList()) writer.add(registryJson(registry));
        writer.finish();
    } else {
        for (const discover::FoundRegistry& registry : registriesToList()) out << registryLine(registry) << '\n';
    }
    out.flush();
    if (!out) {
        reportError(err, say(kCannotWriteOutput));
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace tovik::cli
