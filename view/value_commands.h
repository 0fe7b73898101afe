#pragma once
// The value commands beside the view: edit a value by double-tapping its row (or Enter), add
// values of four kinds, change any value's bytes in the binary editor (バイナリデータの変更),
// delete the selected value. Each write goes to the view's current key,
// then the list is refilled from the registry (posted) and the document is marked modified.
#include <QObject>

#include <string>

#include "registry/value_types.h"

class CTovikView;
struct ValueRow;

class ValueCommands : public QObject {
public:
    explicit ValueCommands(CTovikView& view);

    void OnDblClkValueList();
    void OnAddDwordValue();
    void OnAddStringValue();
    void OnAddMultiStringValue();
    void OnAddOtherValue();
    void OnDeleteValue();
    // The selected value's data as bytes in the binary editor, written back with its own type:
    // the way to change a QWORD or a type above 8, which a double tap does not edit.
    void OnEditBinaryData();
    bool OnUpdateDeleteValue() const;
    bool OnUpdateAddValue() const;
    bool OnUpdateEditBinaryData() const;

private:
    // Opens the binary editor on the row's bytes; false when it was cancelled.
    bool editAsBytes(const ValueRow& row, std::u16string& name, Bytes& data);
    void writeEdited(const ValueRow& row, const std::u16string& name, const Bytes& data);

    CTovikView& m_view;
};
