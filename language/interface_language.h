#pragma once
// The interface speaks Japanese, or English for a user whose first language is English. The window
// and tovik-reg choose by the same rule from the same variables, so that one user meets one
// language.
#include <string>
#include <vector>

namespace tovik {

enum class InterfaceLanguage { Japanese, English };

// English when the first of the languages asked for is English ("en", "en-US", "en_GB.UTF-8");
// Japanese for every other one, C and POSIX included, and when none is asked for.
InterfaceLanguage chooseInterfaceLanguage(const std::vector<std::string>& requested);

// The languages the environment asks for, first first: LANGUAGE's colon-separated list when it is
// set, else the first set of LC_ALL, LC_MESSAGES and LANG (the order the window's toolkit reads).
std::vector<std::string> requestedLanguages();

}  // namespace tovik
