#pragma once
// The options that name the registry to open, shared by tovik and tovik-reg so that both accept
// the same spellings: --wine-prefix DIR, --windows DIR [--user FILE], --hive FILE --as KEY,
// --write. An option's
// value follows it or is joined to it with '=' (--hive=FILE).
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "stores/open_store.h"

namespace tovik {

// Takes the option at args[i] into source; i then points at the last argument it used. False
// when args[i] is not one of these options. error is a usage error's sentence when the option
// was taken but is wrong (its value missing, or a second registry named).
bool TakeRegistrySourceOption(std::span<const std::string_view> args, std::size_t& i, RegistrySource& source,
                              std::string& error);

// The usage error of a combination that makes no sense (--user without --windows, --hive
// without --as, ...); empty when the options fit together.
std::string CheckRegistrySource(const RegistrySource& source);

}  // namespace tovik
