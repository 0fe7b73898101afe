#include "view/find_commands.h"

#include <QDateTime>
#include <QProgressDialog>
#include <QTimer>

#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/find_dlg.h"
#include "view/find_results_dlg.h"
#include "view/tovik_view.h"

using tovik::find::FindDirection;
using tovik::find::FindHit;
using tovik::find::FindStart;
using tovik::find::FindStatus;
using tovik::find::RegistryFind;

namespace {

std::int64_t fileTimeOfLocalDayStart(const QDate& day) {
    constexpr std::int64_t kUnixEpoch = 116444736000000000;  // 1970-01-01 as a FILETIME
    return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch() * 10000 + kUnixEpoch;
}

}  // namespace

FindCommands::FindCommands(CTovikView& view) : QObject(&view), m_view(view) {}

FindCommands::~FindCommands() = default;

void FindCommands::OnFind() {
    if (isRunning()) return;
    CFindDlg dialog(&m_view);
    dialog.m_strText = toQString(m_options.text);
    if (m_haveOptions) {
        dialog.m_bKeyNames = m_options.keyNames;
        dialog.m_bValueNames = m_options.valueNames;
        dialog.m_bData = m_options.data;
        dialog.m_bMatchCase = m_options.matchCase;
        dialog.m_bWholeMatch = m_options.wholeMatch;
        dialog.m_bFromTop = m_fromTop;
        dialog.m_bChangedBetween = m_options.timeBounded();
        if (m_options.timeBounded()) {
            dialog.m_changedFrom = m_changedFrom;
            dialog.m_changedUntil = m_changedUntil;
        }
    }
    if (m_view.prompts().DoModal(dialog) != IDOK) return;
    if ((dialog.m_strText.isEmpty() && !dialog.m_bChangedBetween) ||
        !(dialog.m_bKeyNames || dialog.m_bValueNames || dialog.m_bData))
        return;
    m_options.changedFrom = m_options.changedUntil = 0;
    if (dialog.m_bChangedBetween) {
        // The days in local time: from the start of the first to the end of the last.
        m_changedFrom = dialog.m_changedFrom;
        m_changedUntil = dialog.m_changedUntil;
        m_options.changedFrom = fileTimeOfLocalDayStart(m_changedFrom);
        m_options.changedUntil = fileTimeOfLocalDayStart(m_changedUntil.addDays(1)) - 1;
    }
    m_options.text = toU16(dialog.m_strText);
    m_options.keyNames = dialog.m_bKeyNames;
    m_options.valueNames = dialog.m_bValueNames;
    m_options.data = dialog.m_bData;
    m_options.matchCase = dialog.m_bMatchCase;
    m_options.wholeMatch = dialog.m_bWholeMatch;
    m_fromTop = dialog.m_bFromTop;
    m_haveOptions = true;
    m_lastHit.reset();
    if (dialog.m_bFindAll) {
        start(std::make_unique<RegistryFind>(RegistryFind::findAll(m_options)), true);
    } else {
        findFrom(FindDirection::Next, false);
    }
}

void FindCommands::OnFindNext() {
    if (OnUpdateFindNext()) findFrom(FindDirection::Next, true);
}

void FindCommands::OnFindPrevious() {
    if (OnUpdateFindNext()) findFrom(FindDirection::Previous, true);
}

void FindCommands::findFrom(FindDirection direction, bool useLastHit) {
    FindStart from = FindStart::edge();
    // Going on from the last hit while it is still where the user is; otherwise from the
    // selected key (or the top, when the dialog asked for it and nothing was found yet).
    if (useLastHit && m_lastHit && m_lastHit->root == m_view.currentRoot() &&
        m_lastHit->path == m_view.currentKeyPath()) {
        from = FindStart::after(*m_lastHit);
    } else if (!(m_fromTop && !m_lastHit) && m_view.currentRoot() != 0) {
        from = FindStart::atKey(m_view.currentRoot(), m_view.currentKeyPath());
        // Going on from the key the user stands on: that key itself is not a hit again.
        if (useLastHit) from.includeStart = false;
    }
    start(std::make_unique<RegistryFind>(m_options, direction, from), false);
}

void FindCommands::start(std::unique_ptr<RegistryFind> search, bool all) {
    m_running = std::move(search);
    m_all = all;
    m_clock.start();
    QTimer::singleShot(0, this, &FindCommands::step);
}

void FindCommands::step() {
    if (!m_running) return;
    const FindStatus status = m_running->step(m_sliceBudget);
    if (status != FindStatus::Running) {
        finish(status);
        return;
    }
    if (m_clock.elapsed() >= m_progressDelayMs) showProgress();
    if (m_running) QTimer::singleShot(0, this, &FindCommands::step);  // 中止 may have ended it
}

void FindCommands::showProgress() {
    if (!m_progress) {
        m_progress = new QProgressDialog(&m_view);
        m_progress->setWindowTitle(Tovik::tr("検索"));
        m_progress->setCancelButtonText(Tovik::tr("中止"));
        m_progress->setRange(0, 1000);
        m_progress->setMinimumDuration(0);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        m_progress->setWindowModality(Qt::WindowModal);  // no edits while the search reads
        connect(m_progress, &QProgressDialog::canceled, this, &FindCommands::cancel);
    }
    m_progress->setLabelText(Tovik::tr("検索しています...") + QLatin1Char('\n') +
                             toQString(m_running->currentKeyPath()));
    m_progress->show();
    // A modal progress dialog handles pending events while its value is set: a press of 中止
    // there ends the search and takes the dialog away, so nothing may follow this call.
    m_progress->setValue(static_cast<int>(m_running->fractionDone() * 1000));
}

void FindCommands::cancel() {
    if (!m_running) return;
    m_running->cancel();
    finish(FindStatus::Cancelled);
}

void FindCommands::finish(FindStatus status) {
    std::unique_ptr<RegistryFind> search = std::move(m_running);
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
    const QString incomplete = search->incomplete() ? translated(kIncompleteNote) : QString();
    switch (status) {
    case FindStatus::Found:
        m_lastHit = search->hit();
        goTo(*m_lastHit);
        break;
    case FindStatus::Finished:
        if (search->hits().empty()) {
            m_view.prompts().messageBox(&m_view, translated(kNotFoundMessage) + incomplete, MessageButtons::Ok);
            break;
        }
        if (!m_results) {
            m_results = std::make_unique<CFindResultsDlg>(m_view.window());
            connect(m_results.get(), &CFindResultsDlg::hitActivated, this, [this](const FindHit& hit) {
                m_lastHit = hit;
                goTo(hit);
            });
        }
        m_results->setHits(search->hits(), search->truncated());
        m_results->show();
        m_results->raise();
        break;
    case FindStatus::NotFound:
        m_view.prompts().messageBox(&m_view, translated(kNotFoundMessage) + incomplete, MessageButtons::Ok);
        break;
    case FindStatus::Failed:
        m_view.prompts().messageBox(&m_view, translated(kDamagedMessage), MessageButtons::Ok);
        break;
    case FindStatus::Cancelled:
    case FindStatus::Running: break;
    }
    emit searchFinished(status);
}

void FindCommands::goTo(const FindHit& hit) {
    m_view.goToKey(hit.root, hit.path, hit.isValueHit() ? std::optional(hit.valueName) : std::nullopt);
}
