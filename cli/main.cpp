// tovik-reg: the registry from the command line (see command_line.h and commands.h).
#include <iostream>
#include <new>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/messages.h"

int main(int argc, char** argv) {
    tovik::cli::setMessageLanguage(tovik::chooseInterfaceLanguage(tovik::requestedLanguages()));
    try {
        const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
        return tovik::cli::runCommandLine(args, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        std::cerr << "tovik-reg: " << tovik::cli::text(tovik::cli::kOutOfMemory) << '\n';
        return 1;
    }
}
