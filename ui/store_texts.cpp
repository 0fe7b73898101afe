#include "ui/store_texts.h"

#include <QRegularExpression>

#include "ui/translated.h"

namespace {

// The English shapes, as stores/hive and stores/wine compose them, with what each captures. The
// hive store speaks the user's language itself; the shapes of its sentences that are gathered
// into one message are recognised in Japanese too.
const QString kUncleanAdvice = QStringLiteral(" hivex cannot replay it, so the hive is open read-only. Start that "
                                              "Windows and shut it down normally to write it.");

struct Unclean {
    QString hive;
    QString log;  // empty: the base block shows the unfinished write
};

// The same sentences as the hive store says them to a Japanese user.
const QString kUncleanAdviceJapanese = QStringLiteral(
    "hivexではその続きを行えないため、このハイブは読み取り専用で開きました。そのWindowsを起動し、正しく終了させると"
    "書き込めます。");

bool matchUnclean(const QString& sentence, Unclean& unclean) {
    // Each shape captures the hive and, for a waiting log, the log.
    static const QRegularExpression shapes[] = {
        QRegularExpression(QStringLiteral("^Windows did not shut down cleanly: (.+) was being written when Windows "
                                          "stopped\\.") +
                           QRegularExpression::escape(kUncleanAdvice) + QStringLiteral("$")),
        QRegularExpression(QStringLiteral("^Windows did not shut down cleanly: (.+) has changes waiting in its "
                                          "transaction log (.+)\\.") +
                           QRegularExpression::escape(kUncleanAdvice) + QStringLiteral("$")),
        QRegularExpression(QStringLiteral("^Windowsが正しく終了していません。(.+) は書き込みの途中で止まっています。") +
                           QRegularExpression::escape(kUncleanAdviceJapanese) + QStringLiteral("$")),
        QRegularExpression(
            QStringLiteral(
                "^Windowsが正しく終了していません。(.+) にはトランザクションログ (.+) に残った変更があります。") +
            QRegularExpression::escape(kUncleanAdviceJapanese) + QStringLiteral("$")),
    };
    for (const QRegularExpression& shape : shapes) {
        if (const QRegularExpressionMatch m = shape.match(sentence); m.hasMatch()) {
            unclean = {m.captured(1), m.lastCapturedIndex() >= 2 ? m.captured(2) : QString()};
            return true;
        }
    }
    return false;
}

QString uncleanText(const Unclean& unclean) {
    return unclean.log.isEmpty()
               ? Tovik::tr(
                     "Windowsが正しく終了していません。%1 "
                     "は書き込みの途中で止まっています。hivexではその続きを行えないため、"
                     "このハイブは読み取り専用で開きました。そのWindowsを起動し、正しく終了させると書き込めます。")
                     .arg(unclean.hive)
               : Tovik::tr("Windowsが正しく終了していません。%1 にはトランザクションログ %2 "
                           "に残った変更があります。hivexではその続きを"
                           "行えないため、このハイブは読み取り専用で開きました。そのWindowsを起動し、正しく終了させると"
                           "書き込めます。")
                     .arg(unclean.hive, unclean.log);
}

QString translate(const QString& sentence) {
    struct Shape {
        QRegularExpression english;
        QString (*text)(const QRegularExpressionMatch&);
    };
    static const Shape shapes[] = {
        {QRegularExpression(QStringLiteral("^(.+) is not a Windows registry hive, or it is damaged \\((.+)\\)\\.$")),
         [](const QRegularExpressionMatch& m) {
             return Tovik::tr("%1 はWindowsのレジストリハイブではないか、壊れています（%2）。")
                 .arg(m.captured(1), m.captured(2));
         }},
        {QRegularExpression(
             QStringLiteral("^Wine is running this prefix \\(wineserver, process (\\d+)\\): it keeps the "
                            "registry in memory and would overwrite any change, so the prefix is open "
                            "read-only\\. Stop it with \"wineserver -k\" first\\.$")),
         [](const QRegularExpressionMatch& m) {
             return Tovik::
                 tr("Wineがこのプレフィックスを使っています（wineserver、プロセス %1）。Wineはレジストリをメモリに"
                    "持っていて変更を上書きするため、読み取り専用で開きました。先に「wineserver -k」で止めてください。")
                     .arg(m.captured(1));
         }},
        {QRegularExpression(QStringLiteral("^Wine is running this prefix: it keeps the registry in memory and would "
                                           "overwrite any change, so the prefix is open read-only\\. Stop it with "
                                           "\"wineserver -k\" first\\.$")),
         [](const QRegularExpressionMatch&) {
             return Tovik::tr(
                 "Wineがこのプレフィックスを使っています。Wineはレジストリをメモリに持っていて変更を上書きするため、"
                 "読み取り専用で開きました。先に「wineserver -k」で止めてください。");
         }},
        {QRegularExpression(QStringLiteral("^Tovik cannot tell whether Wine is running this prefix \\((.+)\\), so it "
                                           "opens it read-only\\.$")),
         [](const QRegularExpressionMatch& m) {
             return Tovik::tr(
                        "Wineがこのプレフィックスを使っているかどうか分からない（%1）ため、読み取り専用で開きました。")
                 .arg(m.captured(1));
         }},
        {QRegularExpression(QStringLiteral("^Tovik cannot take Wine's lock of this prefix \\((.+)\\), so it opens it "
                                           "read-only\\.$")),
         [](const QRegularExpressionMatch& m) {
             return Tovik::tr("このプレフィックスのWineのロックを取れない（%1）ため、読み取り専用で開きました。")
                 .arg(m.captured(1));
         }},
        {QRegularExpression(QStringLiteral("^The hives are open read-only: give --write to change them\\.$")),
         [](const QRegularExpressionMatch&) {
             return Tovik::tr("ハイブは読み取り専用で開いています。変更するには --write を付けて開いてください。");
         }},
    };
    Unclean unclean;
    if (matchUnclean(sentence, unclean)) return uncleanText(unclean);
    for (const Shape& shape : shapes)
        if (const QRegularExpressionMatch m = shape.english.match(sentence); m.hasMatch()) return shape.text(m);
    return sentence;
}

}  // namespace

QString storeText(const std::string& sentence) {
    // A hive of a Windows folder that could not be opened is left out of the registry.
    static const QString leftOut = QStringLiteral(" It is left out.");
    const QString text = QString::fromStdString(sentence);
    if (text.endsWith(leftOut))
        return translate(text.chopped(leftOut.size())) + Tovik::tr("このハイブは開かずに続けます。");
    return translate(text);
}

QString storeNoticesText(const std::vector<std::string>& notices) {
    std::vector<Unclean> unclean;
    QStringList paragraphs;
    for (const std::string& notice : notices) {
        Unclean one;
        if (matchUnclean(QString::fromStdString(notice), one))
            unclean.push_back(one);
        else
            paragraphs << storeText(notice);
    }
    if (unclean.size() == 1) {
        paragraphs.prepend(uncleanText(unclean.front()));
    } else if (!unclean.empty()) {
        // One reason, one piece of advice, and the hives it holds for.
        QStringList hives;
        for (const Unclean& one : unclean) hives << QStringLiteral("  ") + one.hive;
        paragraphs.prepend(
            Tovik::tr("Windowsが正しく終了していないため、次のハイブは書き込みの途中で止まっています。hivexでは"
                      "その続きを行えないため、これらは読み取り専用で開きました。そのWindowsを起動し、正しく"
                      "終了させると書き込めます。") +
            QLatin1Char('\n') + hives.join(QLatin1Char('\n')));
    }
    return paragraphs.join(QStringLiteral("\n\n"));
}
