#include "cli/diff_listing.h"

#include <ostream>

#include "backup/backup_format.h"
#include "cli/utf8.h"
#include "registry/key_path.h"

namespace tovik::cli {

void DiffListing::key(char sign, HKEY root, std::u16string_view path) {
    out_ << sign << '[' << utf16ToUtf8(fullKeyPath(root, path)) << "]\n";
    lastRoot_ = root;
    lastPath_.assign(path);
    haveKey_ = true;
}

void DiffListing::keyHeader(HKEY root, std::u16string_view path) {
    if (haveKey_ && lastRoot_ == root && lastPath_ == path) return;
    key(' ', root, path);
}

void DiffListing::value(char sign, std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) {
    out_ << sign << "  " << utf16ToUtf8(backupValueLine(name, type, data, size)) << '\n';
}

}  // namespace tovik::cli
