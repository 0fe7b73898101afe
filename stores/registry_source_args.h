#pragma once
// The options that name the registry to open, shared by tovik and tovik-reg so that both accept
// the same spellings: --wine-prefix [DIR], --steam-app APPID, --windows DIR [--user FILE],
// --hive FILE --as KEY, --write. An option's value follows it or is joined to it with '='
// (--hive=FILE). --wine-prefix takes no folder when it is the last argument or the next one is
// an option or a command word: then it means $WINEPREFIX, else ~/.wine.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "discover/user_folders.h"
#include "language/messages.h"
#include "stores/open_store.h"

namespace tovik {

// The usage error of a second registry named on one command line.
inline constexpr Message kOneRegistryOnly{
    "name one registry only: --registry, --wine-prefix, --steam-app, --windows and --hive exclude each other.",
    "レジストリは1つだけ指定してください: --registry、--wine-prefix、--steam-app、--windows、--hive は同時に"
    "使えません。"};

// Takes the option at args[i] into source; i then points at the last argument it used. False
// when args[i] is not one of these options. error is a usage error's sentence when the option
// was taken but is wrong (its value missing, or a second registry named). commandWords are the
// arguments that end the options (tovik-reg's commands), never taken as a folder.
bool takeRegistrySourceOption(std::span<const std::string_view> args, std::size_t& i, RegistrySource& source,
                              std::string& error, std::span<const std::string_view> commandWords = {});

// The usage error of a combination that makes no sense (--user without --windows, --hive
// without --as, ...); empty when the options fit together.
std::string checkRegistrySource(const RegistrySource& source);

// Gives a WinePrefix without a folder its folder: the Proton prefix of source.steamApp in the
// Steam libraries of folders, else the default prefix. The sentence for the user when the app
// has no prefix; empty when source names its folder.
std::string resolveRegistrySource(RegistrySource& source,
                                  const discover::UserFolders& folders = discover::UserFolders::fromEnvironment());

}  // namespace tovik
