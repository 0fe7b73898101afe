// The Wine registry file reader on untrusted bytes: whatever it accepts must come back byte for
// byte, and an edit on it must give a file that reads back with the edit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "stores/wine/wine_registry_file.h"

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovik::wine;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto file = WineRegistryFile::parse(text, error);
    if (!file) {
        check(!error.empty(), "a refusal says why");
        return 0;
    }
    check(file->serialize() == text, "an unedited file comes back unchanged");
    WineKey* key = nullptr;
    if (file->createKey(file->root(), u"Fuzz", &key) != EditResult::ok) return 0;
    check(file->setValue(*key, u"v\"", kRegBinary, std::string("\x01\x02", 2)) == EditResult::ok, "a value is set");
    if (key->subkeyCount() == 0 && key->parent()) file->deleteKey(*key->parent()->subkey(0));
    auto again = WineRegistryFile::parse(file->serialize(), error);
    check(again != nullptr, "a written file reads back");
    return 0;
}
