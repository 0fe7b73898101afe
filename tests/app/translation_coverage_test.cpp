// Every text the window shows has its English in resources/translations/tovik_en.ts: the texts
// of Tovik::tr and of the core's text list, the Japanese constants of the window's folders, and
// every literal handed to a message box. The sources are read as text, as lupdate reads them.
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString kSourceDir = QStringLiteral(TOVIK_SOURCE_DIR);

// The folders whose code the window runs; the screenshot programs' sample data is no text of it.
QStringList windowSources() {
    QStringList files;
    for (const char* folder : {"app", "ui", "view", "editors", "backup/gui"}) {
        QDirIterator it(kSourceDir + QLatin1Char('/') + QLatin1String(folder), {"*.cpp", "*.h"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            if (!file.contains(QLatin1String("screenshot"))) files << file;
        }
    }
    files.sort();
    return files;
}

// Source text to its translation; an unfinished or empty translation counts as none.
QHash<QString, QString> readTranslations() {
    QHash<QString, QString> translations;
    QFile file(kSourceDir + QStringLiteral("/resources/translations/tovik_en.ts"));
    if (!file.open(QIODevice::ReadOnly)) return translations;
    QXmlStreamReader xml(&file);
    QString source;
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement()) continue;
        if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const bool unfinished = xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
            const QString text = xml.readElementText();
            if (!unfinished && !text.isEmpty()) translations.insert(source, text);
        }
    }
    return translations;
}

// The text of a run of adjacent C++ string literals, with their escapes undone.
QString literalText(const QString& run) {
    static const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\\\n]|\\\\.)*)\""));
    QString text;
    for (auto it = literal.globalMatch(run); it.hasNext();) {
        const QString body = it.next().captured(1);
        for (qsizetype i = 0; i < body.size(); ++i) {
            if (body[i] != QLatin1Char('\\') || i + 1 == body.size()) {
                text += body[i];
                continue;
            }
            const QChar escaped = body[++i];
            text += escaped == QLatin1Char('n') ? QChar(u'\n') : escaped == QLatin1Char('t') ? QChar(u'\t') : escaped;
        }
    }
    return text;
}

struct Found {
    QString file;
    QString text;
};

// What the window's sources show: translated texts, Japanese constants, message box literals.
QList<Found> shownTexts(const QString& file, const QString& code) {
    static const QString run = QStringLiteral("((?:\"(?:[^\"\\\\\\n]|\\\\.)*\"\\s*)+)");
    static const QRegularExpression tr(QStringLiteral("\\bTovik::tr\\(\\s*") + run);
    static const QRegularExpression noop(QStringLiteral("QT_TRANSLATE_NOOP\\(\\s*\"Tovik\"\\s*,\\s*") + run);
    static const QRegularExpression wide(QStringLiteral("\\bu(\"(?:[^\"\\\\\\n]|\\\\.)*\")"));
    static const QRegularExpression japanese(QStringLiteral("[\u3040-\u30ff\u3400-\u9fff\uff01-\uffef]"));
    static const QRegularExpression messageBox(
        QStringLiteral("\\b(?:MessageBox|QMessageBox(?:::\\w+)?)\\s*\\(([^;]*);"));
    QList<Found> found;
    for (const QRegularExpression* call : {&tr, &noop})
        for (auto it = call->globalMatch(code); it.hasNext();) found.append({file, literalText(it.next().captured(1))});
    for (auto it = wide.globalMatch(code); it.hasNext();) {
        const QString text = literalText(it.next().captured(1));
        if (text.contains(japanese)) found.append({file, text});
    }
    // A literal handed to a message box, other than through Tovik::tr, is shown as it is.
    for (auto it = messageBox.globalMatch(code); it.hasNext();) {
        QString arguments = it.next().captured(1);
        arguments.remove(QRegularExpression(QStringLiteral("\\bTovik::tr\\(\\s*") + run));
        static const QRegularExpression plain(QStringLiteral("(?<![\\w])\"(?:[^\"\\\\\\n]|\\\\.)*\""));
        for (auto lit = plain.globalMatch(arguments); lit.hasNext();)
            found.append({file, literalText(lit.next().captured(0))});
    }
    return found;
}

}  // namespace

class TranslationCoverageTest : public QObject {
    Q_OBJECT

private slots:
    void everyTextTheWindowShowsIsTranslated() {
        const QHash<QString, QString> translations = readTranslations();
        QVERIFY2(translations.size() > 100, "the translation file was not read");
        QStringList missing;
        int texts = 0;
        for (const QString& path : windowSources()) {
            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
            for (const Found& shown : shownTexts(path.mid(kSourceDir.size() + 1), QString::fromUtf8(file.readAll()))) {
                ++texts;
                if (!translations.contains(shown.text)) missing << shown.file + QStringLiteral(": ") + shown.text;
            }
        }
        QVERIFY2(texts > 150, qPrintable(QString::number(texts)));
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
    }

    // The scan itself finds what it looks for.
    void theScanFindsEachKindOfText() {
        const QString code = QString::fromUtf8(
            "Tovik::tr(\"一\" \"二\\n\");\n"
            "constexpr std::u16string_view kText = u\"日本語の文\";\n"
            "constexpr std::u16string_view kAscii = u\"@\";\n"
            "view.Prompts().MessageBox(&view, QStringLiteral(\"An English sentence.\"), MessageButtons::Ok);\n"
            "view.Prompts().MessageBox(&view, Tovik::tr(\"訳す\"), MessageButtons::Ok);\n"
            "QMessageBox::critical(nullptr, AppCaption(), QString::fromUtf8(\"Failed\"));\n");
        QStringList texts;
        for (const Found& found : shownTexts(QStringLiteral("x.cpp"), code)) texts << found.text;
        texts.sort();
        QStringList expected = {QString::fromUtf16(u"一二\n"), QString::fromUtf16(u"訳す"),
                                QString::fromUtf16(u"日本語の文"), "An English sentence.", "Failed"};
        expected.sort();
        QCOMPARE(texts, expected);
    }
};

QTEST_GUILESS_MAIN(TranslationCoverageTest)
#include "translation_coverage_test.moc"
