// Placement of the tree and the list around the divider, the drag and the three view modes.
#include <QTest>
#include <QTreeView>

#include "support/registry_fixture.h"
#include "view/tovik_view.h"

class ViewLayoutTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view;

    void expectPlacement(int treeHeight, int listY, int listHeight) {
        QCOMPARE(view->m_tree->geometry(), QRect(0, 0, 239, std::max(treeHeight, 0)));
        QCOMPARE(view->m_list->geometry(), QRect(0, listY, 239, std::max(listHeight, 0)));
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
        QCOMPARE(view->m_rcClient.Width(), 239);
        QCOMPARE(view->m_rcClient.Height(), 293);
        QCOMPARE(view->m_nDividerY, 146);   // 293 / 2, rounded down
        expectPlacement(144, 148, 145);
    }

    void viewModesMoveTheDivider() {
        view->OnCommand(32772);   // keys only
        QCOMPARE(view->m_nDividerY, 288);
        expectPlacement(286, 290, 3);
        view->OnCommand(32773);   // values only
        QCOMPARE(view->m_nDividerY, 3);
        expectPlacement(1, 5, 288);
        view->OnCommand(32774);   // both
        QCOMPARE(view->m_nDividerY, 146);
        expectPlacement(144, 148, 145);
        QVERIFY(view->IsCommandEnabled(32772) && view->IsCommandEnabled(32773) && view->IsCommandEnabled(32774));
    }

    void draggingTheStripMovesTheDivider() {
        QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(100, 146));
        QCOMPARE(QWidget::mouseGrabber(), view.get());
        QTest::mouseMove(view.get(), QPoint(100, 200));
        QCOMPARE(view->m_nDividerY, 200);
        expectPlacement(198, 202, 91);
        QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(100, 200));
        QVERIFY(QWidget::mouseGrabber() == nullptr);
        // Without the capture a move changes nothing.
        QTest::mouseMove(view.get(), QPoint(100, 60));
        QCOMPARE(view->m_nDividerY, 200);
    }

    void dragsBeyondTheViewArePassedOnAsComputed() {
        QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(10, 146));
        QTest::mouseMove(view.get(), QPoint(10, 0));
        QCOMPARE(view->m_nDividerY, 0);
        expectPlacement(-2, 2, 291);   // a negative height shows the tree empty
        QTest::mouseMove(view.get(), QPoint(10, 400));
        QCOMPARE(view->m_nDividerY, 400);
        expectPlacement(398, 402, -109);
        QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(10, 400));
    }

    void releaseWithoutDragOnlyEndsTheCapture() {
        QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(10, 146));
        QCOMPARE(view->m_nDividerY, 146);
        QVERIFY(QWidget::mouseGrabber() == nullptr);
    }
};

QTEST_MAIN(ViewLayoutTest)
#include "view_layout_test.moc"
