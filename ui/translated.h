#pragma once
// The interface's texts are Japanese; they are the source texts of Qt's translations, all in the
// one context "Tovik", and resources/translations/tovik_en.ts translates them into English.
//  - Qt code writes a text as Tovik::tr("ﾂｰﾙ"): lupdate finds it there.
//  - A text of the plain C++ core (a std::u16string constant of backup/, editors/, ...) is shown
//    as Translated(kSomeMessage), and the same text is listed once in ui/core_texts.cpp.
//  - A text with numbers is a template with %1, %2, filled with QString::arg after translating.
// `make translations` (lupdate) then adds new texts to the .ts, where they get their English.
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <string_view>

#include "language/interface_language.h"

class Tovik {
    Q_DECLARE_TR_FUNCTIONS(Tovik)
};

// A core text in the interface's language.
QString translated(std::u16string_view text);

using tovik::InterfaceLanguage;

// The rule of language/interface_language.h over the toolkit's list of languages.
InterfaceLanguage chooseInterfaceLanguage(const QStringList& uiLanguages);

// Chooses from QLocale::system().uiLanguages() (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) and installs
// the translators: Tovik's English, or Qt's own Japanese for its dialogs and standard buttons.
InterfaceLanguage installTranslations();
