// .reg files through the view's Export and Import: the filters, the chosen format, the
// confirmation of the file's lines, deletions, and the messages with the counts.
#include <QListView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <iterator>

#include "backup/gui/import_confirm_dlg.h"
#include "backup/registry_test_util.h"
#include "registry/registry_api.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "support/tree_helpers.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/backup_commands.h"
#include "view/view_commands.h"

using namespace testing_support;
using ItemId = KeyTreeModel::ItemId;

namespace {

const QString kFinished = QString::fromUtf16(u"インポート終了、表示を初期化します");
const QString kBroken =
    QString::fromUtf16(u"インポートファイルが壊れています。ロード途中で終了しました。表示も不正になります。");
const QString kBackupFilter = QString::fromUtf16(u"ﾚｼﾞｽﾄﾘ退避ﾌｧｲﾙ(*.txt)");
const QString kRegFilter = QString::fromUtf16(u"登録ファイル(*.reg)");
const QString kReg4Filter = QString::fromUtf16(u"登録ファイル REGEDIT4(*.reg)");

std::string readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const QString& path, const std::string& bytes) { std::ofstream(path.toStdString(), std::ios::binary) << bytes; }

std::string utf16File(std::u16string_view text) {
    std::string bytes("\xFF\xFE");
    for (const char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

}  // namespace

class RegFileCommandsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view;
    ScriptedPrompts* prompts = nullptr;
    CTovikDoc doc;
    std::unique_ptr<QTemporaryDir> dir;

    void startView() { view = testing_support::startScriptedView(doc, prompts); }
    void select(const QStringList& path) {
        const ItemId item = itemAt(view->TreeModel(), path);
        QVERIFY(item != KeyTreeModel::kNoItem);
        QSignalSpy refreshed(view.get(), &CTovikView::valuesRefreshed);
        view->SelectItem(item);
        QVERIFY(refreshed.wait(2000));
    }
    QString file(const QString& name) const { return dir->filePath(name); }

    // Imports path through the menu command, answering the confirmation; the rows it showed.
    QStringList importConfirming(const QString& path, int answer) {
        QStringList rows;
        prompts->fileNames.push_back(path);
        prompts->dialogs.push_back([&rows, answer](QDialog& dialog) {
            dialog.show();
            const auto* model = static_cast<CImportConfirmDlg&>(dialog).m_listLines->model();
            for (int row = 0; row < model->rowCount(); ++row) rows << model->index(row, 0).data().toString();
            dialog.hide();
            return answer;
        });
        view->Commands().Backup().OnImport();
        prompts->dialogs.clear();
        return rows;
    }

private slots:
    void init() {
        FreshRegistry();
        doc.OnNewDocument();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }
    void cleanup() {
        view.reset();
        dir.reset();
    }

    void theFiltersKeepTheBackupFileFirstAndTheChosenOneDecidesTheFormat() {
        SetValue(HKEY_CURRENT_USER, u"Software\\Fix", u"v", REG_DWORD, DwordToBytes(7));
        startView();
        select({"HKEY_CURRENT_USER", "Software", "Fix"});

        prompts->fileNames = {file("a.reg"), file("b.reg"), file("c.txt")};
        prompts->chosenFilters = {kRegFilter, kReg4Filter};
        view->Commands().Backup().OnExport();
        view->Commands().Backup().OnExport();
        view->Commands().Backup().OnExport();  // no choice: the first filter
        QCOMPARE(prompts->filters.size(), 3);
        QVERIFY(prompts->filters[0].startsWith(kBackupFilter + ";;" + kRegFilter + ";;" + kReg4Filter));
        QVERIFY(prompts->messages.isEmpty());

        QCOMPARE(readFile(file("a.reg")), utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                                      u"[HKEY_CURRENT_USER\\Software\\Fix]\r\n"
                                                      u"\"v\"=dword:00000007\r\n\r\n"));
        QCOMPARE(readFile(file("b.reg")), std::string("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Fix]\r\n"
                                                      "\"v\"=dword:00000007\r\n\r\n"));
        QVERIFY(readFile(file("c.txt")).starts_with("\xFF\xFET"));

        view->Commands().Backup().OnImport();  // the open dialog offers the same list
        QCOMPARE(prompts->filters.last(), prompts->filters.first());
    }

    void aRegImportIsConfirmedLineByLineThenAppliedWithDeletions() {
        SetValue(HKEY_LOCAL_MACHINE, u"Old\\Deep", u"x", REG_DWORD, DwordToBytes(1));
        SetValue(HKEY_LOCAL_MACHINE, u"Keep", u"gone", REG_DWORD, DwordToBytes(2));
        startView();
        select({"HKEY_LOCAL_MACHINE", "Keep"});
        // Named .txt: the first line, not the name, makes it a .reg file.
        const QString path = file("patch.txt");
        writeFile(path, utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                  u"[-HKEY_LOCAL_MACHINE\\Old]\r\n"
                                  u"[HKEY_LOCAL_MACHINE\\Keep]\r\n"
                                  u"\"gone\"=-\r\n"
                                  u"\"new\"=\"text\"\r\n"));

        // Cancelled: the lines were shown, nothing changed.
        const QStringList rows = importConfirming(path, IDCANCEL);
        QCOMPARE(rows, QStringList({"Windows Registry Editor Version 5.00", "", "[-HKEY_LOCAL_MACHINE\\Old]",
                                    "[HKEY_LOCAL_MACHINE\\Keep]", "\"gone\"=-", "\"new\"=\"text\""}));
        QVERIFY(prompts->messages.isEmpty());
        QVERIFY(tovik::test::KeyExists(HKEY_LOCAL_MACHINE, u"Old\\Deep"));

        QCOMPARE(importConfirming(path, IDOK), rows);
        QCOMPARE(prompts->messages,
                 QStringList({kFinished, QString::fromUtf16(u"キーを1個、値を1個書き込み、キーを1個、値を1個削除しました。")}));
        QVERIFY(!tovik::test::KeyExists(HKEY_LOCAL_MACHINE, u"Old"));
        QVERIFY(!tovik::test::ReadValue(HKEY_LOCAL_MACHINE, u"Keep", u"gone"));
        QVERIFY(tovik::test::ReadValue(HKEY_LOCAL_MACHINE, u"Keep", u"new"));
        QVERIFY(view->CurrentKeyPath().empty());  // the view starts again from the roots
        QCOMPARE(view->CurrentRoot(), HKEY(0));
    }

    void malformedLinesAreTheBrokenFileMessageButTheRestIsWritten() {
        startView();
        const QString path = file("broken.reg");
        writeFile(path, "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"bad\"=hex:zz\n\"ok\"=dword:00000003\n"
                        "[HKEY_USERS\\X]\n\"u\"=\"v\"\n");
        importConfirming(path, IDOK);
        QCOMPARE(prompts->messages.size(), 2);
        QCOMPARE(prompts->messages[0], kBroken);
        QCOMPARE(prompts->messages[1],
                 QString::fromUtf16(u"キーを1個、値を1個書き込み、キーを0個、値を0個削除しました。3行を読み飛ばしました。\n"
                                    u"3行目: 16進データが正しくありません"));
        QVERIFY(tovik::test::ReadValue(HKEY_CURRENT_USER, u"A", u"ok"));
    }

    void anUnknownHeaderIsRefusedByNameBeforeAnyConfirmation() {
        startView();
        const QString path = file("old.reg");
        writeFile(path, "REGEDIT3\n\n[HKEY_CURRENT_USER\\Refused]\n\"v\"=\"x\"\n");
        bool confirmed = false;
        prompts->dialogs.push_back([&confirmed](QDialog&) {
            confirmed = true;
            return IDOK;
        });
        view->Commands().Backup().ImportFile(path);
        QVERIFY(!confirmed);
        QCOMPARE(prompts->messages,
                 QStringList{QString::fromUtf16(u"登録ファイルのヘッダー「REGEDIT3」が分かりません。インポートしませんでした。")});
        QVERIFY(!tovik::test::KeyExists(HKEY_CURRENT_USER, u"Refused"));
    }

    void aFileNamedOnTheCommandLineOpensItsConfirmation() {
        startView();
        const QString path = file("fix.reg");
        writeFile(path, "REGEDIT4\n\n[HKEY_CURRENT_USER\\FromArgument]\n");
        bool confirmed = false;
        prompts->dialogs.push_back([&confirmed](QDialog&) {
            confirmed = true;
            return IDOK;
        });
        view->Commands().Backup().ImportFile(path);
        QVERIFY(confirmed);
        QVERIFY(tovik::test::KeyExists(HKEY_CURRENT_USER, u"FromArgument"));
    }
};

QTEST_MAIN(RegFileCommandsTest)
#include "reg_file_commands_test.moc"
