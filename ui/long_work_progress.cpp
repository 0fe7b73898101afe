#include "ui/long_work_progress.h"

#include <QCoreApplication>
#include <QLocale>
#include <QProgressDialog>

#include "ui/prompts.h"
#include "ui/translated.h"

namespace {
std::chrono::milliseconds g_showDelay{500};
constexpr qint64 kSliceMs = 40;  // the event loop runs at most this long apart
constexpr int kScale = 1000;     // the bar's range when the total is known
}  // namespace

void LongWorkProgress::setShowDelay(std::chrono::milliseconds delay) {
    g_showDelay = delay;
}

LongWorkProgress::LongWorkProgress(QWidget* parent, QString label, std::size_t total, bool cancellable)
    : m_parent(parent), m_label(std::move(label)), m_total(total), m_cancellable(cancellable) {
    m_clock.start();
}

LongWorkProgress::~LongWorkProgress() {
    delete m_dialog.data();
}

bool LongWorkProgress::step(std::size_t done) {
    if (m_cancelled) return false;
    const qint64 now = m_clock.elapsed();
    if (now < g_showDelay.count()) return true;
    if (!m_dialog) {
        show();
    } else if (now - m_lastSlice < kSliceMs) {
        return true;
    }
    m_lastSlice = now;
    if (m_total != 0) {
        const double part = static_cast<double>(std::min(done, m_total)) / static_cast<double>(m_total);
        m_dialog->setValue(static_cast<int>(part * kScale));
    }
    if (m_label.contains(QLatin1String("%1")))
        m_dialog->setLabelText(m_label.arg(QLocale().toString(qulonglong{done})));
    QCoreApplication::processEvents();
    m_cancelled = m_dialog && m_dialog->wasCanceled();
    return !m_cancelled;
}

void LongWorkProgress::close() {
    if (m_dialog) m_dialog->hide();
}

void LongWorkProgress::show() {
    m_dialog = new QProgressDialog(m_parent);
    m_dialog->setObjectName(QStringLiteral("LongWorkProgress"));
    m_dialog->setWindowTitle(appCaption());
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setMinimumDuration(0);
    m_dialog->setRange(0, m_total != 0 ? kScale : 0);  // an unknown total shows a busy bar
    m_dialog->setLabelText(m_label.contains(QLatin1String("%1")) ? m_label.arg(0) : m_label);
    if (m_cancellable) {
        m_dialog->setCancelButtonText(Tovik::tr("中止"));
    } else {
        m_dialog->setCancelButton(nullptr);
    }
    m_dialog->show();
}
