#pragma once
// Export of a key with its whole subtree as a .reg file, into a sink (the caller owns the file).
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "regfile/byte_sink.h"
#include "regfile/reg_format.h"
#include "registry/win_types.h"

namespace tovik {

enum class RegFileExportOutcome {
    Written,
    NoKeySelected,  // root is none of the three roots; nothing was written
    KeyNotOpened,   // root\path does not exist
    ReadFailed,     // a key or value below it could not be read; the bytes so far are incomplete
    WriteFailed,    // the sink refused bytes
    Cancelled,      // the progress callback asked to stop; the bytes so far are incomplete
};

struct RegFileExportResult {
    RegFileExportOutcome outcome = RegFileExportOutcome::Written;
    std::size_t keys = 0;
    std::size_t values = 0;
    std::size_t inexact = 0;  // names or data the format could not carry exactly (REGEDIT4 only)
    std::u16string keyPath;   // KeyNotOpened, ReadFailed: the key concerned
};

// The header, then root\path and everything below it, depth first, values in the registry's
// order, subkeys in name order. path is written as given; a caller that wants the stored case of
// each name passes it already looked up. format: Version5 (the default) or Regedit4. progress,
// when given, is called after each key below the first with the keys written so far; returning
// false stops the export (Cancelled).
RegFileExportResult exportRegFile(ByteSink& sink, HKEY root, std::u16string_view path,
                                  RegFileFormat format = RegFileFormat::Version5,
                                  const std::function<bool(std::size_t keys)>& progress = {});

}  // namespace tovik
