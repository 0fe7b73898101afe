#pragma once
// tovik-reg speaks the language the window speaks (language/interface_language.h): its own
// sentences are written in both languages side by side, and the core's texts, which are Japanese
// as the window shows them, are put into English by the window's own translation.
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "language/interface_language.h"

namespace tovik::cli {

// One sentence of tovik-reg in both languages; %1, %2, ... stand for what Say fills in.
struct Message {
    std::string_view english;
    std::string_view japanese;
};

// The language of every message from now on; English until chosen (the program chooses from the
// environment when it starts).
void SetMessageLanguage(InterfaceLanguage language);
InterfaceLanguage MessageLanguage();

// The message in the chosen language as it stands, %1 and all; it allocates nothing.
std::string_view Text(const Message& message);

// The message in the chosen language with %1, %2, ... replaced by args in order.
std::string Say(const Message& message, std::initializer_list<std::string_view> args = {});

// A text of the core (Japanese, a template with %1, ... where it has numbers) in the chosen
// language, filled with args.
std::string CoreText(std::u16string_view text, std::initializer_list<std::string_view> args = {});

// CoreText as a translator of templates (their %1, ... left for the caller to fill), for the core's
// functions that take one.
std::function<std::u16string(std::u16string_view)> CoreTextTranslator();

// The count and its noun, in the chosen language: "1 key", "3 keys"; "キー3個".
std::string Count(std::size_t n, const Message& one, const Message& many);

inline constexpr Message kOutOfMemory{"not enough memory; the command was stopped.",
                                      "メモリが足りません。コマンドを中止しました。"};
inline constexpr Message kCannotWriteOutput{"cannot write the output.", "出力を書き込めません。"};

}  // namespace tovik::cli
