#include "ui/translated.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <string>
#include <vector>

#include "language/messages.h"
#include "ui/qt_text.h"

QString translated(std::u16string_view text) {
    const QByteArray source = toQString(text).toUtf8();
    return QCoreApplication::translate("Tovik", source.constData());
}

InterfaceLanguage chooseInterfaceLanguage(const QStringList& uiLanguages) {
    std::vector<std::string> requested;
    for (const QString& language : uiLanguages) requested.push_back(language.toStdString());
    return tovik::chooseInterfaceLanguage(requested);
}

InterfaceLanguage installTranslations() {
    const InterfaceLanguage language = chooseInterfaceLanguage(QLocale::system().uiLanguages());
    // The core's own sentences (a prefix's or a store's reasons) in the same language.
    tovik::setMessageLanguage(language);
    // The translators live as long as the application.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (language == InterfaceLanguage::English) {
        if (translator->load(QStringLiteral(":/i18n/tovik_en.qm"))) QCoreApplication::installTranslator(translator);
    } else if (translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }
    return language;
}
