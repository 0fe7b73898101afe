#include "ui/prompts.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <algorithm>

QString appCaption() {
    return QStringLiteral("Harnet");
}

int ViewPrompts::messageBox(QWidget* parent, const QString& text, MessageButtons buttons) {
    QMessageBox box(QMessageBox::NoIcon, appCaption(), text,
                    buttons == MessageButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
    const int answer = box.exec();
    if (buttons == MessageButtons::Ok) return IDOK;
    return answer == QMessageBox::Yes ? IDYES : IDNO;
}

QString fileDialogStartFolder() {
    const QSettings settings(QString::fromLatin1(kSettingsOrganization), QString::fromLatin1(kSettingsApplication));
    const QString folder = settings.value(QString::fromLatin1(kLastFolderSetting)).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void fitAndCentre(QWidget& dialog, QWidget* parent) {
    QWidget* window = parent ? parent->window() : QApplication::activeWindow();
    if (window == &dialog) window = nullptr;
    const QScreen* screen = window ? window->screen() : dialog.screen();
    QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 480, 800);
    const QSize most(std::min(kDialogMaxWidth, room.width()), std::min(kDialogMaxHeight, room.height()));
    dialog.resize(dialog.size().boundedTo(most));
    const QPoint centre = window ? window->frameGeometry().center() : room.center();
    QRect placed(QPoint(0, 0), dialog.size());
    placed.moveCenter(centre);
    // Inside the screen wherever the parent is.
    placed.moveLeft(std::clamp(placed.left(), room.left(), std::max(room.left(), room.right() - placed.width() + 1)));
    placed.moveTop(std::clamp(placed.top(), room.top(), std::max(room.top(), room.bottom() - placed.height() + 1)));
    dialog.move(placed.topLeft());
}

namespace {

// "*.*" means every file where the filters' texts come from; on Linux it would hide the names
// without a dot, so a filter of that one pattern lists every file, its text kept.
void letStarDotStarMatchEveryFile(QFileDialog& dialog) {
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (model == nullptr) return;
    const auto apply = [model](const QString& filter) {
        if (filter.trimmed().endsWith(QStringLiteral("(*.*)"))) model->setNameFilters({QStringLiteral("*")});
    };
    // Emitted after the dialog has set the chosen filter's patterns.
    QObject::connect(&dialog, &QFileDialog::filterSelected, model, apply);
    apply(dialog.selectedNameFilter());
}

// Qt's own file dialog (the platform's may not fit a small screen), sized to fit and centred,
// starting in the folder last used. Without a filter it chooses a folder.
QString runFileDialog(QWidget* parent, const QString& filter, QFileDialog::AcceptMode mode,
                      QString* selectedFilter = nullptr) {
    QFileDialog dialog(parent, QString(), fileDialogStartFolder(), filter);
    dialog.setObjectName(QStringLiteral("TovikFileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    letStarDotStarMatchEveryFile(dialog);
    dialog.setAcceptMode(mode);
    if (mode == QFileDialog::AcceptSave) {
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);  // an existing file is replaced without a question
    } else if (filter.isEmpty()) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    dialog.setMinimumSize(0, 0);
    dialog.resize(kDialogMaxWidth, 520);
    fitAndCentre(dialog, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const QString file = dialog.selectedFiles().front();
    if (selectedFilter) *selectedFilter = dialog.selectedNameFilter();
    QSettings settings(QString::fromLatin1(kSettingsOrganization), QString::fromLatin1(kSettingsApplication));
    const QFileInfo chosen(file);
    settings.setValue(QString::fromLatin1(kLastFolderSetting),
                      chosen.isDir() ? chosen.absoluteFilePath() : chosen.absolutePath());
    return file;
}

}  // namespace

QString ViewPrompts::saveFileName(QWidget* parent, const QString& filter, QString* selectedFilter) {
    return runFileDialog(parent, filter, QFileDialog::AcceptSave, selectedFilter);
}

QString ViewPrompts::openFileName(QWidget* parent, const QString& filter) {
    return runFileDialog(parent, filter, QFileDialog::AcceptOpen);
}

QString ViewPrompts::existingFolder(QWidget* parent) {
    return runFileDialog(parent, QString(), QFileDialog::AcceptOpen);
}

int ViewPrompts::DoModal(QDialog& dialog) {
    if (!dialog.testAttribute(Qt::WA_Resized)) dialog.adjustSize();  // the size show() would give it
    fitAndCentre(dialog, dialog.parentWidget());
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
