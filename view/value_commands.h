#pragma once
// The value commands beside the view: edit a value by double-tapping its row (or Enter), add
// values of four kinds, delete the selected value. Each write goes to the view's current key,
// then the list is refilled from the registry (posted) and the document is marked modified.
#include <QObject>

class CTovikView;

class ValueCommands : public QObject {
public:
    explicit ValueCommands(CTovikView& view);

    void OnDblClkValueList();
    void OnAddDwordValue();
    void OnAddStringValue();
    void OnAddMultiStringValue();
    void OnAddOtherValue();
    void OnDeleteValue();
    bool OnUpdateDeleteValue() const;
    bool OnUpdateAddValue() const;

private:
    CTovikView& m_view;
};
