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

bool HasValue(HKEY root, const std::u16string& path, const std::u16string& name) {
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

QString Text(const char16_t* text) { return QString::fromUtf16(text); }

}  // namespace

class HistoryCommandsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view;
    ScriptedPrompts* prompts = nullptr;
    CTovikDoc doc;

    void startView() { view = startScriptedView(doc, prompts); }
    void select(const QStringList& path) {
        const KeyTreeModel::ItemId item = itemAt(view->TreeModel(), path);
        QVERIFY(item != KeyTreeModel::kNoItem);
        QSignalSpy refreshed(view.get(), &CTovikView::valuesRefreshed);
        view->SelectItem(item);
        QVERIFY(refreshed.wait(2000));
    }
    HistoryCommands& history() { return view->Commands().History(); }

private slots:
    void init() {
        FreshRegistry();
        doc.OnNewDocument();
    }
    void cleanup() { view.reset(); }

    void undoAndRedoNameWhatTheyTakeBackAndTheDeleteQuestionSaysSo() {
        SetValue(HKEY_LOCAL_MACHINE, u"Soft", u"v", REG_DWORD, {1, 0, 0, 0});
        startView();
        // A value written without a command is named after what was done to it.
        QCOMPARE(history().UndoText(), Text(u"元に戻す: 値の変更 v"));
        QVERIFY(!view->IsCommandEnabled(ID_REDO));
        QCOMPARE(history().RedoText(), Text(u"やり直し"));
        select({"HKEY_LOCAL_MACHINE", "Soft"});
        QVERIFY(view->SelectValueRow(u"v"));
        QVERIFY(view->OnCommand(ID_DELETE_VALUE));
        QCOMPARE(prompts->messages, QStringList({Text(u"編集 > 元に戻す で元に戻せます。\nよろしいですか？")}));
        QVERIFY(!HasValue(HKEY_LOCAL_MACHINE, u"Soft", u"v"));

        QVERIFY(view->IsCommandEnabled(ID_UNDO));
        QVERIFY(!view->IsCommandEnabled(ID_REDO));
        QCOMPARE(history().UndoText(), Text(u"元に戻す: 値 削除"));
        QVERIFY(view->OnCommand(ID_UNDO));
        QVERIFY(HasValue(HKEY_LOCAL_MACHINE, u"Soft", u"v"));
        QCOMPARE(history().RedoText(), Text(u"やり直し: 値 削除"));
        QVERIFY(view->OnCommand(ID_REDO));
        QVERIFY(!HasValue(HKEY_LOCAL_MACHINE, u"Soft", u"v"));
        QCOMPARE(prompts->messages.size(), 1);
    }

    void aDeletedKeyComesBackAfterARestart() {
        QTemporaryDir dir;
        qputenv("XDG_STATE_HOME", dir.filePath("state").toUtf8());
        const std::string store = dir.filePath("registry.db").toStdString();
        QVERIFY(tovik::OpenRegistryStore(store).ok);
        SetValue(HKEY_LOCAL_MACHINE, u"Doomed\\Inner", u"kept", REG_SZ, {'a', 0});
        startView();
        select({"HKEY_LOCAL_MACHINE", "Doomed"});
        QVERIFY(view->OnCommand(ID_DELETE_KEY));
        QVERIFY(!KeyExists(HKEY_LOCAL_MACHINE, u"Doomed"));
        QCOMPARE(history().UndoText(), Text(u"元に戻す: キー 削除"));
        QVERIFY(view->OnCommand(ID_UNDO));
        QVERIFY(HasValue(HKEY_LOCAL_MACHINE, u"Doomed\\Inner", u"kept"));
        QVERIFY(itemAt(view->TreeModel(), {"HKEY_LOCAL_MACHINE", "Doomed"}) != KeyTreeModel::kNoItem);
        QVERIFY(view->OnCommand(ID_REDO));
        QVERIFY(!KeyExists(HKEY_LOCAL_MACHINE, u"Doomed"));

        view.reset();
        tovik::CloseRegistryStore();
        QVERIFY(tovik::OpenRegistryStore(store).ok);
        startView();
        QCOMPARE(history().UndoText(), Text(u"元に戻す: やり直し: キー 削除"));
        QVERIFY(view->OnCommand(ID_UNDO));
        QVERIFY(HasValue(HKEY_LOCAL_MACHINE, u"Doomed\\Inner", u"kept"));
        tovik::CloseRegistryStore();
        qunsetenv("XDG_STATE_HOME");
    }

    void theHistoryWindowListsNewestFirstAndUndoesBackToTheChosenEntry() {
        for (const char16_t* name : {u"One", u"Two", u"Three"}) {
            tovik::history::ChangeScope scope(name);
            MakeKey(HKEY_CURRENT_USER, name);
        }
        startView();
        QVERIFY(view->OnCommand(ID_HISTORY));
        CHistoryDlg* dialog = history().Dialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->List()->topLevelItemCount(), 3);
        QCOMPARE(dialog->List()->topLevelItem(0)->text(1), QString("Three"));
        QCOMPARE(dialog->List()->topLevelItem(2)->text(1), QString("One"));
        QCOMPARE(dialog->List()->topLevelItem(0)->text(2), QString("HKEY_CURRENT_USER\\Three"));

        dialog->List()->setCurrentItem(dialog->List()->topLevelItem(1));
        QVERIFY(dialog->UndoButton()->isEnabled());
        dialog->UndoButton()->click();
        QVERIFY(KeyExists(HKEY_CURRENT_USER, u"One"));
        QVERIFY(!KeyExists(HKEY_CURRENT_USER, u"Two"));
        QVERIFY(!KeyExists(HKEY_CURRENT_USER, u"Three"));
        QVERIFY(prompts->messages.isEmpty());
        // The window shows the undo on top, and what it took back as undone, which it cannot reach again.
        QCOMPARE(dialog->List()->topLevelItemCount(), 4);
        QCOMPARE(dialog->List()->topLevelItem(0)->text(1), Text(u"元に戻す (2 件)"));
        QVERIFY(dialog->List()->topLevelItem(1)->text(1).contains(Text(u"元に戻し済み")));
        dialog->List()->setCurrentItem(dialog->List()->topLevelItem(1));
        QVERIFY(!dialog->UndoButton()->isEnabled());
    }

    void anUndoThatWouldLoseAnotherProgramsChangeIsRefused() {
        SetValue(HKEY_LOCAL_MACHINE, u"Soft", u"v", REG_DWORD, {1, 0, 0, 0});
        startView();
        select({"HKEY_LOCAL_MACHINE", "Soft"});
        QVERIFY(view->SelectValueRow(u"v"));
        QVERIFY(view->OnCommand(ID_DELETE_VALUE));
        // Another program writes the value again, unrecorded.
        tovik::Backend& unrecorded = tovik::history::CurrentRecorder()->inner();
        const tovik::KeyId soft = unrecorded.findChild(unrecorded.rootKey(HKEY_LOCAL_MACHINE), u"Soft");
        const DWORD two = 2;
        QCOMPARE(unrecorded.setValue(soft, u"v", REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4), ERROR_SUCCESS);
        prompts->messages.clear();
        QVERIFY(view->OnCommand(ID_UNDO));
        QCOMPARE(prompts->messages.size(), 1);
        QVERIFY2(prompts->messages[0].contains(Text(u"HKEY_LOCAL_MACHINE\\Soft の値 v")), qPrintable(prompts->messages[0]));
        QVERIFY(HasValue(HKEY_LOCAL_MACHINE, u"Soft", u"v"));
    }
};

QTEST_MAIN(HistoryCommandsTest)
#include "history_commands_test.moc"
