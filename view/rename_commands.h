#pragma once
// Renaming in place (F2) beside the view: the value row when the list has the focus and a row is
// selected, else the selected key. The edit's result is checked and made in the registry, and
// the view shows it.
#include <QObject>
#include <QString>
#include <string>
#include <string_view>

#include "view/key_tree_model.h"

class CTovikView;

class RenameCommands : public QObject {
public:
    explicit RenameCommands(CTovikView& view);

    void OnRename();
    bool OnUpdateRename() const;
    void renameKeyItem(KeyTreeModel::ItemId item, const QString& newName);
    void renameValue(const std::u16string& oldName, const QString& newName);

    static constexpr std::u16string_view kNameExistsMessage = u"既に存在します";
    static constexpr std::u16string_view kEmptyNameMessage = u"名前を入力してください。";
    static constexpr std::u16string_view kBackslashMessage = u"キーの名前に \\ は使えません。";
    static constexpr std::u16string_view kRootRenameMessage = u"ルートキーの名前は変更できません。";
    static constexpr std::u16string_view kRenameFailedMessage = u"名前を変更できませんでした。";

private:
    CTovikView& m_view;
};
