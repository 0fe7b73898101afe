#pragma once
// The find dialog: the text, what to look at, the options and where to start. Its members hold
// the answers, as the other dialogs' do; すべて検索 closes it as OK with m_bFindAll set. The
// 更新日 row keeps the search to keys last written between two days.
#include <QDate>
#include <QDialog>

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QRadioButton;

class CFindDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFindDlg(QWidget* parent = nullptr);

    QString m_strText;
    bool m_bKeyNames = true;
    bool m_bValueNames = true;
    bool m_bData = true;
    bool m_bMatchCase = false;
    bool m_bWholeMatch = false;
    bool m_bFromTop = false;  // otherwise from the selected key
    bool m_bFindAll = false;  // すべて検索 rather than 次を検索
    // Only keys last written between these days (local time, both included); with it the text
    // may stay empty, and every such key is found.
    bool m_bChangedBetween = false;
    QDate m_changedFrom = QDate::currentDate();
    QDate m_changedUntil = QDate::currentDate();

    void accept() override;  // closes only with a text and something to look at

    QLineEdit* textEdit() const { return m_text; }

protected:
    void showEvent(QShowEvent* event) override;  // moves the members into the controls

private:
    void takeAnswers();

    QLineEdit* m_text;
    QCheckBox* m_keys;
    QCheckBox* m_values;
    QCheckBox* m_data;
    QCheckBox* m_case;
    QCheckBox* m_whole;
    QRadioButton* m_fromSelected;
    QRadioButton* m_fromTop;
    QCheckBox* m_changed;
    QDateEdit* m_from;
    QDateEdit* m_until;
};
