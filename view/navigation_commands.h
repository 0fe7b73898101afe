#pragma once
// Navigation beside the view: the address line (the current key's full path; a typed or pasted
// path and Enter go there), キーのパスをコピー, the last key reopened at start, and the favourites.
// The last key and the favourites live in ViewSettings.
#include <QLineEdit>
#include <QObject>
#include <QStringList>
#include <memory>

#include "view/view_settings.h"

class CTovikView;

// The address line: shows the current key's path; Enter asks to go to what it holds.
class CAddressBar : public QLineEdit {
    Q_OBJECT
public:
    explicit CAddressBar(QWidget* parent = nullptr);
signals:
    void goRequested(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class NavigationCommands : public QObject {
    Q_OBJECT
public:
    NavigationCommands(CTovikView& view, std::unique_ptr<ViewSettings> settings);
    ~NavigationCommands() override;

    CAddressBar* addressBar() const { return m_address; }
    // Goes to a typed path; otherwise tells why not (a bad path, or where the path stops).
    bool goToPath(const QString& text);
    // The current key's full path ("HKEY_LOCAL_MACHINE\Software\Sample"); empty without one.
    QString currentPath() const;
    void OnCopyKeyPath();
    bool OnUpdateCopyKeyPath() const;
    void OnFocusAddressBar();

    // Selects the key remembered from the last run, when it still exists.
    void restoreLastKey();

    // Favourites: add the current key (once), go to one, remove one.
    QStringList favourites() const { return m_settings->favourites(); }
    void OnAddFavourite();
    bool goToFavourite(int index);
    void removeFavourite(int index);

signals:
    // OnFocusAddressBar is about to focus the address line: whoever holds it shows it.
    void addressBarWanted();

public:
    static constexpr std::u16string_view kBadPathMessage =
        u"キーのパスが正しくありません。HKEY_LOCAL_MACHINE\\Software のように入力してください。";

private:
    void showCurrentKey();

    CTovikView& m_view;
    std::unique_ptr<ViewSettings> m_settings;
    CAddressBar* m_address;
};
