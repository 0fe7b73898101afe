#pragma once
// The document holds no data: the registry is read by the view directly. Its modified flag is set
// by the commands that change the registry and never leads to a prompt to save.
#include <QObject>

class CTovikDoc : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void setModifiedFlag(bool modified = true) { m_bModified = modified; }
    bool isModified() const { return m_bModified; }
    // A new document only clears the flag.
    bool OnNewDocument() {
        m_bModified = false;
        return true;
    }
    // Closing never asks.
    bool saveModified() const { return true; }

private:
    bool m_bModified = false;
};
