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
#include "view/backup_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
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

void writeFile(const QString& path, const std::string& bytes) {
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

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
    std::unique_ptr<CTovikView> view_;
    ScriptedPrompts* prompts_ = nullptr;
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

    // Imports path through the menu command, answering the confirmation; the rows it showed.
    QStringList importConfirming(const QString& path, int answer) {
        QStringList rows;
        prompts_->fileNames.push_back(path);
        prompts_->dialogs.push_back([&rows, answer](QDialog& dialog) {
            dialog.show();
            const auto* model = static_cast<CImportConfirmDlg&>(dialog).m_listLines->model();
            for (int row = 0; row < model->rowCount(); ++row) rows << model->index(row, 0).data().toString();
            dialog.hide();
            return answer;
        });
        view_->commands().backup().OnImport();
        prompts_->dialogs.clear();
        return rows;
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

    void theFiltersKeepTheBackupFileFirstAndTheChosenOneDecidesTheFormat() {
        SetValue(HKEY_CURRENT_USER, u"Software\\Fix", u"v", REG_DWORD, dwordToBytes(7));
        startView();
        select({"HKEY_CURRENT_USER", "Software", "Fix"});

        prompts_->fileNames = {file("a.reg"), file("b.reg"), file("c.txt")};
        prompts_->chosenFilters = {kRegFilter, kReg4Filter};
        view_->commands().backup().OnExport();
        view_->commands().backup().OnExport();
        view_->commands().backup().OnExport();  // no choice: the first filter
        QCOMPARE(prompts_->filters.size(), 3);
        QVERIFY(prompts_->filters[0].startsWith(kBackupFilter + ";;" + kRegFilter + ";;" + kReg4Filter));
        QVERIFY(prompts_->messages.isEmpty());

        QCOMPARE(readFile(file("a.reg")), utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                                    u"[HKEY_CURRENT_USER\\Software\\Fix]\r\n"
                                                    u"\"v\"=dword:00000007\r\n\r\n"));
        QCOMPARE(readFile(file("b.reg")), std::string("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Fix]\r\n"
                                                      "\"v\"=dword:00000007\r\n\r\n"));
        QVERIFY(readFile(file("c.txt")).starts_with("\xFF\xFET"));

        view_->commands().backup().OnImport();  // the open dialog offers the same list
        QCOMPARE(prompts_->filters.last(), prompts_->filters.first());
    }

    void aRegImportIsConfirmedLineByLineThenAppliedWithDeletions() {
        SetValue(HKEY_LOCAL_MACHINE, u"Old\\Deep", u"x", REG_DWORD, dwordToBytes(1));
        SetValue(HKEY_LOCAL_MACHINE, u"Keep", u"gone", REG_DWORD, dwordToBytes(2));
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
        QVERIFY(prompts_->messages.isEmpty());
        QVERIFY(tovik::test::keyExists(HKEY_LOCAL_MACHINE, u"Old\\Deep"));

        QCOMPARE(importConfirming(path, IDOK), rows);
        QCOMPARE(prompts_->messages,
                 QStringList(
                     {kFinished, QString::fromUtf16(u"キーを1個、値を1個書き込み、キーを1個、値を1個削除しました。")}));
        QVERIFY(!tovik::test::keyExists(HKEY_LOCAL_MACHINE, u"Old"));
        QVERIFY(!tovik::test::readValue(HKEY_LOCAL_MACHINE, u"Keep", u"gone"));
        QVERIFY(tovik::test::readValue(HKEY_LOCAL_MACHINE, u"Keep", u"new"));
        QVERIFY(view_->currentKeyPath().empty());  // the view starts again from the roots
        QCOMPARE(view_->currentRoot(), HKEY(0));
    }

    void malformedLinesAreTheBrokenFileMessageButTheRestIsWritten() {
        startView();
        const QString path = file("broken.reg");
        writeFile(path, "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"bad\"=hex:zz\n\"ok\"=dword:00000003\n"
                        "[HKEY_USERS\\X]\n\"u\"=\"v\"\n");
        importConfirming(path, IDOK);
        QCOMPARE(prompts_->messages.size(), 2);
        QCOMPARE(prompts_->messages[0], kBroken);
        QCOMPARE(
            prompts_->messages[1],
            QString::fromUtf16(u"キーを1個、値を1個書き込み、キーを0個、値を0個削除しました。3行を読み飛ばしました。\n"
                               u"3行目: 16進データが正しくありません"));
        QVERIFY(tovik::test::readValue(HKEY_CURRENT_USER, u"A", u"ok"));
    }

    void anUnknownHeaderIsRefusedByNameBeforeAnyConfirmation() {
        startView();
        const QString path = file("old.reg");
        writeFile(path, "REGEDIT3\n\n[HKEY_CURRENT_USER\\Refused]\n\"v\"=\"x\"\n");
        bool confirmed = false;
        prompts_->dialogs.push_back([&confirmed](QDialog&) {
            confirmed = true;
            return IDOK;
        });
        view_->commands().backup().importFile(path);
        QVERIFY(!confirmed);
        QCOMPARE(prompts_->messages,
                 QStringList{QString::fromUtf16(
                     u"登録ファイルのヘッダー「REGEDIT3」が分かりません。インポートしませんでした。")});
        QVERIFY(!tovik::test::keyExists(HKEY_CURRENT_USER, u"Refused"));
    }

    void aFileNamedOnTheCommandLineOpensItsConfirmation() {
        startView();
        const QString path = file("fix.reg");
        writeFile(path, "REGEDIT4\n\n[HKEY_CURRENT_USER\\FromArgument]\n");
        bool confirmed = false;
        prompts_->dialogs.push_back([&confirmed](QDialog&) {
            confirmed = true;
            return IDOK;
        });
        view_->commands().backup().importFile(path);
        QVERIFY(confirmed);
        QVERIFY(tovik::test::keyExists(HKEY_CURRENT_USER, u"FromArgument"));
    }
};

QTEST_MAIN(RegFileCommandsTest)
#include "reg_file_commands_test.moc"
