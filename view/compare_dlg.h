#pragma once
// The 比較 dialog: what the current key is compared with, a key of this registry, a .reg file or a
// backup file, or a key of a Tovik store file, a Wine prefix, a Windows folder or a hive file.
#include <QDialog>

#include "view/compare_commands.h"

class QComboBox;
class QLineEdit;

class CCompareDlg : public QDialog {
    Q_OBJECT
public:
    // key: the key offered first (the current one, as its full path).
    CCompareDlg(const QString& key, QWidget* parent = nullptr);
    QComboBox* kind() const { return m_kind; }
    QLineEdit* location() const { return m_location; }
    QLineEdit* key() const { return m_key; }
    QLineEdit* mountAs() const { return m_mountAs; }
    // The target as filled in; false when the key does not read as a key path.
    bool target(CompareTarget& target) const;

private:
    QComboBox* m_kind;
    QLineEdit* m_location;
    QLineEdit* m_key;
    QLineEdit* m_mountAs;  // where a hive file is shown, for Hive only
};
