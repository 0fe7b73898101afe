// Adding and deleting keys from the view, with scripted dialogs and answers.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "stores/sqlite/sqlite_db.h"
#include "stores/sqlite/sqlite_store.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "support/tree_helpers.h"
#include "view/add_key_dlg.h"
#include "view/command_ids.h"
#include "view/key_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"

using namespace testing_support;
using ItemId = KeyTreeModel::ItemId;

namespace {

std::function<int(QDialog&)> typeName(const QString& name) {
    return [name](QDialog& dialog) {
        static_cast<CAddKeyDlg&>(dialog).m_strKeyName = name;
        return IDOK;
    };
}

const QString kExists = QString::fromUtf16(u"既に存在します");

}  // namespace

class KeyCommandsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view_;
    ScriptedPrompts* prompts_ = nullptr;
    CTovikDoc doc_;

    void startView() { view_ = testing_support::startScriptedView(doc_, prompts_); }
    void select(const QStringList& path) {
        const ItemId item = itemAt(view_->treeModel(), path);
        QVERIFY(item != KeyTreeModel::kNoItem);
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        view_->selectItem(item);
        QVERIFY(refreshed.wait(2000));
    }

private slots:
    void init() {
        FreshRegistry();
        doc_.OnNewDocument();
    }
    void cleanup() { view_.reset(); }

    void addUnderARootAddsOneSortedItem() {
        MakeKey(HKEY_LOCAL_MACHINE, u"Alpha");
        MakeKey(HKEY_LOCAL_MACHINE, u"Omega");
        startView();
        select({"HKEY_LOCAL_MACHINE"});
        prompts_->dialogs.push_back(typeName("Middle"));
        view_->commands().keys().OnAddKey();
        QVERIFY(keyExists(HKEY_LOCAL_MACHINE, u"Middle"));
        const ItemId hklm = itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE"});
        QCOMPARE(childTexts(view_->treeModel(), hklm), QStringList({"Alpha", "Middle", "Omega"}));
        QVERIFY(prompts_->messages.isEmpty());

        prompts_->dialogs.push_back(typeName("MIDDLE"));
        view_->commands().keys().OnAddKey();
        QCOMPARE(prompts_->messages, QStringList({kExists}));
        QCOMPARE(childTexts(view_->treeModel(), hklm), QStringList({"Alpha", "Middle", "Omega"}));
        QVERIFY(!doc_.isModified());  // adding a key does not mark the document
    }

    void addUnderAKeyReloadsItsChildren() {
        MakeKey(HKEY_CURRENT_USER, u"Soft\\b");
        MakeKey(HKEY_CURRENT_USER, u"Soft\\d");
        startView();
        select({"HKEY_CURRENT_USER", "Soft"});
        prompts_->dialogs.push_back(typeName("c"));
        view_->commands().keys().OnAddKey();
        const ItemId soft = itemAt(view_->treeModel(), {"HKEY_CURRENT_USER", "Soft"});
        QCOMPARE(childTexts(view_->treeModel(), soft), QStringList({"b", "c", "d"}));

        prompts_->dialogs.push_back(typeName("b"));
        view_->commands().keys().OnAddKey();
        QCOMPARE(prompts_->messages, QStringList({kExists}));
        QCOMPARE(childTexts(view_->treeModel(), soft), QStringList({"b", "c", "d"}));
    }

    void addBelowAKeyWithoutChildrenKeepsSelectionAndList() {
        SetValue(HKEY_CURRENT_USER, u"Leaf", u"v", REG_SZ, stringToBytes(u"x"));
        startView();
        select({"HKEY_CURRENT_USER", "Leaf"});
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        prompts_->dialogs.push_back(typeName("First"));
        view_->commands().keys().OnAddKey();
        const ItemId leaf = itemAt(view_->treeModel(), {"HKEY_CURRENT_USER", "Leaf"});
        QCOMPARE(childTexts(view_->treeModel(), leaf), QStringList({"First"}));
        QCOMPARE(view_->selectedItem(), leaf);
        QVERIFY(!refreshed.wait(200));
        QCOMPARE(view_->listModel().valueCount(), 1);
    }

    void addBeforeAnyKeyIsChosenDoesNothing() {
        startView();
        const std::size_t items = view_->treeModel().itemCount();
        prompts_->dialogs.push_back(typeName("Nowhere"));
        view_->commands().keys().OnAddKey();
        QCOMPARE(prompts_->dialogCount, 1);
        QCOMPARE(view_->treeModel().itemCount(), items);
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            QVERIFY(!keyExists(root, u"Nowhere"));
    }

    void cancelledDialogCreatesNothing() {
        startView();
        select({"HKEY_LOCAL_MACHINE"});
        prompts_->dialogs.push_back([](QDialog& dialog) {
            static_cast<CAddKeyDlg&>(dialog).m_strKeyName = "Typed";
            return IDCANCEL;
        });
        view_->commands().keys().OnAddKey();
        QVERIFY(!keyExists(HKEY_LOCAL_MACHINE, u"Typed"));
    }

    void dialogShowsTheParentPathAndNeedsAName() {
        CAddKeyDlg dialog;
        dialog.m_strParentPath = "Software\\Vendor";
        bool stayedOpen = false;
        QString shownPath;
        QTimer::singleShot(0, &dialog, [&] {
            shownPath = dialog.parentLabel()->text();
            auto* ok = dialog.findChild<QPushButton*>("1");
            QTest::mouseClick(ok, Qt::LeftButton);  // empty name: stays open
            stayedOpen = dialog.isVisible();
            QTest::keyClicks(dialog.nameEdit(), "NewKey");
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        QCOMPARE(dialog.DoModal(), IDOK);
        QCOMPARE(shownPath, QString("Software\\Vendor"));
        QVERIFY(stayedOpen);
        QCOMPARE(dialog.m_strKeyName, QString("NewKey"));
        QCOMPARE(dialog.windowTitle(), QString::fromUtf16(u"キーの追加"));
    }

    void deleteRemovesTheSubtreeAndSelectsTheParent() {
        SetValue(HKEY_LOCAL_MACHINE, u"P", u"parentValue", REG_DWORD, dwordToBytes(1));
        SetValue(HKEY_LOCAL_MACHINE, u"P\\Foo\\x\\y\\z", u"deep", REG_SZ, stringToBytes(u"v"));
        MakeKey(HKEY_LOCAL_MACHINE, u"P\\Foo\\w");
        MakeKey(HKEY_LOCAL_MACHINE, u"P\\Other");
        startView();
        select({"HKEY_LOCAL_MACHINE", "P", "Foo"});
        view_->commands().keys().OnDeleteKey();
        QCOMPARE(prompts_->messages,
                 QStringList({QString::fromUtf16(u"FooキーをWORD")
                                  .replace("WORD", QString::fromUtf16(
                                                       u"削除します。配下のキーも消えます。\nよろしいですか？"))}));
        QVERIFY(!keyExists(HKEY_LOCAL_MACHINE, u"P\\Foo"));
        QVERIFY(keyExists(HKEY_LOCAL_MACHINE, u"P\\Other"));
        const ItemId p = itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "P"});
        QCOMPARE(childTexts(view_->treeModel(), p), QStringList({"Other"}));
        QCOMPARE(view_->selectedItem(), p);
        QVERIFY(view_->currentKeyPath() == u"P");
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        QVERIFY(refreshed.wait(2000));
        QCOMPARE(view_->listModel().valueCount(), 1);
        QCOMPARE(view_->listModel().columnText(0, 0), QString("parentValue"));
        QVERIFY(doc_.isModified());
    }

    void deleteAnsweredNoChangesNothing() {
        MakeKey(HKEY_LOCAL_MACHINE, u"Keep\\Child");
        startView();
        select({"HKEY_LOCAL_MACHINE", "Keep"});
        prompts_->answers.push_back(IDNO);
        view_->commands().keys().OnDeleteKey();
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(keyExists(HKEY_LOCAL_MACHINE, u"Keep\\Child"));
        QVERIFY(itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "Keep", "Child"}) != KeyTreeModel::kNoItem);
        QVERIFY(!doc_.isModified());
    }

    // On a Wine prefix HKEY_CLASSES_ROOT is HKLM\Software\Classes: deleting Software would stop
    // there after everything else below it went, so the view refuses before anything goes.
    void deleteAboveTheClassesRootOfAPrefixDeletesNothingAndSaysWhy() {
        QTemporaryDir prefix;
        const QString system = prefix.filePath("system.reg");
        const QByteArray machine = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
                                   "#arch=win64\n\n[Software\\\\Classes\\\\.txt] 1700000000\n@=\"txtfile\"\n\n"
                                   "[Software\\\\Wine] 1700000000\n\"Version\"=\"win10\"\n";
        for (const auto& [name, text] :
             {std::pair<QString, QByteArray>{system, machine},
              {prefix.filePath("user.reg"), "WINE REGISTRY Version 2\n;; All keys relative to "
                                            "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n"}}) {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        }
        tovik::RegistrySource source;
        source.kind = tovik::RegistrySource::Kind::WinePrefix;
        source.path = prefix.path().toStdString();
        const tovik::StoreOpenResult opened = tovik::openRegistry(source);
        QVERIFY2(opened.ok && !opened.readOnly, opened.error.c_str());
        startView();
        select({"HKEY_LOCAL_MACHINE", "Software"});
        view_->commands().keys().OnDeleteKey();
        QCOMPARE(prompts_->messages.size(), 1);
        QVERIFY(prompts_->messages.first().contains(QString::fromUtf16(u"何も削除していません")));
        QVERIFY(keyExists(HKEY_LOCAL_MACHINE, u"Software\\Wine"));
        QVERIFY(keyExists(HKEY_CLASSES_ROOT, u".txt"));
        QFile file(system);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), machine);
        QVERIFY(!doc_.isModified());
    }

    void enablingFollowsTheSelection() {
        MakeKey(HKEY_LOCAL_MACHINE, u"K");
        startView();
        QVERIFY(view_->isCommandEnabled(ID_ADD_KEY));      // add key: always
        QVERIFY(!view_->isCommandEnabled(ID_DELETE_KEY));  // delete key: no key below a root yet
        select({"HKEY_LOCAL_MACHINE"});
        QVERIFY(view_->isCommandEnabled(ID_ADD_KEY));
        QVERIFY(!view_->isCommandEnabled(ID_DELETE_KEY));
        select({"HKEY_LOCAL_MACHINE", "K"});
        QVERIFY(view_->isCommandEnabled(ID_DELETE_KEY));
    }

    void aKeyThatWillNotGoEndsTheWalkAndStaysShown() {
        MakeKey(HKEY_LOCAL_MACHINE, u"P\\Foo\\a");
        MakeKey(HKEY_LOCAL_MACHINE, u"P\\Foo\\Stuck\\inner");
        MakeKey(HKEY_LOCAL_MACHINE, u"P\\Foo\\z");
        // The store refuses to delete the key named "Stuck" (UTF-16LE bytes of the name).
        tovik::currentSqliteDatabase()->exec(
            "CREATE TEMP TRIGGER keep_stuck BEFORE DELETE ON keys "
            "WHEN old.name = X'53007400750063006B00' BEGIN SELECT RAISE(ABORT, 'kept'); END;");
        startView();
        select({"HKEY_LOCAL_MACHINE", "P", "Foo"});
        view_->commands().keys().OnDeleteKey();  // must end although "Stuck" comes back at the front after every pass
        QVERIFY(keyExists(HKEY_LOCAL_MACHINE, u"P\\Foo\\Stuck"));
        QVERIFY(!keyExists(HKEY_LOCAL_MACHINE, u"P\\Foo\\Stuck\\inner"));
        QVERIFY(!keyExists(HKEY_LOCAL_MACHINE, u"P\\Foo\\a"));
        QVERIFY(!keyExists(HKEY_LOCAL_MACHINE, u"P\\Foo\\z"));
        // The tree shows what the registry still holds: Foo with Stuck below it.
        const ItemId foo = itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "P", "Foo"});
        QVERIFY(foo != KeyTreeModel::kNoItem);
        QCOMPARE(childTexts(view_->treeModel(), foo), QStringList({"Stuck"}));
        QCOMPARE(view_->selectedItem(), foo);
        tovik::currentSqliteDatabase()->exec("DROP TRIGGER keep_stuck;");
    }

    void deepAndWideSubtreesAreDeleted() {
        std::u16string path = u"Deep";
        for (int level = 1; level < 512; ++level) path += u"\\d";
        MakeKey(HKEY_LOCAL_MACHINE, path);
        for (int i = 0; i < 2000; ++i)
            MakeKey(HKEY_LOCAL_MACHINE, u"Deep\\wide" + std::u16string(1, u'a' + i % 26) +
                                            std::u16string(1, u'A' + i / 26 % 26) + std::u16string(1, u'0' + i / 676));
        const DeleteSubkeysResult result = DeleteSubkeys(HKEY_LOCAL_MACHINE, u"Deep");
        QCOMPARE(result.failed, std::size_t(0));
        QCOMPARE(result.deleted, std::size_t(511 + 2000));
        QVERIFY(keyExists(HKEY_LOCAL_MACHINE, u"Deep"));
        HKEY key = 0;
        QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Deep", 0, 0, &key), ERROR_SUCCESS);
        WCHAR name[300];
        DWORD length = 300;
        QCOMPARE(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
        RegCloseKey(key);
    }
};

QTEST_MAIN(KeyCommandsTest)
#include "key_commands_test.moc"
