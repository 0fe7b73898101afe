// The value commands of the view: edit a value by double-tapping its row, add values of four
// kinds, delete the selected value. Each write goes to the current key, then the list is refilled
// from the registry (posted) and the document is marked modified.
#include "editors/gui/binary_edit_dlg.h"
#include "editors/gui/number_edit_dlg.h"
#include "editors/gui/string_edit_dlg.h"
#include "editors/string_rules.h"
#include "registry/key_handle.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/value_types.h"
#include "ui/qt_text.h"
#include "view/tovik_view.h"
#include "ui/translated.h"

namespace {

QString NotSupportedText() { return Tovik::tr("未サポートです。"); }
QString DeleteValueQuestionText() { return Tovik::tr("元に戻せなくなります。\nよろしいですか？"); }

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

void CTovikView::OnDblClkValueList() {
    const int selected = SelectedRow();
    if (selected < 0) return;
    // A copy: the editor runs an event loop, in which a refresh may replace the rows.
    const ValueRow row = ListModel().Row(selected);
    if (!IsSupportedType(row.type)) {
        Prompts().MessageBox(this, NotSupportedText(), MessageButtons::Ok);
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
        CStringEditDlg dialog(this);
        dialog.m_pPrompts = &Prompts();
        dialog.m_strName = shownName;
        dialog.m_strData = dataText;
        dialog.m_strType = StringTypeLabel(row.type);
        if (Prompts().DoModal(dialog) != IDOK) return;
        name = NameAfterEdit(row, dialog.m_strName);
        data = tovik::ValueDataToWrite(row.type, ToU16View(dialog.m_strData));
        break;
    }
    case REG_DWORD: {
        CNumberEditDlg dialog(this);
        dialog.m_pPrompts = &Prompts();
        dialog.m_strName = shownName;
        dialog.m_nValue = DecimalTextToLong(ToU16View(dataText));
        if (Prompts().DoModal(dialog) != IDOK) return;
        name = NameAfterEdit(row, dialog.m_strName);
        data = DwordToBytes(static_cast<DWORD>(dialog.m_nValue));
        break;
    }
    default: {
        CBinaryEditDlg dialog(this);
        dialog.m_strName = shownName;
        dialog.m_strData = dataText;
        dialog.m_dwType = row.type;
        if (Prompts().DoModal(dialog) != IDOK) return;
        name = NameAfterEdit(row, dialog.m_strName);
        data = BinaryEditorData(dialog.m_strData);
        break;
    }
    }
    // The type is the row's: editing never changes a value's type.
    WriteValue(m_hRootKey, m_strKeyPath, name, row.type, data);
    PostRefreshValues();
    SetModified();
}

void CTovikView::OnAddDwordValue() {
    CNumberEditDlg dialog(this);
    dialog.m_pPrompts = &Prompts();
    dialog.m_bAdd = true;
    if (Prompts().DoModal(dialog) != IDOK) return;
    WriteValue(m_hRootKey, m_strKeyPath, ToU16(dialog.m_strName), REG_DWORD,
               DwordToBytes(static_cast<DWORD>(dialog.m_nValue)));
    PostRefreshValues();
    SetModified();
}

void CTovikView::OnAddStringValue() {
    CStringEditDlg dialog(this);
    dialog.m_pPrompts = &Prompts();
    dialog.m_bAdd = true;
    dialog.m_strType = StringTypeLabel(REG_SZ);
    if (Prompts().DoModal(dialog) != IDOK) return;
    WriteValue(m_hRootKey, m_strKeyPath, ToU16(dialog.m_strName), REG_SZ,
               tovik::ValueDataToWrite(REG_SZ, ToU16View(dialog.m_strData)));
    PostRefreshValues();
    SetModified();
}

void CTovikView::OnAddMultiStringValue() {
    CStringEditDlg dialog(this);
    dialog.m_pPrompts = &Prompts();
    dialog.m_bAdd = true;
    dialog.m_strType = StringTypeLabel(REG_MULTI_SZ);
    if (Prompts().DoModal(dialog) != IDOK) return;
    WriteValue(m_hRootKey, m_strKeyPath, ToU16(dialog.m_strName), REG_MULTI_SZ,
               tovik::ValueDataToWrite(REG_MULTI_SZ, ToU16View(dialog.m_strData)));
    PostRefreshValues();
    SetModified();
}

void CTovikView::OnAddOtherValue() {
    CBinaryEditDlg dialog(this);   // no type set: the user chooses one
    dialog.m_bAdd = true;
    if (Prompts().DoModal(dialog) != IDOK) return;
    WriteValue(m_hRootKey, m_strKeyPath, ToU16(dialog.m_strName), dialog.m_dwType,
               BinaryEditorData(dialog.m_strData));
    PostRefreshValues();
    SetModified();
}

void CTovikView::OnDeleteValue() {
    // The row's own name, taken before the question's event loop can refill the list: the whole
    // name, and "" only for the unnamed value.
    const int selected = SelectedRow();
    const std::u16string name = selected >= 0 ? ListModel().Row(selected).name : std::u16string();
    if (Prompts().MessageBox(this, DeleteValueQuestionText(), MessageButtons::YesNo) == IDNO) return;
    if (selected < 0) return;
    DeleteValue(m_hRootKey, m_strKeyPath, name);
    PostRefreshValues();
    SetModified();
}

bool CTovikView::OnUpdateDeleteValue() const { return SelectedRow() >= 0; }
