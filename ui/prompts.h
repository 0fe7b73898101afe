#pragma once
// Every message box, file dialog and modal dialog of the view's commands goes through this seam,
// so that the commands can run with real dialogs or with scripted answers in tests.
#include <QString>

class QDialog;
class QWidget;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

enum class MessageButtons { Ok, YesNo };

class ViewPrompts {
public:
    virtual ~ViewPrompts() = default;
    // Shows text with the given buttons and no icon; returns IDOK, IDYES or IDNO.
    virtual int messageBox(QWidget* parent, const QString& text, MessageButtons buttons);
    // A file to write (empty when cancelled); filter in Qt's "Name (*.ext);;..." form.
    // selectedFilter, when given, receives the filter the user chose (the first by default).
    virtual QString saveFileName(QWidget* parent, const QString& filter, QString* selectedFilter = nullptr);
    // A file to read (empty when cancelled).
    virtual QString openFileName(QWidget* parent, const QString& filter);
    // An existing folder (empty when cancelled).
    virtual QString existingFolder(QWidget* parent);
    // Shows a modal dialog; returns IDOK or IDCANCEL.
    virtual int DoModal(QDialog& dialog);
};

// The caption of every message box of the application.
QString appCaption();

// Tovik's settings file, $XDG_CONFIG_HOME/tovik/tovik.conf (~/.config/tovik/tovik.conf), shared by
// every window: QSettings settings(kSettingsOrganization, kSettingsApplication).
inline constexpr char kSettingsOrganization[] = "tovik";
inline constexpr char kSettingsApplication[] = "tovik";
// The folder the file dialogs start in: the one last used, else the home folder.
inline constexpr char kLastFolderSetting[] = "dialogs/lastFolder";
QString fileDialogStartFolder();

// Every dialog fits a small portrait screen (480 by 800): at most this size, frame excluded.
inline constexpr int kDialogMaxWidth = 460;
inline constexpr int kDialogMaxHeight = 740;
// Shrinks the dialog to fit kDialogMax* and the parent's screen, and centres it over the
// parent's window (inside the screen).
void fitAndCentre(QWidget& dialog, QWidget* parent);
