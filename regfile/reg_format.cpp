#include "regfile/reg_format.h"

#include "registry/name_fold.h"
#include "registry/roots.h"

namespace tovik {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

}  // namespace

RegFileFormat RegFileFormatFromHeader(std::u16string_view line) {
    while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && isBlank(line.back())) line.remove_suffix(1);
    if (line == kRegedit4Header) return RegFileFormat::Regedit4;
    if (line == kVersion5Header) return RegFileFormat::Version5;
    // The platform takes any first line starting with "REGEDIT" for a header and then imports
    // nothing; such a file, and one whose header differs in case, is refused with a message.
    for (const std::u16string_view start :
         {std::u16string_view(u"REGEDIT"), std::u16string_view(u"Windows Registry Editor")}) {
        if (line.size() >= start.size() && compareNames(line.substr(0, start.size()), start) == 0)
            return RegFileFormat::UnknownHeader;
    }
    return RegFileFormat::Unknown;
}

HKEY parseRegRootPath(std::u16string_view keyPath, std::u16string_view* rest) {
    const std::size_t slash = keyPath.find(u'\\');
    const std::u16string_view rootName = keyPath.substr(0, slash);
    *rest = slash == std::u16string_view::npos ? std::u16string_view() : keyPath.substr(slash + 1);
    const RootInfo* known = findRootByName(rootName);
    if (known == nullptr) return 0;
    return known->held ? known->handle : kRegOtherRoot;
}

}  // namespace tovik
