#pragma once
// The add-key dialog: shows the path of the key that receives the new key, asks for its name.
#include <QDialog>

class QLabel;
class QLineEdit;

class CAddKeyDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAddKeyDlg(QWidget* parent = nullptr);

    QString m_strKeyName;     // edit 1004
    QString m_strParentPath;  // static 1003

    int DoModal();
    void accept() override;  // OK: closes only with a name

    QLineEdit* nameEdit() const { return m_edit; }
    QLabel* parentLabel() const { return m_static; }

protected:
    void showEvent(QShowEvent* event) override;  // moves the members into the controls

private:
    QLabel* m_static;
    QLineEdit* m_edit;
};
