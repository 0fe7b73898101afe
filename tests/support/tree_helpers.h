#pragma once
// Finding items of the view's key tree by their texts, for the widget tests.
#include <QStringList>

#include "view/key_tree_model.h"

namespace testing_support {

// The item at a path of item texts from the top ("HKEY_LOCAL_MACHINE", "A", ...); kNoItem when
// some text is not there.
inline KeyTreeModel::ItemId itemAt(const KeyTreeModel& model, const QStringList& path) {
    KeyTreeModel::ItemId item = KeyTreeModel::kRootItem;
    for (const QString& part : path) {
        KeyTreeModel::ItemId found = KeyTreeModel::kNoItem;
        for (KeyTreeModel::ItemId child : model.children(item))
            if (model.itemText(child) == part) found = child;
        if (found == KeyTreeModel::kNoItem) return found;
        item = found;
    }
    return item;
}

// The texts of an item's children, in the tree's order.
inline QStringList childTexts(const KeyTreeModel& model, KeyTreeModel::ItemId item) {
    QStringList texts;
    for (KeyTreeModel::ItemId child : model.children(item)) texts << model.itemText(child);
    return texts;
}

}  // namespace testing_support
