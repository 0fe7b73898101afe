// The interface's language: Japanese unless the user's languages ask for English first; Qt's own
// buttons follow. Run once under LANGUAGE=en and once under the C locale (see CMakeLists).
#include <QAction>
#include <QComboBox>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "app/tovik_app.h"
#include "backup/backup_export.h"
#include "backup/backup_import.h"
#include "editors/gui/string_edit_dlg.h"
#include "editors/number_rules.h"
#include "ui/core_texts.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/command_ids.h"
#include "view/find_dlg.h"
#include "view/open_registry_dlg.h"
#include "view/tovik_view.h"

namespace {

struct RecordingPrompts : ViewPrompts {
    QStringList texts;
    int messageBox(QWidget*, const QString& text, MessageButtons) override {
        texts << text;
        return IDOK;
    }
};

QStringList menuTitles(CMainFrame& frame) {
    QStringList titles;
    for (QAction* action : frame.menuBar()->actions()) titles << action->text();
    return titles;
}

QStringList findDialogButtons() {
    CFindDlg dialog;
    QStringList buttons;
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) buttons << button->text();
    return buttons;
}

QString cancelButtonText() {
    QMessageBox box(QMessageBox::NoIcon, QString(), QString(), QMessageBox::Ok | QMessageBox::Cancel);
    return box.button(QMessageBox::Cancel)->text();
}

// The width the chooser needs at least, on its widest page and kind, and its tab titles; the
// chooser fits a 480-pixel screen only when that width is within kDialogMaxWidth.
std::pair<int, QStringList> chooserNeeds(QWidget* parent) {
    ViewPrompts prompts;
    COpenRegistryDlg dialog(prompts, parent);
    int widest = 0;
    for (int page = 0; page < dialog.tabs()->count(); ++page) {
        dialog.tabs()->setCurrentIndex(page);
        for (int kind = 0; kind < dialog.otherKindBox()->count(); ++kind) {
            dialog.otherKindBox()->setCurrentIndex(kind);
            widest = std::max(widest, dialog.minimumSizeHint().width());
        }
    }
    QStringList tabs;
    for (int page = 0; page < dialog.tabs()->count(); ++page) tabs << dialog.tabs()->tabText(page);
    return {widest, tabs};
}

}  // namespace

class LanguageTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;

private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", home_.filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", home_.filePath("config").toUtf8());
        qputenv("TMPDIR", home_.path().toUtf8());
    }

    void languageChoice() {
        using L = InterfaceLanguage;
        QCOMPARE(chooseInterfaceLanguage({QStringLiteral("en-US"), QStringLiteral("ja")}), L::English);
        QCOMPARE(chooseInterfaceLanguage({QStringLiteral("en")}), L::English);
        QCOMPARE(chooseInterfaceLanguage({QStringLiteral("en_GB")}), L::English);
        QCOMPARE(chooseInterfaceLanguage({QStringLiteral("ja-JP")}), L::Japanese);
        QCOMPARE(chooseInterfaceLanguage({QStringLiteral("de-DE"), QStringLiteral("en")}), L::Japanese);
        QCOMPARE(chooseInterfaceLanguage({QStringLiteral("C")}), L::Japanese);
        QCOMPARE(chooseInterfaceLanguage({}), L::Japanese);
    }

    // Under LANGUAGE=en.
    void englishInterface() {
        QCOMPARE(installTranslations(), InterfaceLanguage::English);
        CTovikApp app;
        auto prompts = std::make_unique<RecordingPrompts>();
        RecordingPrompts* seen = prompts.get();
        app.setPrompts(std::move(prompts));
        QVERIFY(app.initInstance());
        CMainFrame& frame = *app.mainFrame();
        QCOMPARE(menuTitles(frame), QStringList({"Tools", "Edit", "View", "Favorites", "Help"}));
        QCOMPARE(frame.commandAction(ID_EXPORT)->text(), QStringLiteral("Export"));
        QCOMPARE(frame.commandAction(ID_ADD_KEY)->text(), QStringLiteral("Add Key"));
        QCOMPARE(seen->texts, QStringList{QStringLiteral("Use with great care. Export a key before you delete it.")});

        CStringEditDlg dialog(&frame);
        dialog.m_bAdd = true;
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.reject(); });
        dialog.exec();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Add String (REG_SZ)"));
        QStringList buttons;
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) buttons << button->text();
        QVERIFY2(buttons.contains(QStringLiteral("Browse...")), qPrintable(buttons.join('|')));

        // The core's texts, where the interface shows them.
        QCOMPARE(translated(tovik::kImportFinishedMessage), QStringLiteral("Import finished; the display is reset"));
        QCOMPARE(translated(tovik::kUnknownTagNoticeTemplate).arg(3),
                 QStringLiteral("3 value lines of an unknown type were skipped"));
        for (const char* source : coreTextSources()) {
            const QString text = QString::fromUtf8(source);
            QVERIFY2(translated(toU16View(text)) != text, source);
        }
        for (const std::u16string_view core : std::initializer_list<std::u16string_view>{
                 tovik::kExportCancelledMessage, tovik::kImportCancelledTemplate, tovik::kImportNotWrittenTemplate,
                 tovik::kNotRestorableTemplate, tovik::writeErrorReason(ERROR_BUSY), kNotAnIntegerMessage,
                 CTovikView::kTreeLoopsMessage})
            QVERIFY2(translated(core) != toQString(core), qPrintable(toQString(core)));
        QCOMPARE(cancelButtonText(), QStringLiteral("Cancel"));
        QCOMPARE(frame.commandAction(ID_OPEN_REGISTRY)->text(), QStringLiteral("Open Registry..."));
        const auto [englishWidth, englishTabs] = chooserNeeds(&frame);
        QVERIFY2(englishWidth <= kDialogMaxWidth, qPrintable(QString::number(englishWidth)));
        QCOMPARE(englishTabs, QStringList({"Found", "Recent", "Other Folder or File"}));
        QVERIFY2(findDialogButtons().contains(QStringLiteral("Cancel")), qPrintable(findDialogButtons().join('|')));
    }

    // Under LANGUAGE and LC_ALL=C: the Japanese source texts, and Qt's buttons in Japanese.
    void japaneseInterface() {
        QCOMPARE(installTranslations(), InterfaceLanguage::Japanese);
        CTovikApp app;
        app.setPrompts(std::make_unique<RecordingPrompts>());
        QVERIFY(app.initInstance());
        QCOMPARE(menuTitles(*app.mainFrame()),
                 QStringList({QString::fromUtf16(u"ﾂｰﾙ"), QString::fromUtf16(u"編集"), QString::fromUtf16(u"表示"),
                              QString::fromUtf16(u"お気に入り"), QString::fromUtf16(u"ﾍﾙﾌﾟ")}));
        QCOMPARE(translated(tovik::kImportFinishedMessage), toQString(tovik::kImportFinishedMessage));
        QVERIFY2(cancelButtonText().startsWith(QString::fromUtf16(u"キャンセル")), qPrintable(cancelButtonText()));
        // The find dialog is not one of the specified editors, whose buttons stay in English.
        QVERIFY2(findDialogButtons().contains(QString::fromUtf16(u"キャンセル")),
                 qPrintable(findDialogButtons().join('|')));
        const auto [width, tabs] = chooserNeeds(app.mainFrame());
        QVERIFY2(width <= kDialogMaxWidth, qPrintable(QString::number(width)));
        QCOMPARE(tabs.front(), QString::fromUtf16(u"見つかったもの"));
    }
};

QTEST_MAIN(LanguageTest)
#include "language_test.moc"
