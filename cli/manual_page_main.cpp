// Writes the Japanese manual page of tovik-reg, made from the help's table, to the file named
// (standard output without one); the build installs what it writes.
#include <fstream>
#include <iostream>

#include "cli/help_document.h"

int main(int argc, char** argv) {
    const std::string page = tovik::cli::manualPage(tovik::cli::japaneseHelp(), TOVIK_VERSION);
    if (argc < 2) {
        std::cout << page;
        return std::cout.flush() ? 0 : 1;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << page;
    out.close();
    return out ? 0 : 1;
}
