// Placement of the tree and the list around the divider, the drag and the three view modes.
#include <QTest>
#include <QTreeView>

#include "support/registry_fixture.h"
#include "view/command_ids.h"
#include "view/tovik_view.h"

class ViewLayoutTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view_;

    void expectPlacement(int treeHeight, int listY, int listHeight) {
        QCOMPARE(view_->keyTree()->geometry(), QRect(0, 0, 239, std::max(treeHeight, 0)));
        QCOMPARE(view_->valueList()->geometry(), QRect(0, listY, 239, std::max(listHeight, 0)));
    }

private slots:
    void init() {
        testing_support::FreshRegistry();
        view_ = std::make_unique<CTovikView>();
        view_->resize(240, 294);  // client area 240 by 294
        view_->show();
        view_->OnInitialUpdate();
    }
    void cleanup() { view_.reset(); }

    void initialUpdateSplitsInTheMiddle() {
        QCOMPARE(view_->clientRect().width(), 239);
        QCOMPARE(view_->clientRect().height(), 293);
        QCOMPARE(view_->dividerY(), 146);  // 293 / 2, rounded down
        expectPlacement(144, 148, 145);
    }

    void viewModesMoveTheDivider() {
        view_->OnCommand(ID_VIEW_KEYS_ONLY);  // keys only
        QCOMPARE(view_->dividerY(), 288);
        expectPlacement(286, 290, 3);
        view_->OnCommand(ID_VIEW_VALUES_ONLY);  // values only
        QCOMPARE(view_->dividerY(), 3);
        expectPlacement(1, 5, 288);
        view_->OnCommand(ID_VIEW_BOTH);  // both
        QCOMPARE(view_->dividerY(), 146);
        expectPlacement(144, 148, 145);
        QVERIFY(view_->isCommandEnabled(ID_VIEW_KEYS_ONLY) && view_->isCommandEnabled(ID_VIEW_VALUES_ONLY) &&
                view_->isCommandEnabled(ID_VIEW_BOTH));
    }

    void draggingTheStripMovesTheDivider() {
        QTest::mousePress(view_.get(), Qt::LeftButton, {}, QPoint(100, 146));
        QCOMPARE(QWidget::mouseGrabber(), view_.get());
        QTest::mouseMove(view_.get(), QPoint(100, 200));
        QCOMPARE(view_->dividerY(), 200);
        expectPlacement(198, 202, 91);
        QTest::mouseRelease(view_.get(), Qt::LeftButton, {}, QPoint(100, 200));
        QVERIFY(QWidget::mouseGrabber() == nullptr);
        // Without the capture a move changes nothing.
        QTest::mouseMove(view_.get(), QPoint(100, 60));
        QCOMPARE(view_->dividerY(), 200);
    }

    void dragsBeyondTheViewArePassedOnAsComputed() {
        QTest::mousePress(view_.get(), Qt::LeftButton, {}, QPoint(10, 146));
        QTest::mouseMove(view_.get(), QPoint(10, 0));
        QCOMPARE(view_->dividerY(), 0);
        expectPlacement(-2, 2, 291);  // a negative height shows the tree empty
        QTest::mouseMove(view_.get(), QPoint(10, 400));
        QCOMPARE(view_->dividerY(), 400);
        expectPlacement(398, 402, -109);
        QTest::mouseRelease(view_.get(), Qt::LeftButton, {}, QPoint(10, 400));
    }

    void releaseWithoutDragOnlyEndsTheCapture() {
        QTest::mouseRelease(view_.get(), Qt::LeftButton, {}, QPoint(10, 146));
        QCOMPARE(view_->dividerY(), 146);
        QVERIFY(QWidget::mouseGrabber() == nullptr);
    }
};

QTEST_MAIN(ViewLayoutTest)
#include "view_layout_test.moc"
