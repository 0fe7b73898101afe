#pragma once
// The key commands beside the view: add a key below the current key, delete the current key
// with everything below it.
#include <QObject>
#include <QString>
#include <string>
#include <string_view>

#include "registry/win_types.h"

class CTovikView;

class KeyCommands : public QObject {
public:
    explicit KeyCommands(CTovikView& view);

    void OnAddKey();
    void OnDeleteKey();
    bool OnUpdateAddKey() const { return true; }
    bool OnUpdateDeleteKey() const;
    // True when the walk went through; false when it stopped at a key inside itself (a damaged
    // store).
    static bool DeleteSubkeys(HKEY root, const std::u16string& path);
    static QString deleteKeyQuestion(const QString& keyName);

    static constexpr std::u16string_view kDeleteLoopsMessage =
        u"レジストリが壊れています。キーが自分自身の中にあるため、削除を途中で止めました。";

private:
    CTovikView& m_view;
};
