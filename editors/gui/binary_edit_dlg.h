#pragma once
// The binary editor: the name, the type and the data of a value edited as hexadecimal byte text,
// with a keypad of the sixteen digits, a space key that separates bytes, a backspace key and an
// overwrite switch. The caller sets the members, runs DoModal (or shows the dialog through
// ViewPrompts::DoModal) and reads m_strName, m_strData and, when adding, m_dwType after IDOK.
// The data text is handed back as typed; converting it to bytes is the caller's.
#include <QDialog>
#include <QString>
#include <vector>

#include "editors/binary_rules.h"
#include "editors/multiline_text.h"
#include "registry/win_types.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class CBinaryEditDlg : public QDialog {
    Q_OBJECT
public:
    explicit CBinaryEditDlg(QWidget* parent = nullptr);

    // IDOK when the dialog closed through the OK rule, IDCANCEL otherwise.
    int DoModal();

    QString m_strName;  // the value's name; empty when adding
    QString m_strData;  // the data as hex byte text, such as "0A FF "
    // Editing: the value's type, shown in the disabled type list. Adding: the chosen type after
    // IDOK; before, a number that no entry carries, so that the list starts with none chosen.
    DWORD m_dwType = kNoBinaryType;
    bool m_bAdd = false;  // adding a value: the add caption, the type list enabled

    QLineEdit* m_editName;       // 1001
    QComboBox* m_comboType;      // 1002, sorted by name, each entry carrying its type
    QPlainTextEdit* m_editData;  // 1000
    QCheckBox* m_btnOver;        // 1026 "Over": the keypad overwrites
    QPushButton* m_btnOk;        // 1
    QPushButton* m_btnCancel;    // 2

    // The OK rule: a name, and when adding a chosen type.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void UpdateData(bool saveAndValidate);
    void OnKeypadKey(const QString& text);
    void OnKeypadBackspace();
    void OnOver();

    MultiLineText m_shownData;
    bool m_opened = false;  // the controls hold the members' texts
};
