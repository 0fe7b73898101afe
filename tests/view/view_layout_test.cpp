// Placement of the tree and the list around the divider, the drag and the three view modes.
#include <QTest>
#include <QTreeView>

#include "support/registry_fixture.h"
#include "view/command_ids.h"
#include "view/tovik_view.h"

class ViewLayoutTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view;

    void expectPlacement(int treeHeight, int listY, int listHeight) {
        QCOMPARE(view->KeyTree()->geometry(), QRect(0, 0, 239, std::max(treeHeight, 0)));
        QCOMPARE(view->ValueList()->geometry(), QRect(0, listY, 239, std::max(listHeight, 0)));
    }

private slots:
    void init() {
        testing_support::FreshRegistry();
        view = std::make_unique<CTovikView>();
        view->resize(240, 294);   // client area 240 by 294
        view->show();
        view->OnInitialUpdate();
    }
    void cleanup() { view.reset(); }

    void initialUpdateSplitsInTheMiddle() {
        QCOMPARE(view->ClientRect().Width(), 239);
        QCOMPARE(view->ClientRect().Height(), 293);
        QCOMPARE(view->DividerY(), 146);   // 293 / 2, rounded down
        expectPlacement(144, 148, 145);
    }

    void viewModesMoveTheDivider() {
        view->OnCommand(ID_VIEW_KEYS_ONLY);   // keys only
        QCOMPARE(view->DividerY(), 288);
        expectPlacement(286, 290, 3);
        view->OnCommand(ID_VIEW_VALUES_ONLY);   // values only
        QCOMPARE(view->DividerY(), 3);
        expectPlacement(1, 5, 288);
        view->OnCommand(ID_VIEW_BOTH);   // both
        QCOMPARE(view->DividerY(), 146);
        expectPlacement(144, 148, 145);
        QVERIFY(view->IsCommandEnabled(ID_VIEW_KEYS_ONLY) && view->IsCommandEnabled(ID_VIEW_VALUES_ONLY) &&
                view->IsCommandEnabled(ID_VIEW_BOTH));
    }

    void draggingTheStripMovesTheDivider() {
        QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(100, 146));
        QCOMPARE(QWidget::mouseGrabber(), view.get());
        QTest::mouseMove(view.get(), QPoint(100, 200));
        QCOMPARE(view->DividerY(), 200);
        expectPlacement(198, 202, 91);
        QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(100, 200));
        QVERIFY(QWidget::mouseGrabber() == nullptr);
        // Without the capture a move changes nothing.
        QTest::mouseMove(view.get(), QPoint(100, 60));
        QCOMPARE(view->DividerY(), 200);
    }

    void dragsBeyondTheViewArePassedOnAsComputed() {
        QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(10, 146));
        QTest::mouseMove(view.get(), QPoint(10, 0));
        QCOMPARE(view->DividerY(), 0);
        expectPlacement(-2, 2, 291);   // a negative height shows the tree empty
        QTest::mouseMove(view.get(), QPoint(10, 400));
        QCOMPARE(view->DividerY(), 400);
        expectPlacement(398, 402, -109);
        QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(10, 400));
    }

    void releaseWithoutDragOnlyEndsTheCapture() {
        QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(10, 146));
        QCOMPARE(view->DividerY(), 146);
        QVERIFY(QWidget::mouseGrabber() == nullptr);
    }
};

QTEST_MAIN(ViewLayoutTest)
#include "view_layout_test.moc"
