// 編集 > 元に戻す, やり直し and 変更履歴 from the view: the items name what they take back, undo
// and redo work across a restart, the history window undoes back to a chosen entry, and an undo
// that something else made unsafe is refused with what differs.
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "history/recording_backend.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "support/tree_helpers.h"
#include "view/command_ids.h"
#include "view/history_commands.h"
#include "view/history_dlg.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"

using namespace testing_support;

namespace {

bool hasValue(HKEY root, const std::u16string& path, const std::u16string& name) {
    HKEY key = 0;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return false;
    bool found = false;
    for (DWORD i = 0; !found; ++i) {
        WCHAR text[64];
        DWORD length = 64;
        if (RegEnumValueW(key, i, text, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        found = std::u16string(text, length) == name;
    }
    RegCloseKey(key);
    return found;
}

QString text(const char16_t* text) {
    return QString::fromUtf16(text);
}

}  // namespace

class HistoryCommandsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view_;
    ScriptedPrompts* prompts_ = nullptr;
    CTovikDoc doc_;

    void startView() { view_ = startScriptedView(doc_, prompts_); }
    void select(const QStringList& path) {
        const KeyTreeModel::ItemId item = itemAt(view_->treeModel(), path);
        QVERIFY(item != KeyTreeModel::kNoItem);
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        view_->selectItem(item);
        QVERIFY(refreshed.wait(2000));
    }
    HistoryCommands& history() { return view_->commands().history(); }

private slots:
    void init() {
        FreshRegistry();
        doc_.OnNewDocument();
    }
    void cleanup() { view_.reset(); }

    void undoAndRedoNameWhatTheyTakeBackAndTheDeleteQuestionSaysSo() {
        SetValue(HKEY_LOCAL_MACHINE, u"Soft", u"v", REG_DWORD, {1, 0, 0, 0});
        startView();
        // A value written without a command is named after what was done to it.
        QCOMPARE(history().undoText(), text(u"元に戻す: 値の変更 v"));
        QVERIFY(!view_->isCommandEnabled(ID_REDO));
        QCOMPARE(history().redoText(), text(u"やり直し"));
        select({"HKEY_LOCAL_MACHINE", "Soft"});
        QVERIFY(view_->selectValueRow(u"v"));
        QVERIFY(view_->OnCommand(ID_DELETE_VALUE));
        QCOMPARE(prompts_->messages, QStringList({text(u"編集 > 元に戻す で元に戻せます。\nよろしいですか？")}));
        QVERIFY(!hasValue(HKEY_LOCAL_MACHINE, u"Soft", u"v"));

        QVERIFY(view_->isCommandEnabled(ID_UNDO));
        QVERIFY(!view_->isCommandEnabled(ID_REDO));
        QCOMPARE(history().undoText(), text(u"元に戻す: 値 削除"));
        QVERIFY(view_->OnCommand(ID_UNDO));
        QVERIFY(hasValue(HKEY_LOCAL_MACHINE, u"Soft", u"v"));
        QCOMPARE(history().redoText(), text(u"やり直し: 値 削除"));
        QVERIFY(view_->OnCommand(ID_REDO));
        QVERIFY(!hasValue(HKEY_LOCAL_MACHINE, u"Soft", u"v"));
        QCOMPARE(prompts_->messages.size(), 1);
    }

    void aDeletedKeyComesBackAfterARestart() {
        QTemporaryDir dir;
        qputenv("XDG_STATE_HOME", dir.filePath("state").toUtf8());
        const std::string store = dir.filePath("registry.db").toStdString();
        QVERIFY(tovik::openRegistryStore(store).ok);
        SetValue(HKEY_LOCAL_MACHINE, u"Doomed\\Inner", u"kept", REG_SZ, {'a', 0});
        startView();
        select({"HKEY_LOCAL_MACHINE", "Doomed"});
        QVERIFY(view_->OnCommand(ID_DELETE_KEY));
        QVERIFY(!keyExists(HKEY_LOCAL_MACHINE, u"Doomed"));
        QCOMPARE(history().undoText(), text(u"元に戻す: キー 削除"));
        QVERIFY(view_->OnCommand(ID_UNDO));
        QVERIFY(hasValue(HKEY_LOCAL_MACHINE, u"Doomed\\Inner", u"kept"));
        QVERIFY(itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "Doomed"}) != KeyTreeModel::kNoItem);
        QVERIFY(view_->OnCommand(ID_REDO));
        QVERIFY(!keyExists(HKEY_LOCAL_MACHINE, u"Doomed"));

        view_.reset();
        tovik::closeRegistryStore();
        QVERIFY(tovik::openRegistryStore(store).ok);
        startView();
        QCOMPARE(history().undoText(), text(u"元に戻す: やり直し: キー 削除"));
        QVERIFY(view_->OnCommand(ID_UNDO));
        QVERIFY(hasValue(HKEY_LOCAL_MACHINE, u"Doomed\\Inner", u"kept"));
        tovik::closeRegistryStore();
        qunsetenv("XDG_STATE_HOME");
    }

    void theHistoryWindowListsNewestFirstAndUndoesBackToTheChosenEntry() {
        for (const char16_t* name : {u"One", u"Two", u"Three"}) {
            tovik::history::ChangeScope scope(name);
            MakeKey(HKEY_CURRENT_USER, name);
        }
        startView();
        QVERIFY(view_->OnCommand(ID_HISTORY));
        CHistoryDlg* dialog = history().dialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->list()->topLevelItemCount(), 3);
        QCOMPARE(dialog->list()->topLevelItem(0)->text(1), QString("Three"));
        QCOMPARE(dialog->list()->topLevelItem(2)->text(1), QString("One"));
        QCOMPARE(dialog->list()->topLevelItem(0)->text(2), QString("HKEY_CURRENT_USER\\Three"));

        dialog->list()->setCurrentItem(dialog->list()->topLevelItem(1));
        QVERIFY(dialog->undoButton()->isEnabled());
        dialog->undoButton()->click();
        QVERIFY(keyExists(HKEY_CURRENT_USER, u"One"));
        QVERIFY(!keyExists(HKEY_CURRENT_USER, u"Two"));
        QVERIFY(!keyExists(HKEY_CURRENT_USER, u"Three"));
        QVERIFY(prompts_->messages.isEmpty());
        // The window shows the undo on top, and what it took back as undone, which it cannot reach again.
        QCOMPARE(dialog->list()->topLevelItemCount(), 4);
        QCOMPARE(dialog->list()->topLevelItem(0)->text(1), text(u"元に戻す (2 件)"));
        QVERIFY(dialog->list()->topLevelItem(1)->text(1).contains(text(u"元に戻し済み")));
        dialog->list()->setCurrentItem(dialog->list()->topLevelItem(1));
        QVERIFY(!dialog->undoButton()->isEnabled());
    }

    void anUndoThatWouldLoseAnotherProgramsChangeIsRefused() {
        SetValue(HKEY_LOCAL_MACHINE, u"Soft", u"v", REG_DWORD, {1, 0, 0, 0});
        startView();
        select({"HKEY_LOCAL_MACHINE", "Soft"});
        QVERIFY(view_->selectValueRow(u"v"));
        QVERIFY(view_->OnCommand(ID_DELETE_VALUE));
        // Another program writes the value again, unrecorded.
        tovik::Backend& unrecorded = tovik::history::currentRecorder()->inner();
        const tovik::KeyId soft = unrecorded.findChild(unrecorded.rootKey(HKEY_LOCAL_MACHINE), u"Soft");
        const DWORD two = 2;
        QCOMPARE(unrecorded.setValue(soft, u"v", REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4), ERROR_SUCCESS);
        prompts_->messages.clear();
        QVERIFY(view_->OnCommand(ID_UNDO));
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY2(prompts_->messages[0].contains(text(u"HKEY_LOCAL_MACHINE\\Soft の値 v")),
                 qPrintable(prompts_->messages[0]));
        QVERIFY(hasValue(HKEY_LOCAL_MACHINE, u"Soft", u"v"));
    }
};

QTEST_MAIN(HistoryCommandsTest)
#include "history_commands_test.moc"
