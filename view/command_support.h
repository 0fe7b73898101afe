#pragma once
// Small pieces the command classes beside the view share.
#include <QString>
#include <string>
#include <string_view>

class CTovikView;

// A message with only OK, over the view.
void showMessage(CTovikView& view, const QString& text);
// The same, for a text of the core, translated.
void showMessage(CTovikView& view, std::u16string_view text);

// The end of an import that wrote: the view starts again from the roots, after the message.
void resetAfterImport(CTovikView& view, const QString& message);
void resetAfterImport(CTovikView& view, std::u16string_view message);

// A file name as the system's calls take it.
std::string localFileName(const QString& path);
