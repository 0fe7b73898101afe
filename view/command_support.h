#pragma once
// Small pieces the command classes beside the view share.
#include <QString>
#include <string>
#include <string_view>

class CTovikView;

// A message with only OK, over the view.
void ShowMessage(CTovikView& view, const QString& text);
// The same, for a text of the core, translated.
void ShowMessage(CTovikView& view, std::u16string_view text);

// The end of an import that wrote: the view starts again from the roots, after the message.
void ResetAfterImport(CTovikView& view, const QString& message);
void ResetAfterImport(CTovikView& view, std::u16string_view message);

// A file name as the system's calls take it.
std::string LocalFileName(const QString& path);
