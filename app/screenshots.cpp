// Renders the main window and the dialogs offscreen into PNG files, on a throw-away copy of the
// default registry: tovik-screenshots OUTPUT_DIR [WINE_PREFIX] (with a prefix, its tree as well)
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>
#include <deque>
#include <optional>

#include "app/about_dlg.h"
#include "app/chooser_screenshots.h"
#include "app/editor_screenshots.h"
#include "app/main_frame.h"
#include "app/screenshot_support.h"
#include "app/tovik_app.h"
#include "app/value_screenshots.h"
#include "backup/backup_export.h"
#include "backup/backup_import.h"
#include "backup/gui/import_confirm_dlg.h"
#include "history/recording_backend.h"
#include "regfile/reg_lines.h"
#include "registry/key_handle.h"
#include "registry/key_time.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/roots.h"
#include "stores/open_store.h"
#include "ui/long_work_progress.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/add_key_dlg.h"
#include "view/command_ids.h"
#include "view/compare_dlg.h"
#include "view/compare_result_dlg.h"
#include "view/find_dlg.h"
#include "view/find_results_dlg.h"
#include "view/history_commands.h"
#include "view/history_dlg.h"
#include "view/import_preview_lines.h"
#include "view/key_commands.h"
#include "view/key_time_filter.h"
#include "view/navigation_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"
#include <QTreeWidget>
#include <functional>

namespace {

QString outputDir;

// The key with the most kinds of value types, to show them side by side.
QString keyWithMixedValues() {
    return QString::fromUtf16(u"HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Serial");
}

// The import confirmation on a real file: a key of the throw-away registry exported to a backup
// file and read back as Import reads it.
void saveImportConfirmation(const QString& key) {
    QTemporaryDir fileDir;
    const std::string file = fileDir.filePath(QStringLiteral("backup.txt")).toStdString();
    const QStringList parts = key.split(QLatin1Char('\\'));
    const tovik::RootInfo* rootInfo = tovik::findRootByName(toU16View(parts.front()));
    const HKEY root = rootInfo ? rootInfo->handle : HKEY_CLASSES_ROOT;
    const QString path = parts.mid(1).join(QLatin1Char('\\'));
    const tovik::ExportResult exported = tovik::exportKeyToFile(file, root, toU16View(path));
    const std::optional<tovik::BackupFileLines> read = tovik::readBackupFileAt(file);
    if (exported.outcome != tovik::ExportOutcome::Written || !read) {
        std::fprintf(stderr, "could not export %s for the import confirmation\n", qPrintable(key));
        return;
    }
    CImportConfirmDlg confirmation;
    confirmation.m_pLines = &read->lines;
    saveGrab(confirmation, outputDir, QStringLiteral("import_confirm"));
    confirmation.hide();
}

// The frame at its start size, laid out as at start.
void showPortrait(CMainFrame& frame) {
    frame.resize(kFrameWidth, kFrameHeight);
    frame.layout()->activate();
    frame.view()->OnInitialUpdate();
    frame.show();
}

// The tree of a Wine prefix (made by wineboot; too slow to make here) with its status line.
bool saveWinePrefix(const QString& prefix) {
    tovik::RegistrySource source;
    source.kind = tovik::RegistrySource::Kind::WinePrefix;
    source.path = prefix.toStdString();
    const tovik::StoreOpenResult opened = tovik::openRegistry(source);
    if (!opened.ok) {
        std::fprintf(stderr, "%s\n", opened.error.c_str());
        return false;
    }
    CTovikDoc doc;
    CMainFrame frame(&doc);
    frame.showRegistryLocation(QString::fromStdString(opened.location), opened.readOnly);
    showPortrait(frame);
    CTovikView* view = frame.view();
    if (!selectKeyPath(view, QStringLiteral("HKEY_CURRENT_USER\\Software\\Wine")))
        std::fprintf(stderr, "HKEY_CURRENT_USER\\Software\\Wine not found in the prefix\n");
    saveGrab(frame, outputDir, QStringLiteral("wine_prefix"));
    return true;
}

// The key with mixed values, its first value selected.
bool selectMixedValues(CTovikView* view) {
    if (!selectKeyPath(view, keyWithMixedValues())) return false;
    if (view->listModel().valueCount() > 0)
        view->valueList()->selectionModel()->select(view->listModel().index(0, 0),
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return true;
}

// The main window at each text size a desktop may ask for (main_9pt.png, ...): the portrait
// layout must hold at all of them. A frame that grew past its portrait width is reported.
void saveMainWindowAtTextSizes() {
    const QFont desktop = QApplication::font();
    for (const int points : {9, 11, 14}) {
        QFont font = desktop;
        font.setPointSize(points);
        QApplication::setFont(font);
        CTovikDoc doc;
        CMainFrame frame(&doc);
        showPortrait(frame);
        selectMixedValues(frame.view());
        const QString name = QStringLiteral("main_%1pt").arg(points);
        saveGrab(frame, outputDir, name);
        if (frame.width() > kFrameWidth || frame.minimumSizeHint().width() > kFrameWidth)
            std::fprintf(stderr, "%s: the frame is %d pixels wide (at least %d), more than its %d\n", qPrintable(name),
                         frame.width(), frame.minimumSizeHint().width(), kFrameWidth);
    }
    QApplication::setFont(desktop);
}

void setSampleDword(const std::u16string& path, const std::u16string& name, DWORD value) {
    tovik::KeyHandle key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, 0, nullptr, key.receive(), nullptr) ==
        ERROR_SUCCESS)
        RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// 変更履歴 after a few changes made as the window's commands make them, the newest undone.
void saveHistoryWindow(CTovikView& view) {
    const auto change = [](int command, const std::u16string& key, const std::function<void()>& write) {
        tovik::history::ChangeScope scope(toU16(HistoryCommands::commandName(command)), u"HKEY_CURRENT_USER\\" + key);
        write();
    };
    change(ID_ADD_KEY, u"Software\\Sample", [] {
        tovik::KeyHandle key;
        RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Sample\\Settings", 0, nullptr, 0, 0, nullptr, key.receive(),
                        nullptr);
    });
    change(ID_ADD_DWORD_VALUE, u"Software\\Sample\\Settings",
           [] { setSampleDword(u"Software\\Sample\\Settings", u"Volume", 80); });
    change(ID_ADD_STRING_VALUE, u"Software\\Sample\\Settings",
           [] { setSampleDword(u"Software\\Sample\\Settings", u"Level", 3); });
    change(ID_DELETE_VALUE, u"Software\\Sample\\Settings", [] {
        tovik::KeyHandle key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Sample\\Settings", 0, 0, key.receive()) == ERROR_SUCCESS)
            RegDeleteValueW(key.get(), u"Level");
    });
    change(ID_DELETE_KEY, u"Software\\Sample", [] { deleteKeyTree(HKEY_CURRENT_USER, u"Software\\Sample"); });
    view.OnCommand(ID_UNDO);
    view.OnCommand(ID_HISTORY);
    if (CHistoryDlg* dialog = view.commands().history().dialog()) {
        dialog->resize(kFrameWidth, 360);
        dialog->list()->setCurrentItem(dialog->list()->topLevelItem(2));
        saveGrab(*dialog, outputDir, QStringLiteral("history"));
        dialog->close();
    }
}

// The tree filtered to the keys that an installer has just written, with the keys above them.
void saveKeyTreeFilter(CMainFrame& frame) {
    const std::int64_t since = tovik::fileTimeNow() + 1;
    while (tovik::fileTimeNow() < since) {}
    for (const char16_t* path : {u"Drivers\\BuiltIn\\Serial", u"Software\\Sample Installer\\Settings"}) {
        tovik::KeyHandle key;
        const DWORD installed = 1;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, 0, nullptr, key.receive(), nullptr) ==
            ERROR_SUCCESS)
            RegSetValueExW(key.get(), u"Installed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&installed),
                           sizeof installed);
    }
    CTovikView* view = frame.view();
    view->reloadTree();
    view->OnCommand(ID_FILTER_BY_TIME);
    view->commands().timeFilter().filterSince(since);
    selectKeyPath(view, keyWithMixedValues());
    saveGrab(frame, outputDir, QStringLiteral("key_tree_filter"));
    view->OnCommand(ID_CLEAR_TIME_FILTER);
}

// 比較結果 of two sample keys of this registry: a value changed, one only on each side, a key only
// on side B; differences only.
void saveCompareWindow(CTovikView& view) {
    setSampleDword(u"Software\\Before\\Settings", u"Volume", 80);
    setSampleDword(u"Software\\Before\\Settings", u"Level", 3);
    setSampleDword(u"Software\\After\\Settings", u"Volume", 65);
    setSampleDword(u"Software\\After\\Settings", u"Speed", 2);
    setSampleDword(u"Software\\After\\Settings\\Audio", u"Channels", 6);
    const auto side = [](const std::u16string& path) {
        CompareSource source;
        source.side = {tovik::currentBackend(), HKEY_CURRENT_USER, path};
        source.label = QStringLiteral("HKEY_CURRENT_USER\\") + toQString(path);
        source.writable = true;
        return source;
    };
    // The 比較 dialog first, asking for a hive file (the kind with every row shown).
    CCompareDlg ask(QStringLiteral("HKEY_CURRENT_USER\\Software\\Before"), &view);
    ask.kind()->setCurrentIndex(ask.kind()->findData(static_cast<int>(CompareTarget::Kind::Hive)));
    ask.location()->setText(QStringLiteral("/mnt/windows/Windows/System32/config/SOFTWARE"));
    ask.mountAs()->setText(QStringLiteral("HKLM\\SOFTWARE"));
    ask.resize(kFrameWidth, ask.sizeHint().height());
    saveGrab(ask, outputDir, QStringLiteral("compare"));

    CCompareResultDlg result(side(u"Software\\Before"), side(u"Software\\After"), view.prompts(), &view);
    result.resize(kFrameWidth, 420);
    if (result.compare()) {
        result.tree()->expandAll();
        // A changed value selected: both sides offer to take the other's.
        const QList<QTreeWidgetItem*> volume =
            result.tree()->findItems(QStringLiteral("Volume"), Qt::MatchExactly | Qt::MatchRecursive);
        if (!volume.isEmpty()) result.tree()->setCurrentItem(volume.first());
        saveGrab(result, outputDir, QStringLiteral("compare_result"));
    }
}

// The .reg import's confirmation and its 変更点... window, against the keys the comparison
// above made: a value changed, one deleted, one added, a key created and one deleted.
void saveImportPreview(CTovikView& view) {
    static const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Before\\Settings]\r\n"
        u"\"Volume\"=dword:00000041\r\n\"Level\"=-\r\n\"Speed\"=dword:00000002\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Before\\Settings\\Audio]\r\n\"Channels\"=dword:00000006\r\n\r\n"
        u"[-HKEY_CURRENT_USER\\Software\\After]\r\n";
    const tovik::RegFileLineIndex lines(text);
    CImportConfirmDlg confirmation(&view);
    confirmation.m_pRegLines = &lines;
    tovik::Backend* registry = tovik::currentBackend();
    if (registry == nullptr) return;
    confirmation.m_preview = [registry] { return importPreviewLines(text, *registry); };
    confirmation.show();
    if (QDialog* preview = confirmation.showPreview()) {
        saveGrab(*preview, outputDir, QStringLiteral("import_preview"));
        preview->hide();
    }
    confirmation.hide();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    installTranslations();  // LANGUAGE=en renders the English interface
    applyInterfaceFont();
    outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(outputDir);

    QTemporaryDir storeDir;
    // The sample registry's change history stays beside it, never in the user's state folder.
    qputenv("XDG_STATE_HOME", storeDir.filePath(QStringLiteral("state")).toUtf8());
    const tovik::StoreOpenResult store =
        tovik::openUserRegistry(storeDir.filePath(QStringLiteral("registry.db")).toStdString());
    if (!store.ok) {
        std::fprintf(stderr, "%s\n", store.error.c_str());
        return 1;
    }

    CTovikDoc doc;
    CMainFrame frame(&doc);
    showPortrait(frame);
    CTovikView* view = frame.view();

    selectKeyPath(view, QStringLiteral("HKEY_LOCAL_MACHINE"));
    saveGrab(frame, outputDir, QStringLiteral("main_window_root"));
    if (!selectMixedValues(view)) std::fprintf(stderr, "key for the screenshot not found\n");
    saveGrab(frame, outputDir, QStringLiteral("main_window"));

    view->OnViewKeysOnly();
    saveGrab(frame, outputDir, QStringLiteral("main_window_keys_only"));
    view->OnViewBoth();

    QMessageBox caution(QMessageBox::NoIcon, QStringLiteral("Harnet"), startupCautionText(), QMessageBox::Ok, &frame);
    saveGrab(caution, outputDir, QStringLiteral("caution"));
    caution.hide();

    CAboutDlg about(&frame);
    saveGrab(about, outputDir, QStringLiteral("about"));
    about.hide();

    CAddKeyDlg addKey(&frame);
    addKey.m_strParentPath = QStringLiteral("Drivers\\BuiltIn\\Serial");
    addKey.m_strKeyName = QStringLiteral("Config2");
    saveGrab(addKey, outputDir, QStringLiteral("add_key"));
    addKey.hide();

    QMessageBox deleteKey(QMessageBox::NoIcon, appCaption(), KeyCommands::deleteKeyQuestion(QStringLiteral("Serial")),
                          QMessageBox::Yes | QMessageBox::No, &frame);
    saveGrab(deleteKey, outputDir, QStringLiteral("delete_key"));
    deleteKey.hide();

    saveImportConfirmation(keyWithMixedValues());

    CFindDlg findDialog(&frame);
    findDialog.m_strText = QStringLiteral("Serial");
    saveGrab(findDialog, outputDir, QStringLiteral("find"));
    findDialog.hide();
    // Keys written on one day, without a text.
    CFindDlg findByDay(&frame);
    findByDay.m_bChangedBetween = true;
    saveGrab(findByDay, outputDir, QStringLiteral("find_by_day"));
    findByDay.hide();

    tovik::find::FindOptions serial;
    serial.text = u"Serial";
    tovik::find::RegistryFind all = tovik::find::RegistryFind::findAll(serial);
    tovik::find::runFind(all);
    CFindResultsDlg results(&frame);
    results.setHits(all.hits(), all.truncated());
    results.resize(kFrameWidth, 420);
    saveGrab(results, outputDir, QStringLiteral("find_results"));
    results.hide();

    // The address line with a typed path, about to go there.
    frame.navigation()->goToPath(keyWithMixedValues());
    frame.navigation()->addressBar()->setText(QStringLiteral("hklm\\drivers\\builtin\\"));
    frame.navigation()->OnFocusAddressBar();
    frame.navigation()->addressBar()->deselect();
    saveGrab(frame, outputDir, QStringLiteral("address_bar"));
    {
        // An import part way, as the progress dialog shows it after its first half second.
        LongWorkProgress::setShowDelay(std::chrono::milliseconds(0));
        LongWorkProgress progress(&frame, Tovik::tr("インポートしています…"), 100, true);
        progress.step(40);
        if (auto* dialog = frame.findChild<QProgressDialog*>())
            saveGrab(*dialog, outputDir, QStringLiteral("progress"));
        progress.close();
    }

    saveChooserScreenshots(*view, outputDir);
    saveEditorScreenshots(outputDir);
    saveValueCommandScreenshots(frame, outputDir);
    saveMainWindowAtTextSizes();
    saveHistoryWindow(*view);
    saveCompareWindow(*view);
    saveImportPreview(*view);
    saveKeyTreeFilter(frame);
    if (argc > 2) return saveWinePrefix(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    return 0;
}
