#pragma once
// Progress of long work that runs on the GUI thread (the registry operations are not
// thread-safe): nothing for the first half second, then a window-modal QProgressDialog over the
// window, with the event loop given a slice every few hundredths of a second so that the windows
// repaint. The 中止 button is offered only where stopping leaves nothing half done.
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <chrono>
#include <cstddef>

#include <QProgressDialog>
class QWidget;

class LongWorkProgress {
public:
    // label may hold %1 for the amount done; total 0 when the amount of work is not known.
    LongWorkProgress(QWidget* parent, QString label, std::size_t total, bool cancellable);
    ~LongWorkProgress();
    LongWorkProgress(const LongWorkProgress&) = delete;
    LongWorkProgress& operator=(const LongWorkProgress&) = delete;

    // Tells how much is done; cheap enough to call for every item. False once 中止 was pressed.
    bool step(std::size_t done);
    bool cancelled() const { return m_cancelled; }
    // Closes the dialog before the work's messages.
    void close();
    // Whether the dialog has been shown.
    bool shown() const { return m_dialog != nullptr; }

    // How long work runs before the dialog appears (tests shorten it).
    static void setShowDelay(std::chrono::milliseconds delay);

private:
    void show();

    QWidget* m_parent;
    QString m_label;
    std::size_t m_total;
    bool m_cancellable;
    bool m_cancelled = false;
    QElapsedTimer m_clock;
    qint64 m_lastSlice = 0;
    QPointer<QProgressDialog> m_dialog;
};
