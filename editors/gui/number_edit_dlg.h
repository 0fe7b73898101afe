#pragma once
// The number editor: the name and the 32-bit number of a REG_DWORD value, the number shown in a
// decimal and a hexadecimal edit kept in step, and a keypad that types into whichever of the two
// last had the focus. The caller sets the members, runs DoModal (or shows the dialog through
// ViewPrompts::DoModal) and reads m_strName and m_nValue back after IDOK.
#include <QDialog>
#include <QString>
#include <memory>

#include "editors/number_rules.h"
#include "registry/win_types.h"

class QLabel;
class QLineEdit;
class QPushButton;
class ViewPrompts;

class CNumberEditDlg : public QDialog {
    Q_OBJECT
public:
    explicit CNumberEditDlg(QWidget* parent = nullptr);
    ~CNumberEditDlg() override;

    // IDOK when the dialog closed through the OK rule, IDCANCEL otherwise.
    int DoModal();

    QString m_strName;    // the value's name; empty when adding
    LONG m_nValue = 0;    // the number; its 32 bits are the value's 4 data bytes
    bool m_bAdd = false;  // adding a value: the add caption
    // The message that asks for an integer at OK goes through these prompts when they are set.
    ViewPrompts* m_pPrompts = nullptr;

    QLineEdit* m_editName;     // 1001
    QLineEdit* m_editDec;      // 1002, decimal
    QLineEdit* m_editHex;      // 1003, hexadecimal
    QLabel* m_staticMsg;       // 1004, the message line
    QPushButton* m_btnOk;      // 1
    QPushButton* m_btnCancel;  // 2
    // The edit the keypad types into: m_editDec, or m_editHex after that edit had the focus.
    QLineEdit* m_pKeypadTarget;

    // The OK rule: the decimal text must be an integer and the name must not be empty.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Host;

    void OnInitDialog();
    void OnKeypadKey(const QString& text);
    void OnKeypadBackspace();
    QLineEdit* edit(NumberField field) const { return field == NumberField::Decimal ? m_editDec : m_editHex; }
    void followKeypadTarget();

    std::unique_ptr<Host> m_host;
    std::unique_ptr<NumberEditorLogic> m_logic;
    bool m_opened = false;  // the controls hold the members' values
};
