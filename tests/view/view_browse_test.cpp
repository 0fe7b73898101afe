// The browser view's tree and value list, driven offscreen against an in-memory registry.
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/sqlite/sqlite_store.h"
#include "support/registry_fixture.h"
#include "support/tree_helpers.h"
#include "tests/registry/forwarding_backend.h"
#include "ui/qt_text.h"
#include "view/tovik_view.h"

using namespace testing_support;
using ItemId = KeyTreeModel::ItemId;

namespace {

ItemId childNamed(const KeyTreeModel& model, ItemId item, const QString& text) {
    for (ItemId child : model.children(item))
        if (model.itemText(child) == text) return child;
    return KeyTreeModel::kNoItem;
}

// A real store that counts the children it is asked to find by name.
class CountingLookups final : public ForwardingBackend {
public:
    using ForwardingBackend::ForwardingBackend;
    int lookups = 0;

    tovik::KeyId findChild(tovik::KeyId parent, std::u16string_view name) override {
        ++lookups;
        return ForwardingBackend::findChild(parent, name);
    }
    tovik::KeyId findChildNamed(tovik::KeyId parent, std::u16string_view name, std::u16string& stored) override {
        ++lookups;
        return ForwardingBackend::findChildNamed(parent, name, stored);
    }
};

}  // namespace

class ViewBrowseTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view_;

    void startView() {
        view_ = std::make_unique<CTovikView>();
        view_->resize(240, 294);
        view_->show();
        view_->OnInitialUpdate();
    }
    // Selects the item and lets the posted refresh run.
    void selectAndRefresh(ItemId item) {
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        view_->selectItem(item);
        QVERIFY(refreshed.wait(2000));
    }

private slots:
    void init() { FreshRegistry(); }
    void cleanup() { view_.reset(); }

    void rootsComeInOrderWithTheirHandles() {
        startView();
        const KeyTreeModel& model = view_->treeModel();
        QCOMPARE(childTexts(model, KeyTreeModel::kRootItem),
                 QStringList({"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"}));
        const auto& roots = model.children(KeyTreeModel::kRootItem);
        QCOMPARE(model.itemData(roots[0]), HKEY_CLASSES_ROOT);
        QCOMPARE(model.itemData(roots[1]), HKEY_CURRENT_USER);
        QCOMPARE(model.itemData(roots[2]), HKEY_LOCAL_MACHINE);
    }

    void wholeHierarchyIsReadSortedWithZeroItemData() {
        MakeKey(HKEY_LOCAL_MACHINE, u"beta\\zeta");
        MakeKey(HKEY_LOCAL_MACHINE, u"beta\\Alpha\\deep\\deeper");
        MakeKey(HKEY_LOCAL_MACHINE, u"Alpha");
        MakeKey(HKEY_LOCAL_MACHINE, u"gamma");
        MakeKey(HKEY_CURRENT_USER, u"Software");
        startView();
        const KeyTreeModel& model = view_->treeModel();
        const ItemId hklm = itemAt(model, {"HKEY_LOCAL_MACHINE"});
        QCOMPARE(childTexts(model, hklm), QStringList({"Alpha", "beta", "gamma"}));
        const ItemId beta = itemAt(model, {"HKEY_LOCAL_MACHINE", "beta"});
        QCOMPARE(childTexts(model, beta), QStringList({"Alpha", "zeta"}));
        const ItemId deeper = itemAt(model, {"HKEY_LOCAL_MACHINE", "beta", "Alpha", "deep", "deeper"});
        QVERIFY(deeper != KeyTreeModel::kNoItem);
        QCOMPARE(model.itemData(deeper), 0u);
        QCOMPARE(childTexts(model, itemAt(model, {"HKEY_CURRENT_USER"})), QStringList({"Software"}));
    }

    // The tree is read by walking the handles it enumerates: no key is looked up by name again
    // from its root, which for a deep tree would cost a lookup per level for every key.
    void treeIsFilledWithoutLookingKeysUpByName() {
        auto counting = std::make_unique<CountingLookups>(tovik::openSqliteMemoryStore());
        CountingLookups* store = counting.get();
        tovik::setCurrentBackend(std::move(counting));
        for (const char16_t* path : {u"a\\b\\c\\d\\e", u"a\\b\\x\\y", u"a\\z", u"q\\r\\s"})
            MakeKey(HKEY_LOCAL_MACHINE, path);
        MakeKey(HKEY_CURRENT_USER, u"Software\\Tovik");
        store->lookups = 0;
        startView();
        const KeyTreeModel& model = view_->treeModel();
        QVERIFY(itemAt(model, {"HKEY_LOCAL_MACHINE", "a", "b", "c", "d", "e"}) != KeyTreeModel::kNoItem);
        QVERIFY(itemAt(model, {"HKEY_CURRENT_USER", "Software", "Tovik"}) != KeyTreeModel::kNoItem);
        QCOMPARE(store->lookups, 0);
    }

    void itemKeyPathWalksUpToTheRoot() {
        MakeKey(HKEY_LOCAL_MACHINE, u"A\\B");
        startView();
        HKEY root = 1;
        std::u16string path = u"junk";
        view_->GetItemKeyPath(itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "A", "B"}), &root, &path);
        QCOMPARE(root, HKEY_LOCAL_MACHINE);
        QVERIFY(path == u"A\\B");
        view_->GetItemKeyPath(itemAt(view_->treeModel(), {"HKEY_CURRENT_USER"}), &root, &path);
        QCOMPARE(root, HKEY_CURRENT_USER);
        QVERIFY(path.empty());
    }

    void selectingAKeySetsTheCurrentKeyAndListsItsValuesLater() {
        SetValue(HKEY_LOCAL_MACHINE, u"A\\B", u"zulu", REG_DWORD, dwordToBytes(255));
        SetValue(HKEY_LOCAL_MACHINE, u"A\\B", u"", REG_SZ, stringToBytes(std::u16string(u"abc\0", 4)));
        SetValue(HKEY_LOCAL_MACHINE, u"A\\B", u"Bravo", REG_BINARY, Bytes{0x0A, 0xFF});
        SetValue(HKEY_LOCAL_MACHINE, u"A\\B", u"alpha", REG_MULTI_SZ, TextToMultiSz(u"one|two||"));
        SetValue(HKEY_LOCAL_MACHINE, u"A\\B", u"odd", 0x12345, Bytes{0x01});
        startView();
        view_->selectItem(itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "A", "B"}));
        QCOMPARE(view_->currentRoot(), HKEY_LOCAL_MACHINE);
        QVERIFY(view_->currentKeyPath() == u"A\\B");
        // The refresh is posted: nothing is listed until the event loop runs it.
        QCOMPARE(view_->listModel().valueCount(), 0);
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        QVERIFY(refreshed.wait(2000));

        const ValueListModel& list = view_->listModel();
        QCOMPARE(list.rowCount(), 5);
        const QStringList expected[] = {{"@", "SZ", "abc"},
                                        {"alpha", "MLT", "one|two||"},
                                        {"Bravo", "BIN", "0A FF "},
                                        {"odd", "??", "01 "},
                                        {"zulu", "DW", "255(FF)"}};
        for (int row = 0; row < 5; ++row)
            for (int column = 0; column < 3; ++column) QCOMPARE(list.columnText(row, column), expected[row][column]);
        // Item data is the type; images follow the icon class: string 1, number 2, binary 0.
        QCOMPARE(list.data(list.index(4, 0), Qt::UserRole).toUInt(), REG_DWORD);
        QCOMPARE(list.data(list.index(3, 0), Qt::UserRole).toUInt(), 0x12345u);
        QCOMPARE(list.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf16(u"名前"));
        QCOMPARE(list.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf16(u"ﾀｲﾌﾟ"));
        QCOMPARE(list.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf16(u"値"));
        QCOMPARE(view_->valueList()->header()->sectionSize(0), 100);
        QCOMPARE(view_->valueList()->header()->sectionSize(1), 50);
        QCOMPARE(view_->valueList()->header()->sectionSize(2), 240);
    }

    void selectingARootListsTheRootsOwnValues() {
        SetValue(HKEY_CURRENT_USER, u"", u"top", REG_SZ, stringToBytes(u"x"));
        MakeKey(HKEY_CURRENT_USER, u"Child");
        startView();
        selectAndRefresh(itemAt(view_->treeModel(), {"HKEY_CURRENT_USER"}));
        QCOMPARE(view_->currentRoot(), HKEY_CURRENT_USER);
        QVERIFY(view_->currentKeyPath().empty());
        QCOMPARE(view_->listModel().valueCount(), 1);
        QCOMPARE(view_->listModel().columnText(0, 0), QString("top"));
    }

    void bigNamesAndValuesDoNotEndTheListing() {
        // Values after a large one, and keys after a long name, must all be shown.
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"a", REG_SZ, stringToBytes(u"first"));
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"b", REG_BINARY, Bytes(100000, 0xAB));
        SetValue(HKEY_LOCAL_MACHINE, u"K", std::u16string(2000, u'n'), REG_DWORD, dwordToBytes(7));
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"z", REG_SZ, stringToBytes(u"last"));
        MakeKey(HKEY_LOCAL_MACHINE, u"K\\" + std::u16string(255, u'L'));
        MakeKey(HKEY_LOCAL_MACHINE, u"K\\M");
        startView();
        const ItemId k = itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "K"});
        QCOMPARE(view_->treeModel().children(k).size(), std::size_t(2));
        selectAndRefresh(k);
        const ValueListModel& list = view_->listModel();
        QCOMPARE(list.rowCount(), 4);
        QCOMPARE(list.rowAt(1).data.size(), std::size_t(100000));  // the row keeps the whole value
        QVERIFY(list.columnText(1, 2).endsWith(QChar(u'…')));
        QCOMPARE(list.rowAt(2).name.size(), std::size_t(2000));
        QCOMPARE(list.columnText(3, 2), QString("last"));
    }

    void aFailingKeyGivesAnEmptyList() {
        SetValue(HKEY_LOCAL_MACHINE, u"Gone", u"v", REG_DWORD, {1, 0, 0, 0});
        startView();
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"Gone"));
        QCOMPARE(view_->listModel().valueCount(), 1);
        // Deleted behind the view's back: the current key no longer opens.
        QCOMPARE(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Gone"), ERROR_SUCCESS);
        view_->FillValueList();
        QCOMPARE(view_->listModel().valueCount(), 0);
        view_->clearCurrentKey();
        view_->FillValueList();
        QCOMPARE(view_->listModel().valueCount(), 0);
    }

    void loadSelectedSubKeysReadsKeysCreatedAfterStart() {
        MakeKey(HKEY_LOCAL_MACHINE, u"Parent");
        MakeKey(HKEY_LOCAL_MACHINE, u"Full\\x");
        startView();
        KeyTreeModel& model = view_->treeModel();
        MakeKey(HKEY_LOCAL_MACHINE, u"Parent\\New\\Below");
        MakeKey(HKEY_LOCAL_MACHINE, u"Parent\\Another");
        MakeKey(HKEY_LOCAL_MACHINE, u"Full\\y");

        const ItemId parent = itemAt(model, {"HKEY_LOCAL_MACHINE", "Parent"});
        selectAndRefresh(parent);
        // A double tap goes through the tree's own handling as well.
        view_->keyTree()->expand(model.indexOf(itemAt(model, {"HKEY_LOCAL_MACHINE"})));
        const QRect rect = view_->keyTree()->visualRect(model.indexOf(parent));
        QTest::mousePress(view_->keyTree()->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(view_->keyTree()->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(childTexts(model, parent), QStringList({"Another", "New"}));
        QCOMPARE(childTexts(model, childNamed(model, parent, "New")), QStringList({"Below"}));

        // An item that has children is only re-sorted: keys added since stay unseen.
        const ItemId full = itemAt(model, {"HKEY_LOCAL_MACHINE", "Full"});
        selectAndRefresh(full);
        view_->LoadSelectedSubKeys();
        QCOMPARE(childTexts(model, full), QStringList({"x"}));

        // A root item only becomes the current key again.
        const ItemId hklm = itemAt(model, {"HKEY_LOCAL_MACHINE"});
        const std::size_t before = model.itemCount();
        {
            // The root item becomes selected while the current key stays Full's.
            const QSignalBlocker quiet(view_->keyTree()->selectionModel());
            view_->keyTree()->selectionModel()->setCurrentIndex(model.indexOf(hklm),
                                                                QItemSelectionModel::ClearAndSelect);
        }
        QVERIFY(view_->currentKeyPath() == u"Full");
        view_->LoadSelectedSubKeys();
        QVERIFY(view_->currentKeyPath().empty());
        QCOMPARE(view_->currentRoot(), HKEY_LOCAL_MACHINE);
        QCOMPARE(model.itemCount(), before);
    }

    void secondInitialUpdateAddsNothing() {
        MakeKey(HKEY_LOCAL_MACHINE, u"Only");
        startView();
        const std::size_t items = view_->treeModel().itemCount();
        view_->resize(300, 400);
        view_->OnInitialUpdate();
        QCOMPARE(view_->treeModel().itemCount(), items);
        QCOMPARE(view_->treeModel().children(KeyTreeModel::kRootItem).size(), std::size_t(3));
        QCOMPARE(view_->valueList()->model()->columnCount(), 3);
        QCOMPARE(view_->dividerY(), 399 / 2);  // the layout is done again
    }

    void deepTreesLoadWithoutExhaustingTheStack() {
        std::u16string path = u"d";
        for (int level = 1; level < 512; ++level) path += u"\\d";
        MakeKey(HKEY_LOCAL_MACHINE, path);
        startView();
        std::size_t depth = 0;
        ItemId item = itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE"});
        while (view_->treeModel().hasChildren(item)) {
            item = view_->treeModel().children(item).front();
            ++depth;
        }
        QCOMPARE(depth, std::size_t(512));
        HKEY root = 0;
        std::u16string found;
        view_->GetItemKeyPath(item, &root, &found);
        QVERIFY(found == path);
    }

    // The list shows "??" for every type above 8; the row's tip and the view's line for the
    // selected value name the type, by its platform name where it has one.
    void typesAboveEightAreNamedInTheTipAndTheLine() {
        const BYTE one[8] = {1};
        for (const auto& [name, type] :
             {std::pair{u"q", REG_QWORD}, std::pair{u"p", 0xFFFF0012u}, std::pair{u"s", REG_SZ}}) {
            SetValue(HKEY_LOCAL_MACHINE, u"K", name, type, Bytes(one, one + 8));
        }
        startView();
        selectAndRefresh(itemAt(view_->treeModel(), {"HKEY_LOCAL_MACHINE", "K"}));
        const ValueListModel& list = view_->listModel();
        QSignalSpy changed(view_.get(), &CTovikView::selectedValueChanged);
        QCOMPARE(view_->selectedValueTypeText(), QString());
        const QStringList expected = {"4294901778 (0xFFFF0012)", "REG_QWORD (11)", "REG_SZ (1)"};  // p, q, s
        for (int row = 0; row < list.rowCount(); ++row) {
            for (int column = 0; column < 3; ++column)
                QCOMPARE(list.data(list.index(row, column), Qt::ToolTipRole).toString(), expected[row]);
            view_->valueList()->selectionModel()->setCurrentIndex(
                list.index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            QCOMPARE(view_->selectedValueTypeText(), expected[row]);
        }
        QCOMPARE(list.columnText(0, 1), QString("??"));
        QCOMPARE(list.columnText(1, 1), QString("??"));
        QCOMPARE(changed.count(), 3);
        view_->FillValueList();  // a refill drops the selection, and says so
        QCOMPARE(view_->selectedValueTypeText(), QString());
        QVERIFY(changed.count() > 3);
    }
};

QTEST_MAIN(ViewBrowseTest)
#include "view_browse_test.moc"
