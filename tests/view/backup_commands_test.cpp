// Export and Import from the view, with scripted file names, confirmation and message boxes.
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
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
#include "backup/registry_test_util.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "support/tree_helpers.h"
#include "ui/qt_text.h"
#include "view/backup_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"

using namespace testing_support;
using ItemId = KeyTreeModel::ItemId;
using Lines = std::vector<std::u16string_view>;

namespace {

const QString kNoKey = QString::fromUtf16(u"キーが選択されていません");
const QString kNotUnicode = QString::fromUtf16(u"Unicodeではありません");
const QString kFormatError = QString::fromUtf16(u"ファイル形式エラー インポート失敗");
const QString kNoRoot = QString::fromUtf16(u"ルートキーなし インポート失敗");
const QString kBroken =
    QString::fromUtf16(u"インポートファイルが壊れています。ロード途中で終了しました。表示も不正になります。");
const QString kFinished = QString::fromUtf16(u"インポート終了、表示を初期化します");
constexpr std::u16string_view kHeader = u"Tovik レジストリ退避ファイル Ver1.0";

Bytes readBytes(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const QString& path, const Bytes& bytes) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A file under HKEY_CURRENT_USER with the given lines after the root line.
Bytes userFile(Lines data) {
    Lines lines{kHeader, u"\\\\HKEY_CURRENT_USER"};
    lines.insert(lines.end(), data.begin(), data.end());
    return tovik::test::backupFileBytes(lines);
}

std::optional<DWORD> dwordValue(HKEY root, const std::u16string& path, const std::u16string& name) {
    const auto value = tovik::test::readValue(root, path, name);
    if (!value || value->type != REG_DWORD || value->data.size() != 4) return std::nullopt;
    return value->data[0] | value->data[1] << 8 | value->data[2] << 16 | static_cast<DWORD>(value->data[3]) << 24;
}

// Records what the view shows at the moment each message appears.
struct ObservingPrompts : ScriptedPrompts {
    std::function<void(const QString&)> onMessage;
    int messageBox(QWidget* parent, const QString& text, MessageButtons buttons) override {
        if (onMessage) onMessage(text);
        return ScriptedPrompts::messageBox(parent, text, buttons);
    }
};

// What the confirmation showed: its rows, read through the list's own model while it is shown.
struct Confirmation {
    bool shown = false;
    QStringList rows;
    QString title;
};

std::function<int(QDialog&)> confirm(Confirmation& seen, int answer) {
    return [&seen, answer](QDialog& dialog) {
        dialog.show();
        auto* list = static_cast<CImportConfirmDlg&>(dialog).m_listLines;
        seen.shown = true;
        seen.title = dialog.windowTitle();
        for (int row = 0; row < list->model()->rowCount(); ++row)
            seen.rows << list->model()->index(row, 0).data().toString();
        dialog.hide();
        return answer;
    };
}

}  // namespace

class BackupCommandsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view_;
    ObservingPrompts* prompts_ = nullptr;
    CTovikDoc doc_;
    std::unique_ptr<QTemporaryDir> dir_;

    void startView() { view_ = testing_support::startScriptedView(doc_, prompts_); }
    void select(const QStringList& path) {
        const ItemId item = itemAt(view_->treeModel(), path);
        QVERIFY(item != KeyTreeModel::kNoItem);
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        view_->selectItem(item);
        QVERIFY(refreshed.wait(2000));
    }
    QString file(const QString& name) const { return dir_->filePath(name); }
    // Runs Import on a file holding bytes, confirming with answer.
    Confirmation importFile(const Bytes& bytes, int answer = IDOK) {
        const QString path = file("import.txt");
        writeBytes(path, bytes);
        Confirmation seen;
        prompts_->fileNames.push_back(path);
        prompts_->dialogs.push_back(confirm(seen, answer));
        view_->commands().backup().OnImport();
        prompts_->dialogs.clear();  // a confirmation that never came must not outlive seen
        return seen;
    }

    void makeExampleRegistry() {
        const std::u16string sample = u"Software\\Sample";
        SetValue(HKEY_LOCAL_MACHINE, sample, u"", REG_SZ, stringToBytes(u"Sample application"));
        SetValue(HKEY_LOCAL_MACHINE, sample, u"Version", REG_DWORD, dwordToBytes(260));
        SetValue(HKEY_LOCAL_MACHINE, sample, u"Flags", REG_DWORD, dwordToBytes(0xFFFFFFFF));
        SetValue(HKEY_LOCAL_MACHINE, sample, u"Data", REG_BINARY, {0x0A, 0xFF, 0x00});
        SetValue(HKEY_LOCAL_MACHINE, sample, u"Paths", REG_MULTI_SZ, TextToMultiSz(u"\\Windows|\\Temp||"));
        SetValue(HKEY_LOCAL_MACHINE, sample + u"\\Options", u"Order", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0});
        SetValue(HKEY_LOCAL_MACHINE, sample + u"\\Options", u"Empty", REG_NONE, {});
    }

private slots:
    void init() {
        FreshRegistry();
        doc_.OnNewDocument();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() {
        view_.reset();
        dir_.reset();
    }

    void exportWritesTheSelectedKeyWithItsSubtree() {
        makeExampleRegistry();
        SetValue(HKEY_LOCAL_MACHINE, u"Software\\Zother", u"x", REG_SZ, stringToBytes(u"not below"));
        startView();
        select({"HKEY_LOCAL_MACHINE", "Software", "Sample"});
        prompts_->fileNames.push_back(file("sample.txt"));
        view_->commands().backup().OnExport();
        QVERIFY(readBytes(file("sample.txt")) == tovik::test::exampleFileBytes());
        QVERIFY(prompts_->messages.isEmpty());  // a finished export says nothing
        QVERIFY(!doc_.isModified());

        // A root: its own key line [] first, then its values, then subkeys named without a backslash.
        SetValue(HKEY_CURRENT_USER, u"", u"top", REG_DWORD, dwordToBytes(1));
        SetValue(HKEY_CURRENT_USER, u"Software", u"v", REG_SZ, stringToBytes(u"s"));
        select({"HKEY_CURRENT_USER"});
        prompts_->fileNames.push_back(file("sample.txt"));  // replaced without a question
        view_->commands().backup().OnExport();
        QVERIFY(readBytes(file("sample.txt")) ==
                tovik::test::backupFileBytes(
                    Lines{kHeader, u"\\\\HKEY_CURRENT_USER", u"[]", u"\"top\"=DW:1(1)", u"[Software]", u"\"v\"=SZ:s"}));
        QVERIFY(prompts_->messages.isEmpty());

        // The command line writes the same bytes for the same key.
        QCOMPARE(tovik::exportKeyToFile(file("cli.txt").toStdString(), HKEY_CURRENT_USER, u"").outcome,
                 tovik::ExportOutcome::Written);
        QVERIFY(readBytes(file("cli.txt")) == readBytes(file("sample.txt")));
    }

    void exportWithoutAKeyOrWithADialogCancelled() {
        startView();
        view_->commands().backup().OnExport();  // dialog cancelled: nothing at all
        QVERIFY(prompts_->messages.isEmpty());
        QVERIFY(QDir(dir_->path()).isEmpty());

        prompts_->fileNames.push_back(file("new.txt"));
        view_->commands().backup().OnExport();
        QCOMPARE(prompts_->messages, QStringList({kNoKey}));
        QVERIFY(readBytes(file("new.txt")) == tovik::test::backupFileBytes(Lines{kHeader}));

        // An existing file keeps what it held.
        writeBytes(file("old.txt"), {'o', 'l', 'd'});
        prompts_->fileNames.push_back(file("old.txt"));
        view_->commands().backup().OnExport();
        QCOMPARE(prompts_->messages, QStringList({kNoKey, kNoKey}));
        QVERIFY(readBytes(file("old.txt")) == Bytes({'o', 'l', 'd'}));
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList({"new.txt", "old.txt"}));
    }

    void exportFailuresAreToldAndLoseNothing() {
        MakeKey(HKEY_LOCAL_MACHINE, u"Gone");
        startView();
        select({"HKEY_LOCAL_MACHINE", "Gone"});
        prompts_->fileNames.push_back(file("missing/sub.txt"));
        view_->commands().backup().OnExport();
        QCOMPARE(prompts_->messages, QStringList({toQString(tovik::kExportFileNotCreatedMessage)}));

        // The key was deleted by someone else after it was selected.
        QVERIFY(deleteKeyTree(HKEY_LOCAL_MACHINE, u"Gone"));
        writeBytes(file("old.txt"), {'o', 'l', 'd'});
        prompts_->fileNames.push_back(file("old.txt"));
        view_->commands().backup().OnExport();
        QCOMPARE(prompts_->messages.last(), toQString(tovik::kExportKeyNotOpenedMessage));
        QVERIFY(readBytes(file("old.txt")) == Bytes({'o', 'l', 'd'}));
        QVERIFY(!view_->commands().backup().isExporting());
    }

    void importOfTheExampleResetsTheView() {
        SetValue(HKEY_CURRENT_USER, u"Before", u"shown", REG_SZ, stringToBytes(u"row"));
        startView();
        select({"HKEY_CURRENT_USER", "Before"});
        QCOMPARE(view_->listModel().valueCount(), 1);

        // At the end message the list is empty and the tree not yet rebuilt.
        int listRowsAtEnd = -1;
        bool treeHadSampleAtEnd = true;
        prompts_->onMessage = [&](const QString&) {
            listRowsAtEnd = view_->listModel().valueCount();
            treeHadSampleAtEnd =
                itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "Software", "Sample"}) != KeyTreeModel::kNoItem;
        };
        const Confirmation seen = importFile(tovik::test::exampleFileBytes());

        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QString::fromUtf16(u"インポート確認"));
        QCOMPARE(seen.rows.size(), 11);
        for (int i = 0; i < seen.rows.size(); ++i)
            QCOMPARE(seen.rows[i], toQString(tovik::test::kExampleLines[static_cast<std::size_t>(i)]));

        QCOMPARE(prompts_->messages, QStringList({kFinished}));
        QCOMPARE(listRowsAtEnd, 0);
        QVERIFY(!treeHadSampleAtEnd);
        QCOMPARE(dwordValue(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Flags"), std::optional<DWORD>(0xFFFFFFFF));
        QVERIFY(keyExists(HKEY_LOCAL_MACHINE, u"Software\\Sample\\Options"));
        QVERIFY(keyExists(HKEY_CURRENT_USER, u"Before"));  // import adds, never deletes

        QCOMPARE(view_->currentRoot(), HKEY(0));
        QVERIFY(view_->currentKeyPath().empty());
        QCOMPARE(view_->listModel().valueCount(), 0);
        QCOMPARE(childTexts(view_->treeModel(), KeyTreeModel::kRootItem),
                 QStringList({"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"}));
        QVERIFY(itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "Software", "Sample", "Options"}) !=
                KeyTreeModel::kNoItem);
        QVERIFY(itemAt(view_->treeModel(), {"HKEY_CURRENT_USER", "Before"}) != KeyTreeModel::kNoItem);
        QVERIFY(view_->commands().backup().pendingImportLines().empty());
        QVERIFY(doc_.isModified());

        QTest::qWait(50);  // a refresh posted before the import finds no current key
        QCOMPARE(view_->listModel().valueCount(), 0);
        prompts_->fileNames.push_back(file("after.txt"));
        view_->commands().backup().OnExport();
        QCOMPARE(prompts_->messages.last(), kNoKey);
    }

    void importStopsBeforeWritingAnything() {
        startView();
        view_->commands().backup().OnImport();  // file dialog cancelled
        QCOMPARE(prompts_->dialogCount, 0);
        QVERIFY(prompts_->messages.isEmpty());
        QVERIFY(!doc_.isModified());

        prompts_->fileNames.push_back(file("does-not-exist.txt"));
        view_->commands().backup().OnImport();  // cannot be opened: nothing happens
        QCOMPARE(prompts_->dialogCount, 0);
        QVERIFY(prompts_->messages.isEmpty());

        // Big-endian mark, or none: not Unicode, and the document is marked all the same.
        const Bytes notUnicode[] = {{0xFE, 0xFF, 0, 'T'}, {'T', 'o', 'v', 'i', 'k', '\r', '\n'}};
        for (const Bytes& bytes : notUnicode) {
            doc_.OnNewDocument();
            const Confirmation seen = importFile(bytes);
            QVERIFY(!seen.shown);
            QCOMPARE(prompts_->messages.last(), kNotUnicode);
            QVERIFY(doc_.isModified());
        }

        // An empty file: an empty confirmation, then the format error; too short to mark the document.
        doc_.OnNewDocument();
        Confirmation seen = importFile(Bytes());
        QVERIFY(seen.shown);
        QVERIFY(seen.rows.isEmpty());
        QCOMPARE(prompts_->messages.last(), kFormatError);
        QVERIFY(!doc_.isModified());

        const std::size_t messages = static_cast<std::size_t>(prompts_->messages.size());
        seen = importFile(userFile({u"[Written]", u"\"v\"=DW:1"}), IDCANCEL);
        QCOMPARE(seen.rows.size(), 4);
        QCOMPARE(static_cast<std::size_t>(prompts_->messages.size()), messages);  // cancel says nothing
        QVERIFY(view_->commands().backup().pendingImportLines().empty());

        importFile(tovik::test::backupFileBytes(Lines{u"tovik", u"\\\\HKEY_CURRENT_USER", u"[Written]"}));
        QCOMPARE(prompts_->messages.last(), kFormatError);
        importFile(tovik::test::backupFileBytes(Lines{u"TovikXYZ", u"\\\\HKEY_CURRENT_USER ", u"[Written]", u"[Too]"}));
        QCOMPARE(prompts_->messages.last(), kNoRoot);
        QCOMPARE(view_->commands().backup().pendingImportLines().size(),
                 std::size_t(2));  // the rest waits for the next import
        importFile(tovik::test::backupFileBytes(Lines{u"Tovik"}));
        QCOMPARE(prompts_->messages.last(), kNoRoot);
        QVERIFY(view_->commands().backup().pendingImportLines().empty());

        QVERIFY(!keyExists(HKEY_CURRENT_USER, u"Written"));
        QCOMPARE(childTexts(view_->treeModel(), itemAt(view_->treeModel(), {"HKEY_CURRENT_USER"})), QStringList());
    }

    void aBrokenLineKeepsWhatWasWrittenAndTheView() {
        MakeKey(HKEY_CURRENT_USER, u"Shown");
        startView();
        select({"HKEY_CURRENT_USER", "Shown"});
        const Confirmation seen =
            importFile(userFile({u"[A]", u"\"a\"=DW:1", u"\"x\"=??:01 ", u" broken", u"[B]", u"\"b\"=DW:2"}));
        QCOMPARE(seen.rows.size(), 8);
        QCOMPARE(prompts_->messages, QStringList({kBroken, toQString(tovik::unknownTagNotice(1))}));
        QCOMPARE(dwordValue(HKEY_CURRENT_USER, u"A", u"a"), std::optional<DWORD>(1));
        QVERIFY(!keyExists(HKEY_CURRENT_USER, u"B"));
        // The view was not reset: the same current key, and no item for the new key yet.
        QCOMPARE(view_->currentRoot(), HKEY_CURRENT_USER);
        QVERIFY(view_->currentKeyPath() == u"Shown");
        QCOMPARE(itemAt(view_->treeModel(), {"HKEY_CURRENT_USER", "A"}), KeyTreeModel::kNoItem);
        QVERIFY(view_->commands().backup().pendingImportLines().empty());
    }

    void anEmptyLineEndsTheDataAndValuesNeedAKey() {
        startView();
        const Confirmation seen = importFile(userFile({u"\"early\"=DW:1", u"[]", u"\"atRoot\"=DW:2", u"[K1]", u"[K2]",
                                                       u"[K3]", u"\"k3\"=DW:3", u"", u"[After]", u"\"late\"=DW:4"}));
        QCOMPARE(seen.rows.size(), 12);  // the lines after the empty one are shown all the same
        QCOMPARE(prompts_->messages, QStringList({kFinished}));
        QVERIFY(!dwordValue(HKEY_CURRENT_USER, u"", u"early"));
        QCOMPARE(dwordValue(HKEY_CURRENT_USER, u"", u"atRoot"), std::optional<DWORD>(2));
        QCOMPARE(dwordValue(HKEY_CURRENT_USER, u"K3", u"k3"), std::optional<DWORD>(3));
        QVERIFY(!keyExists(HKEY_CURRENT_USER, u"After"));
        QCOMPARE(childTexts(view_->treeModel(), itemAt(view_->treeModel(), {"HKEY_CURRENT_USER"})),
                 QStringList({"K1", "K2", "K3"}));
    }

    void unknownTagsAreSkippedAndCountedAfterTheEndMessage() {
        startView();
        importFile(userFile({u"[K]", u"\"a\"=DW:1", u"\"b\"=??:01 02 ", u"\"c\"=SZ", u"\"d\"=sz:x"}));
        QCOMPARE(prompts_->messages,
                 QStringList({kFinished, QString::fromUtf16(u"型の分からない値の行を3行読み飛ばしました")}));
        QCOMPARE(tovik::test::keyValues(HKEY_CURRENT_USER, u"K").size(), std::size_t(1));
        QCOMPARE(dwordValue(HKEY_CURRENT_USER, u"K", u"a"), std::optional<DWORD>(1));
    }

    // The confirmation's 変更点... shows what the import would change, as the .reg file's does;
    // its lines stay in the dialog, and a cancel after the preview writes nothing.
    void theConfirmationPreviewsWhatTheBackupFileWouldChange() {
        SetValue(HKEY_CURRENT_USER, u"App", u"Size", REG_DWORD, dwordToBytes(5));
        SetValue(HKEY_CURRENT_USER, u"App", u"Same", REG_DWORD, dwordToBytes(1));
        startView();
        const QString path = file("import.txt");
        writeBytes(path, userFile({u"[App]", u"\"Size\"=DW:7(7)", u"\"Same\"=DW:1(1)", u"[App\"New]", u"\"v\"=SZ:x",
                                   u"[Missing\"Sub]", u"\"w\"=SZ:y", u"broken"}));
        QStringList shown;
        int rows = 0;
        prompts_->fileNames.push_back(path);
        prompts_->dialogs.push_back([&](QDialog& dialog) {
            auto& confirm = static_cast<CImportConfirmDlg&>(dialog);
            confirm.show();
            rows = confirm.m_listLines->model()->rowCount();
            if (auto* button = confirm.findChild<QPushButton*>(QStringLiteral("preview"))) button->click();
            if (auto* list = confirm.findChild<QListWidget*>(QStringLiteral("preview")))
                for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
            return int(IDCANCEL);
        });
        view_->commands().backup().OnImport();
        QCOMPARE(rows, 10);
        QCOMPARE(shown,
                 QStringList({"  [HKEY_CURRENT_USER\\App]", "    ≠ Size: DW:5(5) → DW:7(7)",
                              "+ [HKEY_CURRENT_USER\\App\\New]", "    + v = SZ:x", "変更のない値 1 個は省きました。",
                              "10行目でファイルが壊れています。インポートはそこで終わります。"}));
        QCOMPARE(dwordValue(HKEY_CURRENT_USER, u"App", u"Size"), std::optional<DWORD>(5));
        QVERIFY(!keyExists(HKEY_CURRENT_USER, u"App\\New"));
        QVERIFY(prompts_->messages.isEmpty());
    }

    void theConfirmationShowsLinesWithoutOwningOrSelectingThem() {
        tovik::BackupText lines;
        for (int i = 0; i < 100000; ++i) lines.push_back(u"\"v\"=DW:" + std::u16string(1, u'0' + i % 10));
        lines.push_back(std::u16string(5000, u'長'));
        CImportConfirmDlg dialog;
        dialog.m_pLines = &lines;
        int rows = 0;
        QString row99999, last;
        bool selectable = true;
        QTimer::singleShot(0, &dialog, [&] {
            QAbstractItemModel* model = dialog.m_listLines->model();
            rows = model->rowCount();
            row99999 = model->index(99999, 0).data().toString();
            last = model->index(100000, 0).data().toString();
            selectable = (model->flags(model->index(3, 0)) & Qt::ItemIsSelectable) ||
                         dialog.m_listLines->selectionMode() != QAbstractItemView::NoSelection;
            QTest::mouseClick(dialog.findChild<QPushButton*>("2"), Qt::LeftButton);
        });
        QCOMPARE(dialog.DoModal(), IDCANCEL);
        QCOMPARE(rows, 100001);
        QCOMPARE(row99999, QString("\"v\"=DW:9"));
        QCOMPARE(last.size(), int(ImportLinesModel::kMaxShownChars) + 1);
        QVERIFY(last.endsWith(QChar(0x2026)));
        QVERIFY(!selectable);
        QCOMPARE(lines.size(), std::size_t(100001));  // the caller's list is left as it was
        QTimer::singleShot(0, &dialog, [&] { QTest::mouseClick(dialog.findChild<QPushButton*>("1"), Qt::LeftButton); });
        QCOMPARE(dialog.DoModal(), IDOK);
    }
};

QTEST_MAIN(BackupCommandsTest)
#include "backup_commands_test.moc"
