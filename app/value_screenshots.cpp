#include "app/value_screenshots.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTreeView>
#include <cstdio>
#include <memory>

#include "app/main_frame.h"
#include "app/screenshot_support.h"
#include "registry/key_handle.h"
#include "registry/registry_api.h"
#include "ui/qt_text.h"
#include "view/command_ids.h"
#include "view/tovik_view.h"
#include "view/value_commands.h"
#include "view/view_commands.h"

namespace {

// Shows each dialog and message box the command opens, saves it under the next name, and
// closes it as Cancel or No, so that nothing is written.
class GrabbingPrompts : public ViewPrompts {
public:
    explicit GrabbingPrompts(QString outputDir) : outputDir_(std::move(outputDir)) {}
    void setNextName(const QString& name) { name_ = name; }

    int messageBox(QWidget* parent, const QString& text, MessageButtons buttons) override {
        QMessageBox box(QMessageBox::NoIcon, appCaption(), text,
                        buttons == MessageButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                        parent);
        saveGrab(box, outputDir_, name_);
        box.hide();
        return buttons == MessageButtons::YesNo ? IDNO : IDOK;
    }
    int DoModal(QDialog& dialog) override {
        saveGrab(dialog, outputDir_, name_);
        dialog.hide();
        return IDCANCEL;
    }

private:
    QString outputDir_;
    QString name_;
};

bool selectValue(CTovikView* view, const QString& shownName) {
    for (int row = 0; row < view->listModel().valueCount(); ++row) {
        if (view->listModel().columnText(row, 0) != shownName) continue;
        const QModelIndex index = view->listModel().index(row, 0);
        view->valueList()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                                        QItemSelectionModel::Rows);
        view->valueList()->scrollTo(index);
        QApplication::processEvents();
        return true;
    }
    return false;
}

}  // namespace

void saveValueCommandScreenshots(CMainFrame& frame, const QString& outputDir) {
    CTovikView* view = frame.view();
    auto owned = std::make_unique<GrabbingPrompts>(outputDir);
    GrabbingPrompts* prompts = owned.get();
    view->setPrompts(std::move(owned));

    const QString serial = QString::fromUtf16(u"HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Serial");
    if (!selectKeyPath(view, serial) || !selectValue(view, QStringLiteral("FriendlyName"))) {
        std::fprintf(stderr, "value for the screenshots not found\n");
    } else {
        saveGrab(frame, outputDir, QStringLiteral("main_window_value_selected"));
    }

    // Each editor as a double-tap on its row opens it.
    struct Shot {
        QString key, value, file;
    };
    const Shot shots[] = {
        {serial, QStringLiteral("FriendlyName"), QStringLiteral("edit_row_string")},
        {serial, QStringLiteral("IClass"), QStringLiteral("edit_row_multi_string")},
        {serial, QStringLiteral("IoBase"), QStringLiteral("edit_row_number")},
        {serial, QStringLiteral("Resources"), QStringLiteral("edit_row_binary")},
        {QStringLiteral("HKEY_CLASSES_ROOT\\rtffile\\Shell\\Open\\Command"), QStringLiteral("@"),
         QStringLiteral("edit_row_unnamed")},
    };
    for (const Shot& shot : shots) {
        if (!selectKeyPath(view, shot.key) || !selectValue(view, shot.value)) {
            std::fprintf(stderr, "value %s for the screenshots not found\n", qPrintable(shot.value));
            continue;
        }
        prompts->setNextName(shot.file);
        view->commands().values().OnDblClkValueList();
    }

    if (selectKeyPath(view, serial) && selectValue(view, QStringLiteral("Prefix"))) {
        prompts->setNextName(QStringLiteral("delete_value"));
        view->commands().values().OnDeleteValue();
    }

    // A QWORD (the default registry has none): its row's "??" and the status line that names
    // the type, then its bytes in the binary editor through バイナリデータの変更.
    const BYTE installTime[8] = {0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01};
    tovik::KeyHandle key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Serial", 0, 0, key.receive()) == ERROR_SUCCESS &&
        RegSetValueExW(key.get(), u"InstallTime", 0, REG_QWORD, installTime, sizeof installTime) == ERROR_SUCCESS &&
        selectKeyPath(view, serial) && (view->FillValueList(), selectValue(view, QStringLiteral("InstallTime")))) {
        saveGrab(frame, outputDir, QStringLiteral("main_window_qword_selected"));
        prompts->setNextName(QStringLiteral("binary_edit_qword"));
        frame.view()->OnCommand(ID_EDIT_BINARY_DATA);
    } else {
        std::fprintf(stderr, "the QWORD value for the screenshots could not be written\n");
    }
    view->setPrompts(std::make_unique<ViewPrompts>());
}
