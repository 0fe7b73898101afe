#pragma once
// tovik-reg speaks the language the window speaks (language/interface_language.h): its own
// sentences are written in both languages side by side (language/messages.h), and the core's
// texts, which are Japanese as the window shows them, are put into English by the window's own
// translation.
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "language/messages.h"

namespace tovik::cli {

using tovik::count;
using tovik::Message;
using tovik::messageLanguage;
using tovik::say;
using tovik::setMessageLanguage;
using tovik::text;

// A text of the core (Japanese, a template with %1, ... where it has numbers) in the chosen
// language, filled with args.
std::string coreText(std::u16string_view text, std::initializer_list<std::string_view> args = {});

// CoreText as a translator of templates (their %1, ... left for the caller to fill), for the core's
// functions that take one.
std::function<std::u16string(std::u16string_view)> coreTextTranslator();

inline constexpr Message kOutOfMemory{"not enough memory; the command was stopped.",
                                      "メモリが足りません。コマンドを中止しました。"};
inline constexpr Message kCannotWriteOutput{"cannot write the output.", "出力を書き込めません。"};

}  // namespace tovik::cli
