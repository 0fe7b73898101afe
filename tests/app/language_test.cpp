// The interface's language: Japanese unless the user's languages ask for English first; Qt's own
// buttons follow. Run once under LANGUAGE=en and once under the C locale (see CMakeLists).
#include <QAction>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QComboBox>
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
    int MessageBox(QWidget*, const QString& text, MessageButtons) override {
        texts << text;
        return IDOK;
    }
};

QStringList MenuTitles(CMainFrame& frame) {
    QStringList titles;
    for (QAction* action : frame.menuBar()->actions()) titles << action->text();
    return titles;
}

QStringList FindDialogButtons() {
    CFindDlg dialog;
    QStringList buttons;
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) buttons << button->text();
    return buttons;
}

QString CancelButtonText() {
    QMessageBox box(QMessageBox::NoIcon, QString(), QString(), QMessageBox::Ok | QMessageBox::Cancel);
    return box.button(QMessageBox::Cancel)->text();
}

// The width the chooser needs at least, on its widest page and kind, and its tab titles; the
// chooser fits a 480-pixel screen only when that width is within kDialogMaxWidth.
std::pair<int, QStringList> ChooserNeeds(QWidget* parent) {
    ViewPrompts prompts;
    COpenRegistryDlg dialog(prompts, parent);
    int widest = 0;
    for (int page = 0; page < dialog.Tabs()->count(); ++page) {
        dialog.Tabs()->setCurrentIndex(page);
        for (int kind = 0; kind < dialog.OtherKindBox()->count(); ++kind) {
            dialog.OtherKindBox()->setCurrentIndex(kind);
            widest = std::max(widest, dialog.minimumSizeHint().width());
        }
    }
    QStringList tabs;
    for (int page = 0; page < dialog.Tabs()->count(); ++page) tabs << dialog.Tabs()->tabText(page);
    return {widest, tabs};
}

}  // namespace

class LanguageTest : public QObject {
    Q_OBJECT
    QTemporaryDir home;

private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
        qputenv("TMPDIR", home.path().toUtf8());
    }

    void languageChoice() {
        using L = InterfaceLanguage;
        QCOMPARE(ChooseInterfaceLanguage({QStringLiteral("en-US"), QStringLiteral("ja")}), L::English);
        QCOMPARE(ChooseInterfaceLanguage({QStringLiteral("en")}), L::English);
        QCOMPARE(ChooseInterfaceLanguage({QStringLiteral("en_GB")}), L::English);
        QCOMPARE(ChooseInterfaceLanguage({QStringLiteral("ja-JP")}), L::Japanese);
        QCOMPARE(ChooseInterfaceLanguage({QStringLiteral("de-DE"), QStringLiteral("en")}), L::Japanese);
        QCOMPARE(ChooseInterfaceLanguage({QStringLiteral("C")}), L::Japanese);
        QCOMPARE(ChooseInterfaceLanguage({}), L::Japanese);
    }

    // Under LANGUAGE=en.
    void englishInterface() {
        QCOMPARE(InstallTranslations(), InterfaceLanguage::English);
        CTovikApp app;
        auto prompts = std::make_unique<RecordingPrompts>();
        RecordingPrompts* seen = prompts.get();
        app.SetPrompts(std::move(prompts));
        QVERIFY(app.InitInstance());
        CMainFrame& frame = *app.MainFrame();
        QCOMPARE(MenuTitles(frame), QStringList({"Tools", "Edit", "View", "Favorites", "Help"}));
        QCOMPARE(frame.CommandAction(ID_EXPORT)->text(), QStringLiteral("Export"));
        QCOMPARE(frame.CommandAction(ID_ADD_KEY)->text(), QStringLiteral("Add Key"));
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
        QCOMPARE(Translated(tovik::kImportFinishedMessage), QStringLiteral("Import finished; the display is reset"));
        QCOMPARE(Translated(tovik::kUnknownTagNoticeTemplate).arg(3), QStringLiteral("3 value lines of an unknown type were skipped"));
        for (const char* source : CoreTextSources()) {
            const QString text = QString::fromUtf8(source);
            QVERIFY2(Translated(ToU16View(text)) != text, source);
        }
        for (const std::u16string_view core : std::initializer_list<std::u16string_view>{tovik::kExportCancelledMessage, tovik::kImportCancelledTemplate,
                                         tovik::kImportNotWrittenTemplate, tovik::kNotRestorableTemplate,
                                         tovik::WriteErrorReason(ERROR_BUSY), kNotAnIntegerMessage,
                                         CTovikView::kTreeLoopsMessage})
            QVERIFY2(Translated(core) != ToQString(core), qPrintable(ToQString(core)));
        QCOMPARE(CancelButtonText(), QStringLiteral("Cancel"));
        QCOMPARE(frame.CommandAction(ID_OPEN_REGISTRY)->text(), QStringLiteral("Open Registry..."));
        const auto [englishWidth, englishTabs] = ChooserNeeds(&frame);
        QVERIFY2(englishWidth <= kDialogMaxWidth, qPrintable(QString::number(englishWidth)));
        QCOMPARE(englishTabs, QStringList({"Found", "Recent", "Other Folder or File"}));
        QVERIFY2(FindDialogButtons().contains(QStringLiteral("Cancel")), qPrintable(FindDialogButtons().join('|')));
    }

    // Under LANGUAGE and LC_ALL=C: the Japanese source texts, and Qt's buttons in Japanese.
    void japaneseInterface() {
        QCOMPARE(InstallTranslations(), InterfaceLanguage::Japanese);
        CTovikApp app;
        app.SetPrompts(std::make_unique<RecordingPrompts>());
        QVERIFY(app.InitInstance());
        QCOMPARE(MenuTitles(*app.MainFrame()),
                 QStringList({QString::fromUtf16(u"ﾂｰﾙ"), QString::fromUtf16(u"編集"), QString::fromUtf16(u"表示"),
                              QString::fromUtf16(u"お気に入り"), QString::fromUtf16(u"ﾍﾙﾌﾟ")}));
        QCOMPARE(Translated(tovik::kImportFinishedMessage), ToQString(tovik::kImportFinishedMessage));
        QVERIFY2(CancelButtonText().startsWith(QString::fromUtf16(u"キャンセル")), qPrintable(CancelButtonText()));
        // The find dialog is not one of the specified editors, whose buttons stay in English.
        QVERIFY2(FindDialogButtons().contains(QString::fromUtf16(u"キャンセル")), qPrintable(FindDialogButtons().join('|')));
        const auto [width, tabs] = ChooserNeeds(app.MainFrame());
        QVERIFY2(width <= kDialogMaxWidth, qPrintable(QString::number(width)));
        QCOMPARE(tabs.front(), QString::fromUtf16(u"見つかったもの"));
    }
};

QTEST_MAIN(LanguageTest)
#include "language_test.moc"
