#pragma once
// One difference of a comparison settled by making one side as the other has it: a value set as
// the source side holds it or deleted where the source has none, a key created with everything
// below it or deleted with everything below it. Written through the target's Backend in one
// batch, so that it works on a registry that is not the current one.
#include <optional>
#include <string_view>

#include "compare/tree_compare.h"

namespace tovik {

// Makes target's key at path (below the compared keys), or its value valueName, as source has
// it. ERROR_SUCCESS when the target now agrees; ERROR_ACCESS_DENIED for a read-only target or a
// key the target keeps (a root, a hive's top); else the first write's failure. A value or key
// that neither side has is no failure.
LONG applyDifference(const CompareSide& source, const CompareSide& target, std::u16string_view path,
                     std::optional<std::u16string_view> valueName);

}  // namespace tovik
