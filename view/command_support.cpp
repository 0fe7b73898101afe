#include "view/command_support.h"

#include <QFile>

#include "ui/prompts.h"
#include "ui/translated.h"
#include "view/tovik_view.h"

void ShowMessage(CTovikView& view, const QString& text) { view.Prompts().MessageBox(&view, text, MessageButtons::Ok); }

void ShowMessage(CTovikView& view, std::u16string_view text) { ShowMessage(view, Translated(text)); }

void ResetAfterImport(CTovikView& view, const QString& message) {
    view.ClearCurrentKey();
    ShowMessage(view, message);
    view.ReloadTree();
}

void ResetAfterImport(CTovikView& view, std::u16string_view message) { ResetAfterImport(view, Translated(message)); }

std::string LocalFileName(const QString& path) { return QFile::encodeName(path).toStdString(); }
