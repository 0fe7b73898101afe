#pragma once
// ﾂｰﾙ > 比較... beside the view: the current key against a key of this registry, a .reg file or a
// backup file read as a tree, or a key of another registry (a Tovik store, a Wine prefix, a
// Windows folder or a hive file), shown in a 比較結果 window. The view knows no store: the application gives the opener of other registries and of
// the in-memory tree a file is read into.
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "registry/backend.h"

class CTovikView;
class CCompareResultDlg;

struct CompareTarget {
    enum class Kind { ThisRegistry, RegFile, StoreFile, WinePrefix, BackupFile, Windows, Hive };
    Kind kind = Kind::ThisRegistry;
    QString location;  // the file or folder (not for ThisRegistry)
    QString mountAs;   // for Hive: the key the hive file is shown as, e.g. HKLM\SOFTWARE
    HKEY root = 0;     // the key compared with the current one
    std::u16string path;
};

class CompareCommands : public QObject {
    Q_OBJECT
public:
    // Opens the registry of target (StoreFile, WinePrefix, Windows, Hive) or an empty in-memory
    // one (RegFile, BackupFile), never making it current; null with error set when it cannot.
    using Opener = std::function<std::unique_ptr<tovik::Backend>(const CompareTarget& target, QString& error)>;

    explicit CompareCommands(CTovikView& view);
    void setOpener(Opener opener) { m_open = std::move(opener); }

    // Asks what to compare the current key with, then compares.
    void OnCompare();
    // Compares the current key (A) with target (B) and shows the result; the window, or null
    // when nothing could be compared (the user was told why).
    CCompareResultDlg* compareWith(const CompareTarget& target);
    CCompareResultDlg* resultDialog() const;

private:
    CTovikView& m_view;
    Opener m_open;
    QPointer<CCompareResultDlg> m_result;
};
