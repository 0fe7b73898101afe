#pragma once
// The string editor: the name, the data text and the type label of a REG_SZ, REG_EXPAND_SZ or
// REG_MULTI_SZ value, and a button that fills the data with the full path of a chosen file.
// The caller sets the members, runs DoModal (or shows the dialog through ViewPrompts::DoModal)
// and reads m_strName and m_strData back after IDOK. The dialog never touches the registry.
#include <QDialog>
#include <QString>

#include "editors/multiline_text.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class ViewPrompts;

class CStringEditDlg : public QDialog {
    Q_OBJECT
public:
    explicit CStringEditDlg(QWidget* parent = nullptr);

    // IDOK when the dialog closed through the OK rule, IDCANCEL otherwise.
    int DoModal();

    QString m_strName;    // the value's name, "@" for the unnamed value; empty when adding
    QString m_strData;    // the data text; a multi-string in its one-line form with "|"
    QString m_strType;    // the type label: "REG_SZ", "REG_EXPAND_SZ" or "REG_MULTI_SZ"
    bool m_bAdd = false;  // adding a value: the add caption
    // The file-name lookup's file dialog goes through these prompts when they are set.
    ViewPrompts* m_pPrompts = nullptr;

    QLineEdit* m_editName;       // 1001
    QPlainTextEdit* m_editData;  // 1000
    QLabel* m_staticType;        // 1027
    QPushButton* m_btnOk;        // 1
    QPushButton* m_btnCancel;    // 2
    QPushButton* m_btnBrowse;    // 1005 "ﾌｧｲﾙ名参照"

    // The OK rule: closes only with a name.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    // The data exchange: members into the controls, or with saveAndValidate the controls into
    // the members.
    void UpdateData(bool saveAndValidate);
    void OnBrowse();

    MultiLineText m_shownData;
    bool m_opened = false;  // the controls hold the members' texts
};
