#pragma once
// Sentences for the user in both of the interface's languages, written side by side where they
// are composed, for the code without Qt (the command line, the stores' reasons). The program
// chooses the language once, when it starts (interface_language.h).
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "language/interface_language.h"

namespace tovik {

// One sentence in both languages; %1, %2, ... stand for what Say fills in.
struct Message {
    std::string_view english;
    std::string_view japanese;
};

// The language of every message from now on; English until chosen.
void setMessageLanguage(InterfaceLanguage language);
InterfaceLanguage messageLanguage();

// The message in the chosen language as it stands, %1 and all; it allocates nothing.
std::string_view text(const Message& message);

// The message in the chosen language with %1, %2, ... replaced by args in order.
std::string say(const Message& message, std::initializer_list<std::string_view> args = {});

// text with %1, %2, ... replaced by args in order; a % followed by anything else stays.
std::string fillMessage(std::string_view text, std::initializer_list<std::string_view> args);

// The count and its noun, in the chosen language: "1 key", "3 keys"; "キー3個".
std::string count(std::size_t n, const Message& one, const Message& many);

}  // namespace tovik
