// The key tree filtered by the day its keys were written, driven through the view's commands.
#include <QDateEdit>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "registry/key_time.h"
#include "registry/registry_api.h"
#include "support/registry_fixture.h"
#include "support/tree_helpers.h"
#include "view/command_ids.h"
#include "view/key_time_filter.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"

using namespace testing_support;
using ItemId = KeyTreeModel::ItemId;

namespace {

// A time after every write made so far, and no write made later shares it.
std::int64_t timeAfterWritesSoFar() {
    const std::int64_t mark = tovik::fileTimeNow();
    while (tovik::fileTimeNow() <= mark) {}
    return mark + 1;
}

}  // namespace

class KeyTimeFilterTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view_;
    std::int64_t mark_ = 0;

    void startView() {
        view_ = std::make_unique<CTovikView>();
        view_->resize(240, 294);
        view_->show();
        view_->OnInitialUpdate();
    }
    KeyTimeFilter& filter() { return view_->commands().timeFilter(); }
    ItemId item(const QStringList& path) {
        const ItemId found = itemAt(view_->treeModel(), path);
        if (found == KeyTreeModel::kNoItem) qFatal("no item %s", qPrintable(path.join('\\')));
        return found;
    }
    // Shown when neither the item nor any item above it is a hidden row.
    bool shown(const QStringList& path) {
        const KeyTreeModel& model = view_->treeModel();
        for (ItemId at = item(path); at != KeyTreeModel::kRootItem; at = model.parent(at)) {
            const QModelIndex index = model.indexOf(at);
            if (view_->keyTree()->isRowHidden(index.row(), index.parent())) return false;
        }
        return true;
    }
    QStringList shownOf(const QList<QStringList>& paths) {
        QStringList result;
        for (const QStringList& path : paths)
            if (shown(path)) result << path.join('\\');
        return result;
    }

    const QList<QStringList> everyKey = {
        {"HKEY_CLASSES_ROOT"},
        {"HKEY_CURRENT_USER"},
        {"HKEY_CURRENT_USER", "Software"},
        {"HKEY_CURRENT_USER", "Software", "Vendor"},
        {"HKEY_LOCAL_MACHINE"},
        {"HKEY_LOCAL_MACHINE", "Old"},
        {"HKEY_LOCAL_MACHINE", "Old", "Deep"},
        {"HKEY_LOCAL_MACHINE", "Old", "Deep", "Leaf"},
        {"HKEY_LOCAL_MACHINE", "Old", "Other"},
        {"HKEY_LOCAL_MACHINE", "Quiet"},
        {"HKEY_LOCAL_MACHINE", "Quiet", "A"},
        {"HKEY_LOCAL_MACHINE", "Quiet", "B"},
    };
    QStringList allNames() {
        QStringList names;
        for (const QStringList& path : everyKey) names << path.join('\\');
        return names;
    }

private slots:
    void init() {
        FreshRegistry();
        for (const char16_t* path : {u"Old\\Deep\\Leaf", u"Old\\Other", u"Quiet\\A", u"Quiet\\B"})
            MakeKey(HKEY_LOCAL_MACHINE, path);
        MakeKey(HKEY_CURRENT_USER, u"Software\\Vendor");
        mark_ = timeAfterWritesSoFar();
        // Touches Leaf alone: a value written changes only the key that holds it.
        SetValue(HKEY_LOCAL_MACHINE, u"Old\\Deep\\Leaf", u"v", REG_DWORD, {1, 0, 0, 0});
        startView();
    }
    void cleanup() { view_.reset(); }

    void showsTheKeysWrittenSinceWithTheKeysAboveThemUntilCleared() {
        QVERIFY(!view_->isCommandEnabled(ID_CLEAR_TIME_FILTER));
        filter().filterSince(mark_);
        QCOMPARE(shownOf(everyKey),
                 QStringList({"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\Old",
                              "HKEY_LOCAL_MACHINE\\Old\\Deep", "HKEY_LOCAL_MACHINE\\Old\\Deep\\Leaf"}));
        // The match is in view, not folded away below its parents.
        QVERIFY(view_->keyTree()->isExpanded(view_->treeModel().indexOf(item({"HKEY_LOCAL_MACHINE", "Old", "Deep"}))));
        QVERIFY(view_->isCommandEnabled(ID_CLEAR_TIME_FILTER));

        QVERIFY(view_->OnCommand(ID_CLEAR_TIME_FILTER));
        QCOMPARE(shownOf(everyKey), allNames());
        QVERIFY(!view_->isCommandEnabled(ID_CLEAR_TIME_FILTER));
    }

    void holdsAcrossARefreshAndShowsTheKeyTheUserGoesTo() {
        filter().filterSince(mark_);
        SetValue(HKEY_LOCAL_MACHINE, u"Old\\Other", u"w", REG_DWORD, {2, 0, 0, 0});
        view_->OnRefresh();
        QCOMPARE(shownOf(everyKey),
                 QStringList({"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\Old",
                              "HKEY_LOCAL_MACHINE\\Old\\Deep", "HKEY_LOCAL_MACHINE\\Old\\Deep\\Leaf",
                              "HKEY_LOCAL_MACHINE\\Old\\Other"}));

        // Found or typed in the address line: the old key shows, its older neighbours do not.
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"Quiet\\A"));
        QVERIFY(shown({"HKEY_LOCAL_MACHINE", "Quiet", "A"}));
        QVERIFY(!shown({"HKEY_LOCAL_MACHINE", "Quiet", "B"}));
        QCOMPARE(view_->selectedItem(), item({"HKEY_LOCAL_MACHINE", "Quiet", "A"}));

        QVERIFY(view_->OnCommand(ID_CLEAR_TIME_FILTER));
        QCOMPARE(shownOf(everyKey), allNames());
    }

    void theBarFiltersFromTheStartOfTheChosenLocalDay() {
        QVERIFY(view_->OnCommand(ID_FILTER_BY_TIME));
        QDateEdit* day = filter().dateEdit();
        QCOMPARE(day->date(), QDate::currentDate());
        QCOMPARE(filter().since(), KeyTimeFilter::startOfLocalDay(QDate::currentDate()));
        QCOMPARE(shownOf(everyKey), allNames());  // every key was written today

        day->setDate(QDate::currentDate().addDays(1));
        QCOMPARE(shownOf(everyKey), QStringList({"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"}));
        const std::int64_t tomorrow = *filter().since();
        QVERIFY(tomorrow > tovik::fileTimeNow());
        QVERIFY(tomorrow - tovik::fileTimeNow() <= 24LL * 3600 * tovik::kFileTimeTicksPerSecond);

        // Its 解除 clears it, as the menu item does.
        filter().filterBar()->findChild<QToolButton*>(QStringLiteral("keyTimeFilterClear"))->click();
        QVERIFY(!filter().since());
        QCOMPARE(shownOf(everyKey), allNames());
    }
};

QTEST_MAIN(KeyTimeFilterTest)
#include "key_time_filter_test.moc"
