#include "app/screenshot_support.h"

#include <QApplication>
#include <QDir>
#include <QTreeView>
#include <QWidget>
#include <cstdio>

#include "view/tovik_view.h"

void saveGrab(QWidget& widget, const QString& outputDir, const QString& name) {
    widget.show();
    QApplication::processEvents();
    const QString path = QDir(outputDir).filePath(name + QStringLiteral(".png"));
    if (!widget.grab().save(path))
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

bool selectKeyPath(CTovikView* view, const QString& path) {
    KeyTreeModel& model = view->treeModel();
    KeyTreeModel::ItemId item = KeyTreeModel::kRootItem;
    for (const QString& part : path.split(QLatin1Char('\\'))) {
        KeyTreeModel::ItemId found = KeyTreeModel::kNoItem;
        for (KeyTreeModel::ItemId child : model.children(item))
            if (model.itemText(child).compare(part, Qt::CaseInsensitive) == 0) found = child;
        if (found == KeyTreeModel::kNoItem) return false;
        if (item != KeyTreeModel::kRootItem) view->keyTree()->expand(model.indexOf(item));
        item = found;
    }
    view->selectItem(item);
    QApplication::processEvents();  // the posted refresh fills the list
    return true;
}
