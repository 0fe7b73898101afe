// 検索..., 次を検索, 前を検索, the 検索結果 list and the progress display, with scripted dialogs.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include "registry/registry_api.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "ui/qt_text.h"
#include "view/find_commands.h"
#include "view/find_dlg.h"
#include "view/find_results_dlg.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"

using namespace testing_support;
using tovik::find::FindStatus;

namespace {

struct Answers {
    QString text;
    bool keys = true, values = true, data = true, matchCase = false, whole = false, fromTop = true, all = false;
};

std::function<int(QDialog&)> answer(Answers a) {
    return [a](QDialog& dialog) {
        auto& find = static_cast<CFindDlg&>(dialog);
        find.m_strText = a.text;
        find.m_bKeyNames = a.keys;
        find.m_bValueNames = a.values;
        find.m_bData = a.data;
        find.m_bMatchCase = a.matchCase;
        find.m_bWholeMatch = a.whole;
        find.m_bFromTop = a.fromTop;
        find.m_bFindAll = a.all;
        return IDOK;
    };
}

Bytes sz(std::u16string_view text) {
    Bytes bytes;
    for (char16_t c : text) bytes.insert(bytes.end(), {static_cast<BYTE>(c & 0xFF), static_cast<BYTE>(c >> 8)});
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

const QString kNotFound = toQString(FindCommands::kNotFoundMessage);

}  // namespace

class FindCommandsTest : public QObject {
    Q_OBJECT
    CTovikDoc doc_;
    std::unique_ptr<CTovikView> view_;
    ScriptedPrompts* prompts_ = nullptr;
    FindCommands* find_ = nullptr;

    void start() {
        view_ = startScriptedView(doc_, prompts_);
        find_ = new FindCommands(*view_);
    }
    // Runs a command and waits for its search to end.
    FindStatus run(const std::function<void()>& command) {
        QSignalSpy finished(find_, &FindCommands::searchFinished);
        command();
        if (finished.isEmpty() && !finished.wait(5000)) return FindStatus::Running;
        return finished.first().first().value<FindStatus>();
    }
    QString current() const {
        QString text = QString::number(view_->currentRoot(), 16) + ":" + toQString(view_->currentKeyPath());
        if (const auto value = view_->selectedValueName()) text += "/" + toQString(*value);
        return text;
    }

private slots:
    void init() {
        FreshRegistry();
        // In the walk's order: HKCU\A (key), HKCU\A value "needle", HKCU\B\Needle (key),
        // HKLM\C with data that holds the text.
        SetValue(HKEY_CURRENT_USER, u"A", u"needle", REG_DWORD, {1, 0, 0, 0});
        SetValue(HKEY_CURRENT_USER, u"A", u"other", REG_SZ, sz(u"hay"));
        MakeKey(HKEY_CURRENT_USER, u"B\\Needle");
        SetValue(HKEY_LOCAL_MACHINE, u"C", u"", REG_SZ, sz(u"a NEEDLE in the data"));
        start();
    }
    void cleanup() { view_.reset(); }

    void findGoesThroughHitsInOrderAndWrapsAround() {
        prompts_->dialogs.push_back(answer({"needle"}));
        QCOMPARE(run([&] { find_->OnFind(); }), FindStatus::Found);
        QCOMPARE(current(), QString("80000001:A/needle"));
        QCOMPARE(run([&] { find_->OnFindNext(); }), FindStatus::Found);
        QCOMPARE(current(), QString("80000001:B\\Needle"));
        // The hit's key is expanded to, and current in the tree.
        QVERIFY(
            view_->keyTree()->isExpanded(view_->treeModel().indexOf(view_->treeModel().parent(view_->selectedItem()))));
        QCOMPARE(run([&] { find_->OnFindNext(); }), FindStatus::Found);
        QCOMPARE(current(), QString("80000002:C/"));
        QCOMPARE(run([&] { find_->OnFindNext(); }), FindStatus::Found);
        QCOMPARE(current(), QString("80000001:A/needle"));  // wraps around to the top
        QCOMPARE(run([&] { find_->OnFindPrevious(); }), FindStatus::Found);
        QCOMPARE(current(), QString("80000002:C/"));  // and back round the end
        QCOMPARE(run([&] { find_->OnFindPrevious(); }), FindStatus::Found);
        QCOMPARE(current(), QString("80000001:B\\Needle"));
        QVERIFY(prompts_->messages.isEmpty());
    }

    void optionsNarrowWhatIsFound() {
        prompts_->dialogs.push_back(answer({"NEEDLE", true, true, true, true}));
        QCOMPARE(run([&] { find_->OnFind(); }), FindStatus::Found);
        QCOMPARE(current(), QString("80000002:C/"));  // case: only the data holds NEEDLE

        prompts_->dialogs.push_back(answer({"needle", true, false, false}));
        QCOMPARE(run([&] { find_->OnFind(); }), FindStatus::Found);
        QCOMPARE(current(), QString("80000001:B\\Needle"));  // key names only

        prompts_->dialogs.push_back(answer({"need", true, true, true, false, true}));
        QCOMPARE(run([&] { find_->OnFind(); }), FindStatus::NotFound);  // whole match
        QCOMPARE(prompts_->messages, QStringList({kNotFound}));
        QCOMPARE(current(), QString("80000001:B\\Needle"));  // nothing found moves nothing

        // The dialog opens with the last answers.
        bool checked = false;
        prompts_->dialogs.push_back([&](QDialog& dialog) {
            auto& d = static_cast<CFindDlg&>(dialog);
            checked = d.m_strText == "need" && d.m_bKeyNames && d.m_bValueNames && d.m_bData && !d.m_bMatchCase &&
                      d.m_bWholeMatch && d.m_bFromTop;
            return IDCANCEL;
        });
        find_->OnFind();
        QVERIFY(checked);
        QVERIFY(!find_->isRunning());
    }

    void theDialogStartsWithEverythingSelectedAndFromTheSelectedKey() {
        view_->goToKey(HKEY_CURRENT_USER, u"B");
        bool defaults = false;
        prompts_->dialogs.push_back([&](QDialog& dialog) {
            auto& d = static_cast<CFindDlg&>(dialog);
            defaults = d.m_strText.isEmpty() && d.m_bKeyNames && d.m_bValueNames && d.m_bData && !d.m_bMatchCase &&
                       !d.m_bWholeMatch && !d.m_bFromTop;
            d.m_strText = "needle";
            return IDOK;
        });
        QCOMPARE(run([&] { find_->OnFind(); }), FindStatus::Found);
        QVERIFY(defaults);
        QCOMPARE(current(), QString("80000001:B\\Needle"));  // from the selected key, not the top
        QVERIFY(find_->OnUpdateFindNext());
    }

    void realDialogRefusesAnEmptyTextOrNothingToLookAt() {
        CFindDlg dialog;
        dialog.show();
        dialog.accept();
        QVERIFY(dialog.isVisible());  // no text
        dialog.textEdit()->setText("x");
        for (const QString& name :
             {QString::fromUtf16(u"キー名"), QString::fromUtf16(u"値の名前"), QString::fromUtf16(u"データ")})
            for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
                if (box->text() == name) box->setChecked(false);
        dialog.accept();
        QVERIFY(dialog.isVisible());  // nothing to look at
        for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
            if (box->text() == QString::fromUtf16(u"データ")) box->setChecked(true);
        dialog.accept();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.m_strText, QString("x"));
        QVERIFY(!dialog.m_bKeyNames && dialog.m_bData);
    }

    void findAllListsEveryHitAndADoubleClickGoesThere() {
        prompts_->dialogs.push_back(answer({"needle", true, true, true, false, false, true, true}));
        QCOMPARE(run([&] { find_->OnFind(); }), FindStatus::Finished);
        CFindResultsDlg* results = find_->resultsDialog();
        QVERIFY(results && results->isVisible());
        QCOMPARE(results->windowTitle(), QString::fromUtf16(u"検索結果"));
        QTreeWidget* list = results->list();
        QCOMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("HKEY_CURRENT_USER\\A"));
        QCOMPARE(list->topLevelItem(0)->text(1), QString("needle"));
        QCOMPARE(list->topLevelItem(1)->text(0), QString("HKEY_CURRENT_USER\\B\\Needle"));
        QCOMPARE(list->topLevelItem(1)->text(1), QString());
        QCOMPARE(list->topLevelItem(2)->text(1), QString("@"));

        QTest::qWaitForWindowExposed(results);
        const QRect row = list->visualItemRect(list->topLevelItem(2));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
        QTRY_COMPARE(current(), QString("80000002:C/"));
        // 次を検索 goes on from the hit the list went to.
        QCOMPARE(run([&] { find_->OnFindNext(); }), FindStatus::Found);
        QCOMPARE(current(), QString("80000001:A/needle"));

        prompts_->dialogs.push_back(answer({"nowhere", true, true, true, false, false, true, true}));
        QCOMPARE(run([&] { find_->OnFind(); }), FindStatus::Finished);
        QCOMPARE(prompts_->messages, QStringList({kNotFound}));
    }

    // Keys written between two days, without a text: every such key is a hit (values are not),
    // and the results show when each key was written.
    void findAllByTheDaysKeysWereWrittenShowsTheirTimes() {
        prompts_->dialogs.push_back([](QDialog& dialog) {
            auto& d = static_cast<CFindDlg&>(dialog);
            d.m_strText.clear();
            d.m_bChangedBetween = true;
            d.m_changedFrom = d.m_changedUntil = QDate::currentDate();
            d.m_bFromTop = d.m_bFindAll = true;
            return IDOK;
        });
        QCOMPARE(run([&] { find_->OnFind(); }), FindStatus::Finished);
        CFindResultsDlg* results = find_->resultsDialog();
        QVERIFY(results);
        QTreeWidget* list = results->list();
        QCOMPARE(list->headerItem()->text(2), QString::fromUtf16(u"最終更新"));
        QStringList keys;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list->topLevelItem(i);
            keys << item->text(0);
            QCOMPARE(item->text(1), QString());  // key hits only
            QVERIFY2(!item->text(2).isEmpty(), qPrintable(item->text(0)));
        }
        QVERIFY(keys.contains("HKEY_CURRENT_USER\\B\\Needle"));
        QVERIFY(keys.contains("HKEY_LOCAL_MACHINE\\C"));
        const std::int64_t written = results->hits().front().keyWriteTime;
        QCOMPARE(list->topLevelItem(0)->text(2), keyTimeText(written));

        // The dialog opens with the days, and days that wrote nothing find nothing.
        bool kept = false;
        prompts_->dialogs.push_back([&](QDialog& dialog) {
            auto& d = static_cast<CFindDlg&>(dialog);
            kept = d.m_bChangedBetween && d.m_changedFrom == QDate::currentDate();
            d.m_changedFrom = QDate(2001, 1, 1);
            d.m_changedUntil = QDate(2001, 1, 2);
            d.m_bFindAll = true;
            return IDOK;
        });
        QCOMPARE(run([&] { find_->OnFind(); }), FindStatus::Finished);
        QVERIFY(kept);
        QCOMPARE(prompts_->messages, QStringList({kNotFound}));
    }

    void realDialogTakesAnEmptyTextWhenKeysAreFoundByDay() {
        CFindDlg dialog;
        dialog.show();
        dialog.accept();
        QVERIFY(dialog.isVisible());  // no text and no days
        for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
            if (box->text() == QString::fromUtf16(u"更新日:")) box->setChecked(true);
        dialog.accept();
        QVERIFY(!dialog.isVisible());
        QVERIFY(dialog.m_bChangedBetween);
        QCOMPARE(dialog.m_changedUntil, QDate::currentDate());
    }

    void aLongSearchShowsProgressAndCanBeCancelled() {
        for (int i = 0; i < 400; ++i)
            MakeKey(HKEY_LOCAL_MACHINE, u"Many\\K" + std::u16string(1, u'a' + i % 26) + toU16(QString::number(i)));
        view_->OnRefresh();
        view_->goToKey(HKEY_CURRENT_USER, u"A");
        find_->setSliceBudget(5);
        find_->setProgressDelay(0);
        QSignalSpy finished(find_, &FindCommands::searchFinished);
        prompts_->dialogs.push_back(answer({"not in the registry"}));
        find_->OnFind();
        QTRY_VERIFY(find_->progress() && find_->progress()->isVisible());
        QVERIFY(find_->isRunning());
        QVERIFY(!find_->OnUpdateFindNext());  // no second search while one runs
        QPushButton* stop = nullptr;
        for (QPushButton* button : find_->progress()->findChildren<QPushButton*>())
            if (button->text() == QString::fromUtf16(u"中止")) stop = button;
        QVERIFY(stop);
        QTest::mouseClick(stop, Qt::LeftButton);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().value<FindStatus>(), FindStatus::Cancelled);
        QVERIFY(!find_->isRunning());
        QVERIFY(prompts_->messages.isEmpty());  // a cancelled search says nothing
        QCOMPARE(current(), QString("80000001:A"));
    }

    // The progress dialog handles events while it is updated: 中止 pressed just then ends the
    // search from inside that update.
    void aCancelArrivingWhileTheProgressIsUpdatedEndsTheSearch() {
        for (int i = 0; i < 2000; ++i) MakeKey(HKEY_LOCAL_MACHINE, u"Many\\K" + toU16(QString::number(i)));
        view_->OnRefresh();
        view_->goToKey(HKEY_CURRENT_USER, u"A");
        find_->setSliceBudget(40);  // the progress moves on with every slice
        find_->setProgressDelay(0);
        QSignalSpy finished(find_, &FindCommands::searchFinished);
        prompts_->dialogs.push_back(answer({"not in the registry"}));
        find_->OnFind();
        // One slice per pass: each slice queues the next.
        for (int slices = 0; slices < 1000 && !(find_->progress() && find_->progress()->isVisible()); ++slices)
            QCoreApplication::processEvents();
        QVERIFY(find_->progress() && find_->progress()->isVisible());
        QVERIFY(find_->isRunning());
        QPushButton* stop = nullptr;
        for (QPushButton* button : find_->progress()->findChildren<QPushButton*>())
            if (button->text() == QString::fromUtf16(u"中止")) stop = button;
        QVERIFY(stop);
        // Queued behind the next slice, so the update of that slice delivers the click.
        QMetaObject::invokeMethod(stop, &QPushButton::click, Qt::QueuedConnection);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().value<FindStatus>(), FindStatus::Cancelled);
        QVERIFY(!find_->isRunning());
        QVERIFY(!find_->progress());
        QTest::qWait(20);  // no slice runs after the end
        QCOMPARE(finished.size(), 1);
        QVERIFY(prompts_->messages.isEmpty());
    }

    void aHitInTheLastKeyIsFound() {
        MakeKey(HKEY_LOCAL_MACHINE, u"zzz\\zzz\\last");
        view_->OnRefresh();
        prompts_->dialogs.push_back(answer({"last", true, false, false}));
        QCOMPARE(run([&] { find_->OnFind(); }), FindStatus::Found);
        QCOMPARE(current(), QString("80000002:zzz\\zzz\\last"));
    }
};

QTEST_MAIN(FindCommandsTest)
#include "find_commands_test.moc"
