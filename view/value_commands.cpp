#include "view/value_commands.h"

#include <QShortcut>
#include <QTreeView>

#include "editors/gui/binary_edit_dlg.h"
#include "editors/gui/number_edit_dlg.h"
#include "editors/gui/string_edit_dlg.h"
#include "editors/string_rules.h"
#include "history/recording_backend.h"
#include "registry/key_handle.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/value_types.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/tovik_view.h"

namespace {

QString notSupportedText() {
    return Tovik::tr("未サポートです。");
}
QString deleteValueQuestionText() {
    // A recorded delete can be taken back; only one that is not recorded cannot.
    if (tovik::history::currentRecorder()) return Tovik::tr("編集 > 元に戻す で元に戻せます。\nよろしいですか？");
    return Tovik::tr("元に戻せなくなります。\nよろしいですか？");
}

// "@" is how the list shows the unnamed value; an edited name of "@" means that value again.
std::u16string nameFromShown(const QString& shown) {
    const std::u16string_view name = toU16View(shown);
    return isUnnamedValueName(name) ? std::u16string() : std::u16string(name);
}

// The name an edited value is written under. Left as shown, it is the row's own name, so that a
// value really named "@" is not mistaken for the unnamed one; a new name is a rename.
std::u16string nameAfterEdit(const ValueRow& row, const QString& edited) {
    if (edited == shownValueName(row.name)) return row.name;
    return nameFromShown(edited);
}

// The binary editor's text is hex bytes whatever the type (also REG_MULTI_SZ chosen when adding).
// The bytes go into a buffer as large as the text needs, so no length is cut or overrun.
Bytes binaryEditorData(const QString& text) {
    return HexTextToBytes(toU16View(text));
}

// Opens the current key, writes, closes. A failure is not reported: the refilled list shows
// what the registry holds.
void writeValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type, const Bytes& data) {
    tovik::KeyHandle hKey;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, hKey.receive()) != ERROR_SUCCESS) return;
    RegSetValueExW(hKey.get(), name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
}

void deleteValue(HKEY root, const std::u16string& path, const std::u16string& name) {
    tovik::KeyHandle hKey;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, hKey.receive()) != ERROR_SUCCESS) return;
    RegDeleteValueW(hKey.get(), name.c_str());
}

QString stringTypeLabel(DWORD type) {
    return toQString(typeLongName(type));
}

}  // namespace

ValueCommands::ValueCommands(CTovikView& view) : QObject(&view), m_view(view) {
    QTreeView* list = view.valueList();
    connect(list, &QTreeView::doubleClicked, this, [this] { OnDblClkValueList(); });
    // Desktop habits: Enter edits the selected value.
    for (const int key : {Qt::Key_Return, Qt::Key_Enter})
        new QShortcut(
            QKeySequence(key), list, this, [this] { OnDblClkValueList(); }, Qt::WidgetShortcut);
}

void ValueCommands::OnDblClkValueList() {
    const int selected = m_view.selectedRow();
    if (selected < 0) return;
    // A copy: the editor runs an event loop, in which a refresh may replace the rows.
    const ValueRow row = m_view.listModel().rowAt(selected);
    if (!isSupportedType(row.type)) {
        m_view.prompts().messageBox(&m_view, notSupportedText(), MessageButtons::Ok);
        return;
    }

    // The editors get the row's whole name and data, never a display text cut to fit a column.
    const QString shownName = shownValueName(row.name);
    const QString dataText = toQString(FormatValue(row.type, row.data.data(), row.data.size()).text);
    std::u16string name;
    Bytes data;
    switch (row.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
        CStringEditDlg dialog(&m_view);
        dialog.m_pPrompts = &m_view.prompts();
        dialog.m_strName = shownName;
        dialog.m_strData = dataText;
        dialog.m_strType = stringTypeLabel(row.type);
        if (m_view.prompts().DoModal(dialog) != IDOK) return;
        name = nameAfterEdit(row, dialog.m_strName);
        data = tovik::valueDataToWrite(row.type, toU16View(dialog.m_strData));
        break;
    }
    case REG_DWORD: {
        CNumberEditDlg dialog(&m_view);
        dialog.m_pPrompts = &m_view.prompts();
        dialog.m_strName = shownName;
        dialog.m_nValue = decimalTextToLong(toU16View(dataText));
        if (m_view.prompts().DoModal(dialog) != IDOK) return;
        name = nameAfterEdit(row, dialog.m_strName);
        data = dwordToBytes(static_cast<DWORD>(dialog.m_nValue));
        break;
    }
    default:
        if (!editAsBytes(row, name, data)) return;
        break;
    }
    writeEdited(row, name, data);
}

void ValueCommands::OnEditBinaryData() {
    const int selected = m_view.selectedRow();
    if (selected < 0) return;
    const ValueRow row = m_view.listModel().rowAt(selected);  // a copy, as for a double tap
    std::u16string name;
    Bytes data;
    if (!editAsBytes(row, name, data)) return;
    writeEdited(row, name, data);
}

bool ValueCommands::editAsBytes(const ValueRow& row, std::u16string& name, Bytes& data) {
    CBinaryEditDlg dialog(&m_view);
    dialog.m_strName = shownValueName(row.name);
    dialog.m_strData = toQString(BytesToHexText(row.data.data(), row.data.size()));
    dialog.m_dwType = row.type;
    if (m_view.prompts().DoModal(dialog) != IDOK) return false;
    name = nameAfterEdit(row, dialog.m_strName);
    data = binaryEditorData(dialog.m_strData);
    return true;
}

void ValueCommands::writeEdited(const ValueRow& row, const std::u16string& name, const Bytes& data) {
    // The type is the row's: editing never changes a value's type.
    writeValue(m_view.currentRoot(), m_view.currentKeyPath(), name, row.type, data);
    m_view.postRefreshValues();
    m_view.setModified();
}

void ValueCommands::OnAddDwordValue() {
    CNumberEditDlg dialog(&m_view);
    dialog.m_pPrompts = &m_view.prompts();
    dialog.m_bAdd = true;
    if (m_view.prompts().DoModal(dialog) != IDOK) return;
    writeValue(m_view.currentRoot(), m_view.currentKeyPath(), toU16(dialog.m_strName), REG_DWORD,
               dwordToBytes(static_cast<DWORD>(dialog.m_nValue)));
    m_view.postRefreshValues();
    m_view.setModified();
}

void ValueCommands::OnAddStringValue() {
    CStringEditDlg dialog(&m_view);
    dialog.m_pPrompts = &m_view.prompts();
    dialog.m_bAdd = true;
    dialog.m_strType = stringTypeLabel(REG_SZ);
    if (m_view.prompts().DoModal(dialog) != IDOK) return;
    writeValue(m_view.currentRoot(), m_view.currentKeyPath(), toU16(dialog.m_strName), REG_SZ,
               tovik::valueDataToWrite(REG_SZ, toU16View(dialog.m_strData)));
    m_view.postRefreshValues();
    m_view.setModified();
}

void ValueCommands::OnAddMultiStringValue() {
    CStringEditDlg dialog(&m_view);
    dialog.m_pPrompts = &m_view.prompts();
    dialog.m_bAdd = true;
    dialog.m_strType = stringTypeLabel(REG_MULTI_SZ);
    if (m_view.prompts().DoModal(dialog) != IDOK) return;
    writeValue(m_view.currentRoot(), m_view.currentKeyPath(), toU16(dialog.m_strName), REG_MULTI_SZ,
               tovik::valueDataToWrite(REG_MULTI_SZ, toU16View(dialog.m_strData)));
    m_view.postRefreshValues();
    m_view.setModified();
}

void ValueCommands::OnAddOtherValue() {
    CBinaryEditDlg dialog(&m_view);  // no type set: the user chooses one
    dialog.m_bAdd = true;
    if (m_view.prompts().DoModal(dialog) != IDOK) return;
    writeValue(m_view.currentRoot(), m_view.currentKeyPath(), toU16(dialog.m_strName), dialog.m_dwType,
               binaryEditorData(dialog.m_strData));
    m_view.postRefreshValues();
    m_view.setModified();
}

void ValueCommands::OnDeleteValue() {
    // The row's own name, taken before the question's event loop can refill the list: the whole
    // name, and "" only for the unnamed value.
    const int selected = m_view.selectedRow();
    const std::u16string name = selected >= 0 ? m_view.listModel().rowAt(selected).name : std::u16string();
    if (m_view.prompts().messageBox(&m_view, deleteValueQuestionText(), MessageButtons::YesNo) == IDNO) return;
    if (selected < 0) return;
    deleteValue(m_view.currentRoot(), m_view.currentKeyPath(), name);
    m_view.postRefreshValues();
    m_view.setModified();
}

bool ValueCommands::OnUpdateDeleteValue() const {
    return m_view.selectedRow() >= 0;
}

bool ValueCommands::OnUpdateEditBinaryData() const {
    return m_view.selectedRow() >= 0;
}

bool ValueCommands::OnUpdateAddValue() const {
    return !m_view.currentKeyPath().empty();
}
