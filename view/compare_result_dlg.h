#pragma once
// The 比較結果 window: the differences of two key trees as a tree, each key and value marked
// added (+), removed (−) or changed (≠) by a sign and a colour, with both sides' data side by
// side. A filter shows only the differences or everything; a double click asks to go to the key
// in the main window; the difference can be saved as the .reg file that turns side A into side B,
// or B into A, and the selected difference applied to a side that can be written. The window keeps both sides open while it lives, so that saving reads them again
// instead of holding their data.
#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "compare/tree_compare.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class ViewPrompts;

// One side: a key of a registry, the registry's backend when the window holds it (another
// registry, a file read into memory), and how the window names it.
struct CompareSource {
    std::unique_ptr<tovik::Backend> owned;
    tovik::CompareSide side;
    QString label;
    bool writable = false;  // changes may be applied to it (not a file read into memory)
};

class CCompareResultDlg : public QDialog {
    Q_OBJECT
public:
    CCompareResultDlg(CompareSource a, CompareSource b, ViewPrompts& prompts, QWidget* parent = nullptr);
    ~CCompareResultDlg() override;

    // Walks both trees (with progress and 中止 after half a second); false when it was cancelled
    // or failed, after saying why.
    bool compare();

    QTreeWidget* tree() const { return m_tree; }
    QCheckBox* differencesOnly() const { return m_differencesOnly; }
    QLabel* summary() const { return m_summary; }
    std::size_t differences() const { return m_differences; }
    // Asks for a file and writes the .reg that turns A into B (B into A when reverse); false when
    // nothing was written.
    bool saveReg(bool reverse);
    // Makes the selected difference's key or value on side A as side B has it (on B as A has it
    // when toB), one entry of that side's change history, then compares again; false when nothing
    // was applied (after saying why when a write failed).
    bool applySelected(bool toB);
    QPushButton* applyButton(bool toB) const { return toB ? m_applyToB : m_applyToA; }

signals:
    // A double click on a key or value: its key on side A (where it would be, for one only on B).
    void keyActivated(HKEY root, const std::u16string& path, const std::u16string& valueName, bool onSideA);
    // A difference was applied to side A (the registry the main window shows) or to side B.
    void applied(bool toB);

private:
    struct Row {
        tovik::DifferenceKind kind;
        std::u16string path;  // below the compared keys
        std::u16string name;
        QString a, b;  // the values' type and data texts
    };
    void fill();
    void activate(QTreeWidgetItem* item);
    void updateApplyButtons();

    CompareSource m_a, m_b;
    ViewPrompts& m_prompts;
    std::vector<Row> m_rows;
    std::size_t m_differences = 0;
    QTreeWidget* m_tree;
    QCheckBox* m_differencesOnly;
    QLabel* m_summary;
    QPushButton* m_applyToA;
    QPushButton* m_applyToB;
};
