// ﾂｰﾙ > 比較... and the 比較結果 window, with scripted dialogs: what the tree shows and how it marks
// it, the filter, going to a key, and the .reg saved either way.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "backup/backup_export.h"
#include "backup/gui/import_confirm_dlg.h"
#include "regfile/reg_import.h"
#include "regfile/reg_text.h"
#include "registry/registry_store.h"
#include "stores/sqlite/sqlite_store.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "ui/qt_text.h"
#include "view/command_ids.h"
#include "view/compare_commands.h"
#include "view/compare_dlg.h"
#include "view/compare_result_dlg.h"
#include "view/history_commands.h"
#include "view/reg_file_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"

using namespace testing_support;

namespace {

Bytes dword(DWORD v) {
    return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
}

// Fills the 比較 dialog: the kind's row, the file or folder, the key.
std::function<int(QDialog&)> compareWith(int kind, const QString& location, const QString& key) {
    return [=](QDialog& dialog) {
        auto& compare = static_cast<CCompareDlg&>(dialog);
        compare.kind()->setCurrentIndex(kind);
        compare.location()->setText(location);
        compare.key()->setText(key);
        return int(QDialog::Accepted);
    };
}

// Every row as "indent sign name | A | B", depth first.
QStringList rows(const QTreeWidget& tree) {
    QStringList out;
    std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int depth) {
        out << QString(depth * 2, ' ') + item->text(1) + " " + item->text(0) + " | " + item->text(2) + " | " +
                   item->text(3);
        for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), depth + 1);
    };
    for (int i = 0; i < tree.topLevelItemCount(); ++i) walk(tree.topLevelItem(i), 0);
    return out;
}

QTreeWidgetItem* find(const QTreeWidget& tree, const QString& name) {
    const auto found = tree.findItems(name, Qt::MatchExactly | Qt::MatchRecursive, 0);
    return found.isEmpty() ? nullptr : found.first();
}

}  // namespace

class CompareCommandsTest : public QObject {
    Q_OBJECT
    CTovikDoc doc_;
    std::unique_ptr<CTovikView> view_;
    ScriptedPrompts* prompts_ = nullptr;
    QTemporaryDir dir_;

    CCompareResultDlg* compare(int kind, const QString& location, const QString& key) {
        prompts_->dialogs.push_back(compareWith(kind, location, key));
        view_->commands().run(ID_COMPARE);
        return view_->commands().compare().resultDialog();
    }

private slots:
    void init() {
        FreshRegistry();
        SetValue(HKEY_CURRENT_USER, u"One", u"Same", REG_DWORD, dword(1));
        SetValue(HKEY_CURRENT_USER, u"One", u"Gone", REG_DWORD, dword(2));
        SetValue(HKEY_CURRENT_USER, u"One", u"Size", REG_DWORD, dword(5));
        SetValue(HKEY_CURRENT_USER, u"One\\Both", u"V", REG_DWORD, dword(1));
        SetValue(HKEY_CURRENT_USER, u"Two", u"same", REG_DWORD, dword(1));
        SetValue(HKEY_CURRENT_USER, u"Two", u"Size", REG_DWORD, dword(6));
        SetValue(HKEY_CURRENT_USER, u"TWO\\both", u"V", REG_DWORD, dword(1));
        SetValue(HKEY_CURRENT_USER, u"Two\\New", u"Added", REG_SZ, {0x61, 0});
        view_ = startScriptedView(doc_, prompts_);
        view_->commands().compare().setOpener(
            [](const CompareTarget&, QString&) { return tovik::openSqliteMemoryStore(); });
        QVERIFY(view_->goToKey(HKEY_CURRENT_USER, u"One"));
    }
    void cleanup() { view_.reset(); }

    void differencesAreMarkedBySignAndColour() {
        CCompareResultDlg* result = compare(0, {}, "HKCU\\Two");
        QVERIFY(result);
        QCOMPARE(rows(*result->tree()),
                 QStringList({"  HKEY_CURRENT_USER\\One |  | ", "  − Gone | DW:2(2) | ", "  ≠ Size | DW:5(5) | DW:6(6)",
                              "  + New |  | ", "    + Added |  | SZ:a"}));
        QCOMPARE(result->summary()->text(), QString("相違 4 件"));
        QCOMPARE(find(*result->tree(), "Gone")->foreground(0).color(), QColor(192, 0, 0));
        QCOMPARE(find(*result->tree(), "New")->foreground(0).color(), QColor(0, 128, 0));
        QVERIFY(find(*result->tree(), "Size")->foreground(0).color() !=
                find(*result->tree(), "Gone")->foreground(0).color());

        // Everything: the equal key and value are there too, unmarked.
        result->differencesOnly()->setChecked(false);
        QVERIFY(find(*result->tree(), "Both"));
        QCOMPARE(find(*result->tree(), "Same")->text(1), QString(" "));
        QCOMPARE(find(*result->tree(), "Same")->text(3), QString("DW:1(1)"));
        result->differencesOnly()->setChecked(true);
        QVERIFY(!find(*result->tree(), "Both"));
    }

    void aDoubleClickGoesToTheKeyOrTheNearestThere() {
        CCompareResultDlg* result = compare(0, {}, "HKCU\\Two");
        QVERIFY(result);
        result->differencesOnly()->setChecked(false);
        emit result->tree()->itemActivated(find(*result->tree(), "Both"), 0);
        QCOMPARE(toQString(view_->currentKeyPath()), QString("One\\Both"));
        // Only on side B: the nearest key that side A has.
        emit result->tree()->itemActivated(find(*result->tree(), "Added"), 0);
        QCOMPARE(toQString(view_->currentKeyPath()), QString("One"));
    }

    // A made like B by one file; the other file, saved before, then makes B what A was: the
    // sides have swapped, and each difference shows from the other side.
    void theSavedRegTurnsOneSideIntoTheOtherEitherWay() {
        CCompareResultDlg* result = compare(0, {}, "HKCU\\Two");
        QVERIFY(result);
        const QStringList before = rows(*result->tree());
        const QString backward = dir_.filePath("back.reg"), forward = dir_.filePath("forward.reg");
        prompts_->fileNames = {backward, forward};
        QVERIFY(result->saveReg(true));
        QVERIFY(result->saveReg(false));
        const auto apply = [](const QString& file) {
            const auto text = tovik::readRegFileAt(file.toStdString());
            QVERIFY(text);
            QCOMPARE(tovik::importRegFileText(text->text).failed(), std::size_t{0});
        };
        apply(forward);
        QVERIFY(result->compare());
        QCOMPARE(result->differences(), std::size_t{0});
        QCOMPARE(result->summary()->text(), QString("相違はありません。"));
        apply(backward);
        QVERIFY(result->compare());
        QCOMPARE(result->differences(), std::size_t{4});
        QCOMPARE(find(*result->tree(), "Gone")->text(1), QString("+"));
        QCOMPARE(find(*result->tree(), "Added")->text(1), QString("−"));
        QVERIFY(rows(*result->tree()) != before);
    }

    void aRegFileIsReadAsATreeAndABadKeyIsSaid() {
        const QString file = dir_.filePath("snapshot.reg");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\One]\r\n\"Same\"=dword:00000001\r\n\"Gone\"=dword:00000002\r\n"
                  "\"Size\"=dword:00000005\r\n\r\n[HKEY_CURRENT_USER\\One\\Both]\r\n\"V\"=dword:00000001\r\n");
        out.close();
        CCompareResultDlg* result = compare(1, file, "HKCU\\One");
        QVERIFY(result);
        QCOMPARE(result->differences(), std::size_t{0});
        result->close();

        // A backup file of the key, then one changed value: read as a tree, offering no apply.
        const QString backup = dir_.filePath("one.bak");
        QCOMPARE(tovik::exportKeyToFile(backup.toStdString(), HKEY_CURRENT_USER, u"One").outcome,
                 tovik::ExportOutcome::Written);
        SetValue(HKEY_CURRENT_USER, u"One", u"Size", REG_DWORD, dword(7));
        result = compare(4, backup, "HKCU\\One");
        QVERIFY(result);
        QCOMPARE(rows(*result->tree()),
                 QStringList({"  HKEY_CURRENT_USER\\One |  | ", "  ≠ Size | DW:7(7) | DW:5(5)"}));
        QVERIFY(!result->applyButton(true)->isVisibleTo(result));
        result->close();
        QFile text(dir_.filePath("text.bak"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("Tovik\r\n");
        text.close();
        compare(4, text.fileName(), "HKCU\\One");  // no byte order mark: no backup file
        QCOMPARE(prompts_->messages.size(), 1);

        prompts_->dialogs.push_back(compareWith(0, {}, "HKXX\\Bad"));
        view_->commands().run(ID_COMPARE);
        QCOMPARE(prompts_->messages.size(), 2);
    }

    // Each side that can be written takes the other's value or key, one history entry each; the
    // rows show the sides as they are after it.
    void aDifferenceIsAppliedToEitherSideAndCanBeUndone() {
        CCompareResultDlg* result = compare(0, {}, "HKCU\\Two");
        QVERIFY(result);
        QVERIFY(result->applyButton(false)->isVisible() && result->applyButton(true)->isVisible());
        const auto select = [&](const QString& name) {
            result->tree()->setCurrentItem(find(*result->tree(), name));
            return result->applyButton(false)->isEnabled() && result->applyButton(true)->isEnabled();
        };
        QVERIFY(select("Size"));
        QVERIFY(result->applySelected(false));  // A takes B's value
        QCOMPARE(result->differences(), std::size_t{3});
        QVERIFY(!find(*result->tree(), "Size"));
        QCOMPARE(view_->commands().history().undoText(), QString("元に戻す: 比較結果から適用"));

        QVERIFY(select("New"));
        QVERIFY(result->applySelected(false));  // A takes B's key with its value
        QVERIFY(select("Gone"));
        QVERIFY(result->applySelected(true));  // B takes A's value
        QCOMPARE(result->differences(), std::size_t{0});
        QCOMPARE(result->summary()->text(), QString("相違はありません。"));

        // Each apply is one entry: three undos bring both keys back as they were.
        for (int i = 0; i < 3; ++i) QVERIFY(view_->OnCommand(ID_UNDO));
        QVERIFY(result->compare());
        QCOMPARE(result->differences(), std::size_t{4});
        result->differencesOnly()->setChecked(false);
        QVERIFY(!select("Both"));  // no difference: nothing to apply
    }

    // A .reg file is read into memory: it offers no apply. Another registry that can be written
    // takes the change, and the registry the window shows stays as it is.
    void onlyASideThatCanBeWrittenOffersApply() {
        const QString file = dir_.filePath("snapshot.reg");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\One]\r\n\"Size\"=dword:00000009\r\n");
        out.close();
        CCompareResultDlg* result = compare(1, file, "HKCU\\One");
        QVERIFY(result);
        QVERIFY(result->applyButton(false)->isVisibleTo(result));
        QVERIFY(!result->applyButton(true)->isVisibleTo(result));
        result->tree()->setCurrentItem(find(*result->tree(), "Size"));
        QVERIFY(!result->applySelected(true));
        result->close();

        result = compare(2, dir_.filePath("other.db"), "HKCU\\One");  // an empty store of the opener
        QVERIFY(result);
        const QString lastEntry = view_->commands().history().undoText();
        QVERIFY(result->applyButton(true)->isVisibleTo(result));
        result->tree()->setCurrentItem(result->tree()->topLevelItem(0));  // the key, only on side A
        QVERIFY(result->applySelected(true));
        QCOMPARE(result->differences(), std::size_t{0});
        QVERIFY(result->compare());
        QCOMPARE(result->differences(), std::size_t{0});
        QCOMPARE(view_->commands().history().undoText(), lastEntry);  // not this registry's change
    }

    // The .reg import's confirmation offers the preview; cancelling it writes nothing.
    void theRegImportConfirmationPreviewsTheChanges() {
        const QString file = dir_.filePath("fix.reg");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\One]\r\n\"Same\"=dword:00000001\r\n\"Size\"=dword:00000007\r\n"
            "\"Gone\"=-\r\n\r\n[HKEY_CURRENT_USER\\One\\Made]\r\n\"New\"=\"x\"\r\n\r\n[-HKEY_CURRENT_USER\\Two]\r\n");
        out.close();
        QStringList shown;
        prompts_->dialogs.push_back([&shown](QDialog& dialog) {
            auto& confirm = static_cast<CImportConfirmDlg&>(dialog);
            confirm.show();
            auto* button = confirm.findChild<QPushButton*>(QStringLiteral("preview"));
            if (!button) return int(IDCANCEL);
            button->click();
            if (auto* list = confirm.findChild<QListWidget*>(QStringLiteral("preview")))
                for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
            return int(IDCANCEL);
        });
        view_->commands().regFiles().importRegFile(file.toStdString());
        QCOMPARE(shown, QStringList({"  [HKEY_CURRENT_USER\\One]", "    ≠ Size: DW:5(5) → DW:7(7)",
                                     "    − Gone (DW:2(2))", "+ [HKEY_CURRENT_USER\\One\\Made]", "    + New = SZ:x",
                                     "− [HKEY_CURRENT_USER\\Two]", "変更のない値 1 個は省きました。"}));
        // Cancelled: the registry is as it was.
        CCompareResultDlg* result = compare(0, {}, "HKCU\\Two");
        QVERIFY(result);
        QCOMPARE(result->differences(), std::size_t{4});
    }
};

QTEST_MAIN(CompareCommandsTest)
#include "compare_commands_test.moc"
