#include "view/command_support.h"

#include <QFile>

#include "ui/prompts.h"
#include "ui/translated.h"
#include "view/tovik_view.h"

void showMessage(CTovikView& view, const QString& text) {
    view.prompts().messageBox(&view, text, MessageButtons::Ok);
}

void showMessage(CTovikView& view, std::u16string_view text) {
    showMessage(view, translated(text));
}

void resetAfterImport(CTovikView& view, const QString& message) {
    view.clearCurrentKey();
    showMessage(view, message);
    view.reloadTree();
}

void resetAfterImport(CTovikView& view, std::u16string_view message) {
    resetAfterImport(view, translated(message));
}

std::string localFileName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
