#pragma once
// The import confirmation: every line of the file to import (a backup file or a .reg file),
// header and root line included, in file order, above OK and Cancel. The lines are shown through a model over the caller's text,
// one buffer of the whole file, so that a file of a million lines opens as fast as one of ten and
// costs no string per line.
#include <QAbstractListModel>
#include <QDialog>
#include <QStringList>
#include <functional>
#include <string>

#include "backup/backup_format.h"
#include "regfile/reg_lines.h"

class QListView;

// Rows of a list of lines that someone else owns; read only, nothing selectable.
class ImportLinesModel : public QAbstractListModel {
    Q_OBJECT
public:
    // Longest text a row shows; longer lines end in "…" (the list is narrower than that anyway).
    static constexpr std::size_t kMaxShownChars = 1024;

    explicit ImportLinesModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}
    void setLines(const tovik::BackupText* lines);
    void setLines(const tovik::RegFileLineIndex* lines);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::size_t lineCount() const;
    std::u16string_view line(std::size_t i) const;

    const tovik::BackupText* lines_ = nullptr;
    const tovik::RegFileLineIndex* regLines_ = nullptr;
};

class CImportConfirmDlg : public QDialog {
    Q_OBJECT
public:
    explicit CImportConfirmDlg(QWidget* parent = nullptr);

    // The lines to show; the dialog does not own them. Set before the dialog is shown.
    const tovik::BackupText* m_pLines = nullptr;
    // Or the lines of a .reg file.
    const tovik::RegFileLineIndex* m_pRegLines = nullptr;
    QListView* m_listLines;  // list box 1001
    // When set, a 変更点... button below OK and Cancel shows what the import would
    // change in the registry as it is now: the lines that this gives, each starting with its sign.
    std::function<QStringList()> m_preview;

    int DoModal();
    // Shows the preview's window (made once); null without m_preview.
    QDialog* showPreview();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();

    ImportLinesModel m_lineModel;
    QDialog* m_previewDlg = nullptr;
};
