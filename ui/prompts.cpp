#include "ui/prompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

QString AppCaption() { return QStringLiteral("Harnet"); }

int ViewPrompts::MessageBox(QWidget* parent, const QString& text, MessageButtons buttons) {
    QMessageBox box(QMessageBox::NoIcon, AppCaption(), text,
                    buttons == MessageButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                    parent);
    const int answer = box.exec();
    if (buttons == MessageButtons::Ok) return IDOK;
    return answer == QMessageBox::Yes ? IDYES : IDNO;
}

QString ViewPrompts::SaveFileName(QWidget* parent, const QString& filter, QString* selectedFilter) {
    // Choosing an existing file replaces it without a question.
    return QFileDialog::getSaveFileName(parent, QString(), QString(), filter, selectedFilter,
                                        QFileDialog::DontConfirmOverwrite);
}

QString ViewPrompts::OpenFileName(QWidget* parent, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
}

int ViewPrompts::DoModal(QDialog& dialog) {
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
