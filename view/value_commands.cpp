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

QString NotSupportedText() { return Tovik::tr("未サポートです。"); }
QString DeleteValueQuestionText() {
    // A recorded delete can be taken back; only one that is not recorded cannot.
    if (tovik::history::CurrentRecorder()) return Tovik::tr("編集 > 元に戻す で元に戻せます。\nよろしいですか？");
    return Tovik::tr("元に戻せなくなります。\nよろしいですか？");
}

// "@" is how the list shows the unnamed value; an edited name of "@" means that value again.
std::u16string NameFromShown(const QString& shown) {
    const std::u16string_view name = ToU16View(shown);
    return IsUnnamedValueName(name) ? std::u16string() : std::u16string(name);
}

// The name an edited value is written under. Left as shown, it is the row's own name, so that a
// value really named "@" is not mistaken for the unnamed one; a new name is a rename.
std::u16string NameAfterEdit(const ValueRow& row, const QString& edited) {
    if (edited == ShownValueName(row.name)) return row.name;
    return NameFromShown(edited);
}

// The binary editor's text is hex bytes whatever the type (also REG_MULTI_SZ chosen when adding).
// The bytes go into a buffer as large as the text needs, so no length is cut or overrun.
Bytes BinaryEditorData(const QString& text) { return HexTextToBytes(ToU16View(text)); }

// Opens the current key, writes, closes. A failure is not reported: the refilled list shows
// what the registry holds.
void WriteValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type, const Bytes& data) {
    tovik::KeyHandle hKey;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, hKey.receive()) != ERROR_SUCCESS) return;
    RegSetValueExW(hKey.get(), name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
}

void DeleteValue(HKEY root, const std::u16string& path, const std::u16string& name) {
    tovik::KeyHandle hKey;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, hKey.receive()) != ERROR_SUCCESS) return;
    RegDeleteValueW(hKey.get(), name.c_str());
}

QString StringTypeLabel(DWORD type) { return ToQString(TypeLongName(type)); }

}  // namespace

ValueCommands::ValueCommands(CTovikView& view) : QObject(&view), m_view(view) {
    QTreeView* list = view.ValueList();
    connect(list, &QTreeView::doubleClicked, this, [this] { OnDblClkValueList(); });
    // Desktop habits: Enter edits the selected value.
    for (const int key : {Qt::Key_Return, Qt::Key_Enter})
        new QShortcut(QKeySequence(key), list, this, [this] { OnDblClkValueList(); }, Qt::WidgetShortcut);
}

void ValueCommands::OnDblClkValueList() {
    const int selected = m_view.SelectedRow();
    if (selected < 0) return;
    // A copy: the editor runs an event loop, in which a refresh may replace the rows.
    const ValueRow row = m_view.ListModel().Row(selected);
    if (!IsSupportedType(row.type)) {
        m_view.Prompts().MessageBox(&m_view, NotSupportedText(), MessageButtons::Ok);
        return;
    }

    // The editors get the row's whole name and data, never a display text cut to fit a column.
    const QString shownName = ShownValueName(row.name);
    const QString dataText = ToQString(FormatValue(row.type, row.data.data(), row.data.size()).text);
    std::u16string name;
    Bytes data;
    switch (row.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
        CStringEditDlg dialog(&m_view);
        dialog.m_pPrompts = &m_view.Prompts();
        dialog.m_strName = shownName;
        dialog.m_strData = dataText;
        dialog.m_strType = StringTypeLabel(row.type);
        if (m_view.Prompts().DoModal(dialog) != IDOK) return;
        name = NameAfterEdit(row, dialog.m_strName);
        data = tovik::ValueDataToWrite(row.type, ToU16View(dialog.m_strData));
        break;
    }
    case REG_DWORD: {
        CNumberEditDlg dialog(&m_view);
        dialog.m_pPrompts = &m_view.Prompts();
        dialog.m_strName = shownName;
        dialog.m_nValue = DecimalTextToLong(ToU16View(dataText));
        if (m_view.Prompts().DoModal(dialog) != IDOK) return;
        name = NameAfterEdit(row, dialog.m_strName);
        data = DwordToBytes(static_cast<DWORD>(dialog.m_nValue));
        break;
    }
    default:
        if (!EditAsBytes(row, name, data)) return;
        break;
    }
    WriteEdited(row, name, data);
}

void ValueCommands::OnEditBinaryData() {
    const int selected = m_view.SelectedRow();
    if (selected < 0) return;
    const ValueRow row = m_view.ListModel().Row(selected);   // a copy, as for a double tap
    std::u16string name;
    Bytes data;
    if (!EditAsBytes(row, name, data)) return;
    WriteEdited(row, name, data);
}

bool ValueCommands::EditAsBytes(const ValueRow& row, std::u16string& name, Bytes& data) {
    CBinaryEditDlg dialog(&m_view);
    dialog.m_strName = ShownValueName(row.name);
    dialog.m_strData = ToQString(BytesToHexText(row.data.data(), row.data.size()));
    dialog.m_dwType = row.type;
    if (m_view.Prompts().DoModal(dialog) != IDOK) return false;
    name = NameAfterEdit(row, dialog.m_strName);
    data = BinaryEditorData(dialog.m_strData);
    return true;
}

void ValueCommands::WriteEdited(const ValueRow& row, const std::u16string& name, const Bytes& data) {
    // The type is the row's: editing never changes a value's type.
    WriteValue(m_view.CurrentRoot(), m_view.CurrentKeyPath(), name, row.type, data);
    m_view.PostRefreshValues();
    m_view.SetModified();
}

void ValueCommands::OnAddDwordValue() {
    CNumberEditDlg dialog(&m_view);
    dialog.m_pPrompts = &m_view.Prompts();
    dialog.m_bAdd = true;
    if (m_view.Prompts().DoModal(dialog) != IDOK) return;
    WriteValue(m_view.CurrentRoot(), m_view.CurrentKeyPath(), ToU16(dialog.m_strName), REG_DWORD,
               DwordToBytes(static_cast<DWORD>(dialog.m_nValue)));
    m_view.PostRefreshValues();
    m_view.SetModified();
}

void ValueCommands::OnAddStringValue() {
    CStringEditDlg dialog(&m_view);
    dialog.m_pPrompts = &m_view.Prompts();
    dialog.m_bAdd = true;
    dialog.m_strType = StringTypeLabel(REG_SZ);
    if (m_view.Prompts().DoModal(dialog) != IDOK) return;
    WriteValue(m_view.CurrentRoot(), m_view.CurrentKeyPath(), ToU16(dialog.m_strName), REG_SZ,
               tovik::ValueDataToWrite(REG_SZ, ToU16View(dialog.m_strData)));
    m_view.PostRefreshValues();
    m_view.SetModified();
}

void ValueCommands::OnAddMultiStringValue() {
    CStringEditDlg dialog(&m_view);
    dialog.m_pPrompts = &m_view.Prompts();
    dialog.m_bAdd = true;
    dialog.m_strType = StringTypeLabel(REG_MULTI_SZ);
    if (m_view.Prompts().DoModal(dialog) != IDOK) return;
    WriteValue(m_view.CurrentRoot(), m_view.CurrentKeyPath(), ToU16(dialog.m_strName), REG_MULTI_SZ,
               tovik::ValueDataToWrite(REG_MULTI_SZ, ToU16View(dialog.m_strData)));
    m_view.PostRefreshValues();
    m_view.SetModified();
}

void ValueCommands::OnAddOtherValue() {
    CBinaryEditDlg dialog(&m_view);   // no type set: the user chooses one
    dialog.m_bAdd = true;
    if (m_view.Prompts().DoModal(dialog) != IDOK) return;
    WriteValue(m_view.CurrentRoot(), m_view.CurrentKeyPath(), ToU16(dialog.m_strName), dialog.m_dwType,
               BinaryEditorData(dialog.m_strData));
    m_view.PostRefreshValues();
    m_view.SetModified();
}

void ValueCommands::OnDeleteValue() {
    // The row's own name, taken before the question's event loop can refill the list: the whole
    // name, and "" only for the unnamed value.
    const int selected = m_view.SelectedRow();
    const std::u16string name = selected >= 0 ? m_view.ListModel().Row(selected).name : std::u16string();
    if (m_view.Prompts().MessageBox(&m_view, DeleteValueQuestionText(), MessageButtons::YesNo) == IDNO) return;
    if (selected < 0) return;
    DeleteValue(m_view.CurrentRoot(), m_view.CurrentKeyPath(), name);
    m_view.PostRefreshValues();
    m_view.SetModified();
}

bool ValueCommands::OnUpdateDeleteValue() const { return m_view.SelectedRow() >= 0; }

bool ValueCommands::OnUpdateEditBinaryData() const { return m_view.SelectedRow() >= 0; }

bool ValueCommands::OnUpdateAddValue() const { return !m_view.CurrentKeyPath().empty(); }
