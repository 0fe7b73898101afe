#pragma once
// The options that name the registry to open, parsed in one place for tovik and tovik-reg, so
// that both accept the same spellings:
//   --registry FILE          a Tovik store file
//   --wine-prefix DIR        a Wine prefix's system.reg and user.reg
//   --windows DIR [--user FILE]   a Windows folder's hives, with a user's NTUSER.DAT
//   --hive FILE --as KEY     one hive file mounted at KEY (for example HKLM\SOFTWARE)
//   --write                  hive files are opened for writing (read-only without it)
// Each may also be written --option=VALUE. Conflicting combinations are usage errors.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "stores/open_store.h"

namespace tovik {

// The options seen so far; Finish() turns them into a RegistrySource.
class RegistrySourceArgs {
public:
    enum class Taken { NotMine, Taken, Error };
    // Takes the option at args[i] (and its value), leaving i on the last argument it used.
    // NotMine when args[i] is no option of this set; Error with `error` set on a usage error.
    Taken take(std::span<const std::string_view> args, std::size_t& i, std::string& error);
    // The registry the options name (the user's store when none); nullopt with `error` set
    // when they conflict or one is missing (--hive without --as, --user without --windows).
    std::optional<RegistrySource> finish(std::string& error) const;

private:
    std::optional<std::string> registry_, winePrefix_, windows_, user_, hive_, as_;
    bool write_ = false;
};

// What --help of both programs says about these options.
std::string_view RegistrySourceHelpText();

}  // namespace tovik
