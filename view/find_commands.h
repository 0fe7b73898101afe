#pragma once
// 検索..., 次を検索 and 前を検索 beside the view: the find dialog, the search run in slices of the
// event loop (the registry operations belong to this thread), a progress display with 中止 once a
// search has taken about half a second, and the 検索結果 list of a find-all search. A hit selects
// its key and, for a value hit, its value row through the view's GoToKey.
#include <QDate>
#include <QElapsedTimer>
#include <QObject>
#include <memory>
#include <optional>

#include "find/registry_find.h"

class CTovikView;
class CFindResultsDlg;
class QProgressDialog;

class FindCommands : public QObject {
    Q_OBJECT
public:
    static constexpr int kProgressDelayMs = 500;

    explicit FindCommands(CTovikView& view);
    ~FindCommands() override;

    void OnFind();
    void OnFindNext();
    void OnFindPrevious();
    // 次を検索 and 前を検索 need a text given once in the dialog.
    bool OnUpdateFindNext() const { return m_haveOptions && !isRunning(); }
    bool OnUpdateFind() const { return !isRunning(); }

    // The search in progress, if any.
    bool isRunning() const { return m_running != nullptr; }
    void cancel();
    const tovik::find::FindOptions& options() const { return m_options; }
    const std::optional<tovik::find::FindHit>& lastHit() const { return m_lastHit; }
    CFindResultsDlg* resultsDialog() const { return m_results.get(); }
    QProgressDialog* progress() const { return m_progress; }
    // Smaller slices and an earlier progress display, for tests that watch a search run.
    void setSliceBudget(std::size_t budget) { m_sliceBudget = budget; }
    void setProgressDelay(int ms) { m_progressDelayMs = ms; }

    // Texts of the messages.
    static constexpr std::u16string_view kNotFoundMessage = u"見つかりませんでした。";
    static constexpr std::u16string_view kIncompleteNote = u"\n読み取れないキーや値がありました。";
    static constexpr std::u16string_view kDamagedMessage =
        u"レジストリが壊れているため、検索を最後まで行えませんでした。";

signals:
    // A search ended: found, not found, finished, cancelled or failed.
    void searchFinished(tovik::find::FindStatus status);

private:
    void findFrom(tovik::find::FindDirection direction, bool useLastHit);
    void start(std::unique_ptr<tovik::find::RegistryFind> search, bool all);
    void step();
    void showProgress();
    void finish(tovik::find::FindStatus status);
    void goTo(const tovik::find::FindHit& hit);

    CTovikView& m_view;
    tovik::find::FindOptions m_options;
    bool m_haveOptions = false;
    bool m_fromTop = false;
    QDate m_changedFrom, m_changedUntil;  // the days of the last search by time
    std::optional<tovik::find::FindHit> m_lastHit;
    std::unique_ptr<tovik::find::RegistryFind> m_running;
    bool m_all = false;
    QElapsedTimer m_clock;
    QProgressDialog* m_progress = nullptr;
    std::unique_ptr<CFindResultsDlg> m_results;
    std::size_t m_sliceBudget = tovik::find::RegistryFind::kDefaultSliceBudget;
    int m_progressDelayMs = kProgressDelayMs;
};
