#include "app/screenshot_support.h"

#include <QApplication>
#include <QDir>
#include <QTreeView>
#include <QWidget>
#include <cstdio>

#include "view/tovik_view.h"

void SaveGrab(QWidget& widget, const QString& outputDir, const QString& name) {
    widget.show();
    QApplication::processEvents();
    const QString path = QDir(outputDir).filePath(name + QStringLiteral(".png"));
    if (!widget.grab().save(path)) std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    else std::printf("%s\n", qPrintable(path));
}

bool SelectKeyPath(CTovikView* view, const QString& path) {
    KeyTreeModel& model = view->TreeModel();
    KeyTreeModel::ItemId item = KeyTreeModel::kRootItem;
    for (const QString& part : path.split(QLatin1Char('\\'))) {
        KeyTreeModel::ItemId found = KeyTreeModel::kNoItem;
        for (KeyTreeModel::ItemId child : model.Children(item))
            if (model.ItemText(child).compare(part, Qt::CaseInsensitive) == 0) found = child;
        if (found == KeyTreeModel::kNoItem) return false;
        if (item != KeyTreeModel::kRootItem) view->KeyTree()->expand(model.IndexOf(item));
        item = found;
    }
    view->SelectItem(item);
    QApplication::processEvents();  // the posted refresh fills the list
    return true;
}
