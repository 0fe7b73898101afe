// Long work in the view: the progress dialog of import and export with its 中止, what stopping
// leaves behind, the tree after an import and after Add key, and dialogs that fit a small screen.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <fstream>
#include <iterator>

#include "backup/backup_export.h"
#include "backup/backup_import.h"
#include "backup/backup_test_util.h"
#include "backup/gui/import_confirm_dlg.h"
#include "editors/gui/binary_edit_dlg.h"
#include "editors/gui/number_edit_dlg.h"
#include "editors/gui/string_edit_dlg.h"
#include "registry/key_tree_ops.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "ui/long_work_progress.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/add_key_dlg.h"
#include "view/backup_commands.h"
#include "view/key_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"

using namespace testing_support;

namespace {

constexpr std::size_t kKeys = 3000;

std::u16string keyName(std::size_t n) {
    const std::string digits = std::to_string(n);
    return u"Big\\K" + std::u16string(digits.begin(), digits.end());
}

// A backup file of kKeys keys with one value each, under HKEY_CURRENT_USER.
void writeLargeBackup(const QString& path) {
    std::vector<std::u16string> lines{u"Tovik レジストリ退避ファイル Ver1.0", u"\\\\HKEY_CURRENT_USER", u"[Big]"};
    for (std::size_t n = 0; n < kKeys; ++n) {
        lines.push_back(u"[" + keyName(n) + u"]");
        lines.push_back(u"\"v\"=SZ:text");
    }
    const Bytes bytes = tovik::test::backupFileBytes(lines);
    std::ofstream out(path.toStdString(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The same keys as a .reg file (version 5): the header on line 1, then each key's line and its
// value's line, so that key n starts on line 2 + 2n.
void writeLargeRegFile(const QString& path) {
    std::u16string text = u"\uFEFFWindows Registry Editor Version 5.00\r\n";
    for (std::size_t n = 0; n < kKeys; ++n) text += u"[HKEY_CURRENT_USER\\" + keyName(n) + u"]\r\n\"v\"=\"text\"\r\n";
    std::ofstream out(path.toStdString(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Presses 中止 on the progress dialog once it shows; remembers the button's text.
struct CancelWhenShown {
    QString buttonText;
    bool pressed = false;
    QTimer timer;
    CancelWhenShown() {
        timer.setInterval(0);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QProgressDialog*>(w);
                if (dialog == nullptr || !dialog->isVisible() || pressed) continue;
                for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
                    buttonText = button->text();
                    button->click();
                    pressed = true;
                }
            }
        });
        timer.start();
    }
};

std::size_t importedKeys() {
    std::size_t n = 0;
    for (std::size_t k = 0; k < kKeys; ++k) n += keyExists(HKEY_CURRENT_USER, keyName(k)) ? 1 : 0;
    return n;
}

// Empty when every key of names below root is in the tree, each one's parent expanded and the last
// one's row on screen; else what is missing.
QString pathShown(CTovikView& view, HKEY root, const QStringList& names) {
    KeyTreeModel& tree = view.treeModel();
    KeyTreeModel::ItemId item = KeyTreeModel::kNoItem;
    for (auto candidate : tree.children(KeyTreeModel::kRootItem))
        if (tree.itemData(candidate) == root) item = candidate;
    if (item == KeyTreeModel::kNoItem) return QStringLiteral("no root item");
    for (const QString& name : names) {
        if (!view.keyTree()->isExpanded(tree.indexOf(item)))
            return QStringLiteral("the parent of %1 is closed").arg(name);
        KeyTreeModel::ItemId child = KeyTreeModel::kNoItem;
        for (auto candidate : tree.children(item))
            if (tree.itemText(candidate) == name) child = candidate;
        if (child == KeyTreeModel::kNoItem) return QStringLiteral("no item %1").arg(name);
        item = child;
    }
    return view.keyTree()->visualRect(tree.indexOf(item)).isEmpty() ? QStringLiteral("the key is off screen")
                                                                    : QString();
}

// Whether the widget lies inside a 480 by 800 screen's worth and is centred over the window.
void checkFitsAndCentred(QWidget& dialog, QWidget& window) {
    QVERIFY2(dialog.width() <= 480 && dialog.height() <= 800, qPrintable(QStringLiteral("%1 is %2x%3")
                                                                             .arg(dialog.metaObject()->className())
                                                                             .arg(dialog.width())
                                                                             .arg(dialog.height())));
    const QPoint offset = dialog.frameGeometry().center() - window.frameGeometry().center();
    const QRect screen = window.screen()->availableGeometry();
    // Centred, unless the screen's edge pushed it inside.
    if (screen.contains(dialog.frameGeometry()) && window.frameGeometry().contains(dialog.frameGeometry()))
        QVERIFY2(std::abs(offset.x()) <= 2 && std::abs(offset.y()) <= 2, dialog.metaObject()->className());
    QVERIFY(screen.contains(dialog.geometry()));
}

// The main window's start-up size, away from the screen's corner.
void showMainWindowSized(QWidget& window) {
    window.resize(360, 640);
    window.move(60, 80);
    window.show();
}

}  // namespace

class LongWorkTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", home_.filePath("config").toUtf8());
        qputenv("HOME", home_.path().toUtf8());
    }
    void init() {
        FreshRegistry();
        LongWorkProgress::setShowDelay(std::chrono::milliseconds(0));
    }
    void cleanup() { LongWorkProgress::setShowDelay(std::chrono::milliseconds(500)); }

private:
    // A view whose next import reads a large generated file (a backup file, or the same keys as
    // a .reg file) and confirms it.
    std::unique_ptr<CTovikView> viewImportingLargeFile(CTovikDoc& doc, ScriptedPrompts*& prompts,
                                                       bool regFile = false) {
        const QString file = home_.filePath(regFile ? "big.reg" : "big.txt");
        if (regFile)
            writeLargeRegFile(file);
        else
            writeLargeBackup(file);
        auto view = startScriptedView(doc, prompts);
        prompts->fileNames.push_back(file);
        prompts->dialogs.push_back([](QDialog&) { return IDOK; });
        return view;
    }

    // A view with HKEY_CURRENT_USER\Big (200 keys below it) selected, whose next export goes to
    // target, a file that holds a few bytes already.
    std::unique_ptr<CTovikView> viewExportingBigTo(const QString& target, CTovikDoc& doc, ScriptedPrompts*& prompts) {
        MakeKey(HKEY_CURRENT_USER, u"Big");
        for (std::size_t n = 0; n < 200; ++n) MakeKey(HKEY_CURRENT_USER, keyName(n));
        {
            QFile file(target);
            if (!file.open(QIODevice::WriteOnly) || file.write("what the file held") != 18) return nullptr;
        }
        auto view = startScriptedView(doc, prompts);
        if (!view->goToKey(HKEY_CURRENT_USER, u"Big")) return nullptr;
        prompts->fileNames.push_back(target);
        return view;
    }

private slots:

    void importStoppedKeepsWhatWasWrittenAndSaysWhere() {
        CTovikDoc doc;
        ScriptedPrompts* prompts = nullptr;
        auto view = viewImportingLargeFile(doc, prompts);

        CancelWhenShown cancel;
        view->commands().backup().OnImport();
        QVERIFY(cancel.pressed);
        QCOMPARE(cancel.buttonText, QString::fromUtf16(u"中止"));
        const std::size_t imported = importedKeys();
        QVERIFY2(imported < kKeys, "stopped before the end");
        // The message names the last line written: header, root line, [Big], then two per key.
        QCOMPARE(prompts->messages.size(), 1);
        const QString message = prompts->messages.front();
        QVERIFY2(message.startsWith(QString::fromUtf16(u"インポートを中止しました。")), qPrintable(message));
        const int lastLine =
            message.section(QString::fromUtf16(u"。"), 1).section(QString::fromUtf16(u"行目"), 0, 0).toInt();
        QVERIFY2(lastLine >= 3, qPrintable(message));
        const std::size_t keysBefore = lastLine >= 4 ? static_cast<std::size_t>(lastLine - 4) / 2 + 1 : 0;
        QCOMPARE(imported, keysBefore);
        // The tree is rebuilt with what was written.
        QVERIFY(view->treeModel().itemCount() > 3);
    }

    void regImportStoppedKeepsWhatWasWrittenAndSaysWhere() {
        CTovikDoc doc;
        ScriptedPrompts* prompts = nullptr;
        auto view = viewImportingLargeFile(doc, prompts, true);

        CancelWhenShown cancel;
        view->commands().backup().OnImport();
        QVERIFY(cancel.pressed);
        QCOMPARE(cancel.buttonText, QString::fromUtf16(u"中止"));
        QVERIFY(doc.isModified());
        const std::size_t imported = importedKeys();
        QVERIFY2(imported < kKeys, "stopped before the end");
        // The stop message names the last line applied, then the counts follow.
        QCOMPARE(prompts->messages.size(), 2);
        const QString message = prompts->messages.front();
        QVERIFY2(message.startsWith(QString::fromUtf16(u"インポートを中止しました。")), qPrintable(message));
        const int lastLine =
            message.section(QString::fromUtf16(u"。"), 1).section(QString::fromUtf16(u"行目"), 0, 0).toInt();
        QVERIFY2(lastLine >= 2, qPrintable(message));
        QCOMPARE(imported, static_cast<std::size_t>(lastLine - 2) / 2 + 1);
        QVERIFY2(prompts->messages[1].startsWith(QStringLiteral("キーを%1個、").arg(imported)),
                 qPrintable(prompts->messages[1]));
    }

    void regExportStoppedLeavesTheTargetAsItWas() {
        const QString target = home_.filePath("kept.reg");
        CTovikDoc doc;
        ScriptedPrompts* prompts = nullptr;
        auto view = viewExportingBigTo(target, doc, prompts);
        QVERIFY(view);
        prompts->chosenFilters.push_back(QString::fromUtf16(u"登録ファイル(*.reg)"));

        CancelWhenShown cancel;
        view->commands().backup().OnExport();
        QVERIFY(cancel.pressed);
        QCOMPARE(readAll(target), QByteArray("what the file held"));
        QCOMPARE(prompts->messages, QStringList{translated(tovik::kExportCancelledMessage)});

        cancel.timer.stop();
        prompts->fileNames.push_back(target);
        prompts->chosenFilters.push_back(QString::fromUtf16(u"登録ファイル(*.reg)"));
        prompts->messages.clear();
        view->commands().backup().OnExport();
        QVERIFY(prompts->messages.isEmpty());
        QVERIFY(readAll(target).startsWith(QByteArray("\xff\xfeW\0i\0n\0", 8)));
    }

    void importToTheEndShowsTheFirstKeyExpanded() {
        CTovikDoc doc;
        ScriptedPrompts* prompts = nullptr;
        auto view = viewImportingLargeFile(doc, prompts);
        view->commands().backup().OnImport();
        QCOMPARE(importedKeys(), kKeys);
        QCOMPARE(prompts->messages, QStringList{QString::fromUtf16(u"インポート終了、表示を初期化します")});
        // [Big] is the file's first key: HKEY_CURRENT_USER is open and Big's item shows.
        const QString shown = pathShown(*view, HKEY_CURRENT_USER, {QStringLiteral("Big")});
        QVERIFY2(shown.isEmpty(), qPrintable(shown));
    }

    void regImportToTheEndShowsTheFirstKeyExpanded() {
        CTovikDoc doc;
        ScriptedPrompts* prompts = nullptr;
        auto view = viewImportingLargeFile(doc, prompts, true);
        view->commands().backup().OnImport();
        QCOMPARE(importedKeys(), kKeys);
        QCOMPARE(prompts->messages.front(), QString::fromUtf16(u"インポート終了、表示を初期化します"));
        const QString shown = pathShown(*view, HKEY_CURRENT_USER, {QStringLiteral("Big"), QStringLiteral("K0")});
        QVERIFY2(shown.isEmpty(), qPrintable(shown));
    }

    void exportStoppedLeavesTheTargetAsItWas() {
        const QString target = home_.filePath("kept.txt");
        CTovikDoc doc;
        ScriptedPrompts* prompts = nullptr;
        auto view = viewExportingBigTo(target, doc, prompts);
        QVERIFY(view);

        CancelWhenShown cancel;
        view->commands().backup().OnExport();
        QVERIFY(cancel.pressed);
        QCOMPARE(readAll(target), QByteArray("what the file held"));
        QCOMPARE(prompts->messages, QStringList{translated(tovik::kExportCancelledMessage)});
        QCOMPARE(QDir(home_.path()).entryList(QStringList{QStringLiteral(".tovik-*")}, QDir::Hidden | QDir::Files),
                 QStringList());

        // Not stopped, the same export replaces the file.
        cancel.timer.stop();
        prompts->fileNames.push_back(target);
        prompts->messages.clear();
        view->commands().backup().OnExport();
        QVERIFY(prompts->messages.isEmpty());
        QVERIFY(readAll(target).size() > 200 * 10);
    }

    void quickWorkShowsNoProgress() {
        LongWorkProgress::setShowDelay(std::chrono::milliseconds(500));
        LongWorkProgress progress(nullptr, QStringLiteral("%1"), 10, true);
        for (std::size_t n = 0; n < 10; ++n) QVERIFY(progress.step(n));
        QVERIFY(!progress.shown());
    }

    void addKeyOpensTheParentSoTheNewKeyShows() {
        MakeKey(HKEY_CURRENT_USER, u"Parent");
        CTovikDoc doc;
        ScriptedPrompts* prompts = nullptr;
        auto view = startScriptedView(doc, prompts);
        KeyTreeModel& tree = view->treeModel();
        KeyTreeModel::ItemId parent = KeyTreeModel::kNoItem;
        for (auto root : tree.children(KeyTreeModel::kRootItem))
            if (tree.itemData(root) == HKEY_CURRENT_USER)
                for (auto item : tree.children(root))
                    if (tree.itemText(item) == QLatin1String("Parent")) parent = item;
        QVERIFY(parent != KeyTreeModel::kNoItem);
        view->selectItem(parent);
        QVERIFY(!view->keyTree()->isExpanded(tree.indexOf(parent)));
        prompts->dialogs.push_back([](QDialog& dialog) {
            static_cast<CAddKeyDlg&>(dialog).m_strKeyName = QStringLiteral("Child");
            return IDOK;
        });
        view->commands().keys().OnAddKey();
        QVERIFY(keyExists(HKEY_CURRENT_USER, u"Parent\\Child"));
        QVERIFY(view->keyTree()->isExpanded(tree.indexOf(parent)));
        QCOMPARE(tree.children(parent).size(), std::size_t{1});
        QVERIFY(!view->keyTree()->visualRect(tree.indexOf(tree.children(parent).front())).isEmpty());
    }

    void fileDialogsFitStartInTheLastFolderAndAreCentred() {
        QWidget window;
        showMainWindowSized(window);
        ViewPrompts prompts;
        const QString folder = home_.filePath("chosen");
        QVERIFY(QDir().mkpath(folder));
        QDir seen;
        bool checked = false;
        // The first save dialog starts at home; a file chosen in a folder makes it the next start.
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            checkFitsAndCentred(*dialog, window);
            seen = dialog->directory();
            dialog->setDirectory(folder);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(QStringLiteral("out.txt"));
            QTest::keyClick(name, Qt::Key_Return);
            checked = true;
        });
        QCOMPARE(prompts.saveFileName(&window, QStringLiteral("All (*)")), folder + QStringLiteral("/out.txt"));
        QVERIFY(checked);
        QCOMPARE(seen.absolutePath(), QDir::homePath());
        QCOMPARE(QSettings(QStringLiteral("tovik"), QStringLiteral("tovik")).value("dialogs/lastFolder").toString(),
                 folder);
        QVERIFY(QFile::exists(home_.filePath("config/tovik/tovik.conf")));

        checked = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            checkFitsAndCentred(*dialog, window);
            seen = dialog->directory();
            dialog->reject();
            checked = true;
        });
        QVERIFY(prompts.openFileName(&window, QStringLiteral("All (*)")).isEmpty());
        QVERIFY(checked);
        QCOMPARE(seen.absolutePath(), folder);
    }

    void theAllFilesFilterListsNamesWithoutADot() {
        QWidget window;
        showMainWindowSized(window);
        ViewPrompts prompts;
        const QString folder = home_.filePath("filtered");
        QVERIFY(QDir().mkpath(folder));
        for (const char* name : {"README", "notes.txt", "saved.reg"})
            QVERIFY(QFile(folder + '/' + name).open(QIODevice::WriteOnly));
        const QString all = QString::fromUtf16(u"全て(*.*)");
        QStringList listed[3];
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->setDirectory(folder);
            auto* model = dialog->findChild<QFileSystemModel*>();
            auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            QVERIFY(model && types);
            const auto shown = [&] {
                QStringList names;
                const QModelIndex parent = model->index(folder);
                for (int row = 0; row < model->rowCount(parent); ++row)
                    names << model->index(row, 0, parent).data().toString();
                names.sort();
                return names;
            };
            const auto choose = [&](int index) {  // as a user picks it
                types->setCurrentIndex(index);
                emit types->activated(index);
                emit types->textActivated(types->itemText(index));
            };
            QTRY_COMPARE(shown().size(), 3);  // the first filter, "*.*", from the start
            listed[0] = shown();
            choose(1);
            QTRY_COMPARE(shown().size(), 1);
            listed[1] = shown();
            choose(0);
            QTRY_COMPARE(shown().size(), 3);
            listed[2] = shown();
            dialog->reject();
        });
        QVERIFY(prompts.openFileName(&window, all + QStringLiteral(";;Reg (*.reg)")).isEmpty());
        const QStringList every{"README", "notes.txt", "saved.reg"};
        QCOMPARE(listed[0], every);
        QCOMPARE(listed[1], QStringList{"saved.reg"});
        QCOMPARE(listed[2], every);
    }

    void everyDialogFitsASmallScreenCentredOverTheWindow() {
        QWidget window;
        showMainWindowSized(window);
        ViewPrompts prompts;
        std::vector<std::unique_ptr<QDialog>> dialogs;
        dialogs.push_back(std::make_unique<CStringEditDlg>(&window));
        dialogs.push_back(std::make_unique<CNumberEditDlg>(&window));
        dialogs.push_back(std::make_unique<CBinaryEditDlg>(&window));
        dialogs.push_back(std::make_unique<CAddKeyDlg>(&window));
        dialogs.push_back(std::make_unique<CImportConfirmDlg>(&window));
        for (auto& dialog : dialogs) {
            bool checked = false;
            QTimer::singleShot(0, [&] {
                checkFitsAndCentred(*dialog, window);
                checked = true;
                dialog->reject();
            });
            prompts.DoModal(*dialog);
            QVERIFY2(checked, dialog->metaObject()->className());
        }
    }
};

QTEST_MAIN(LongWorkTest)
#include "long_work_test.moc"
