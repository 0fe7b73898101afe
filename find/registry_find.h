#pragma once
// Finding text in the current registry: key names, value names (the unnamed value as "@") and
// data as the value list shows it, in the order of the browser's tree and list.
//
// A search runs in slices: Step(budget) examines about budget keys and values and returns, so a
// window can run it between events and show progress; stopping is simply not calling Step again
// (or Cancel). Each slice reads inside one read snapshot of the store. Like every caller of the
// registry operations, a search runs on the thread that uses the registry.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "find/data_match.h"
#include "find/registry_walk.h"
#include "find/text_match.h"
#include "registry/win_types.h"

namespace tovik::find {

struct FindOptions {
    std::u16string text;
    bool keyNames = true;  // what to look at; nothing selected finds nothing
    bool valueNames = true;
    bool data = true;
    bool matchCase = false;   // otherwise with the registry's case folding of names
    bool wholeMatch = false;  // the whole name or data text is the text
    bool wrapAround = true;   // a next or previous search goes on from the other end
    // Only keys last written between these times (FILETIMEs, both included; 0: no bound), and
    // their values. With an empty text every such key is a hit, and values are not looked at.
    std::int64_t changedFrom = 0;
    std::int64_t changedUntil = 0;
    bool timeBounded() const { return changedFrom != 0 || changedUntil != 0; }
    // Only root\scopePath and everything below it; scopeRoot 0 is the whole registry.
    HKEY scopeRoot = 0;
    std::u16string scopePath;
};

enum class HitKind { KeyName, ValueName, Data };

struct FindHit {
    HKEY root = 0;
    std::u16string path;  // the key's path below root
    HitKind kind = HitKind::KeyName;
    std::u16string valueName;  // value hits: the name as stored, empty for the unnamed value
    DWORD type = 0;            // value hits: the value's type
    // What matched: the key's name, the value's shown name, or its data text. A data text longer
    // than kMaxHitTextChars is cut to a window around the match, marked with "…" where cut.
    std::u16string text;
    std::size_t matchStart = 0;  // of the match within text
    std::size_t matchLength = 0;
    std::int64_t keyWriteTime = 0;  // when the hit's key was last written (FILETIME; 0: unknown)

    bool isValueHit() const { return kind != HitKind::KeyName; }
    // The value's name as the list shows it ("@" for the unnamed value).
    std::u16string shownValueName() const;
    // "HKEY_LOCAL_MACHINE\Software\Sample".
    std::u16string fullKeyPath() const;
};

// Where a next or previous search begins.
struct FindStart {
    HKEY root = 0;  // 0: the top for a next search, the end for a previous one
    std::u16string path;
    std::optional<std::u16string> valueName;  // a value of the key rather than the key itself
    bool includeStart = true;                 // the item at the start is the first one looked at

    static FindStart edge() { return {}; }
    // The key itself (its name, then its values) is looked at first.
    static FindStart atKey(HKEY root, std::u16string path);
    // Goes on from a hit: the hit itself is looked at last, after wrapping around.
    static FindStart after(const FindHit& hit);
};

enum class FindDirection { Next, Previous };

enum class FindStatus {
    Running,   // call Step again
    Found,     // a next or previous search: Hit() holds the hit
    NotFound,  // a next or previous search looked everywhere
    Finished,  // a find-all search: Hits() holds every hit (or the first kMaxFindAllHits)
    Cancelled,
    Failed,  // the store's keys nest deeper than keys can: it is damaged
};

class RegistryFind {
public:
    // A find-all search stops collecting, and ends, at this many hits; Truncated() then says so.
    static constexpr std::size_t kMaxFindAllHits = 10'000;
    static constexpr std::size_t kMaxHitTextChars = 1024;
    // A slice that a window can run between events without being felt.
    static constexpr std::size_t kDefaultSliceBudget = 20'000;

    // Looks for the next (or previous) hit from start, going once around the whole scope.
    RegistryFind(FindOptions options, FindDirection direction, const FindStart& start);
    // Collects every hit of the scope in the walk's order, from its top to its end.
    static RegistryFind findAll(FindOptions options, std::size_t limit = kMaxFindAllHits);

    // Examines at most about budget keys and values; returns the status afterwards.
    FindStatus step(std::size_t budget);
    void cancel();

    FindStatus status() const { return status_; }
    const FindHit& hit() const { return hit_; }
    const std::vector<FindHit>& hits() const { return hits_; }
    bool truncated() const { return truncated_; }
    // Keys or values that exist could not be read, so NotFound or Finished did not see them all.
    bool incomplete() const { return walk_.incomplete(); }
    std::uint64_t keysExamined() const { return walk_.keysVisited(); }
    std::uint64_t valuesExamined() const { return walk_.valuesVisited(); }
    // The key being looked at, and how much of the search is done (0 to 1, estimated), for a
    // progress display.
    std::u16string currentKeyPath() const;
    double fractionDone() const;

private:
    RegistryFind(FindOptions options, FindDirection direction, const FindStart& start, bool all, std::size_t limit);
    void begin();
    bool pastStart() const;
    // Fills hit_ when the current item matches.
    bool matchCurrent();
    void setHitText(std::u16string_view text, std::size_t at);
    FindStatus finish(FindStatus status);

    FindOptions options_;
    FindDirection direction_;
    FindStart start_;
    bool all_;
    std::size_t limit_;
    TextMatcher matcher_;
    DataMatcher dataMatcher_;  // decides from the data which values need their text built
    RegistryWalk walk_;

    bool begun_ = false;
    int leg_ = 1;  // 1: from the start to the edge; 2: after wrapping, from the other edge back
    bool skipFirst_ = false;
    bool startIsEdge_ = true;
    bool startExact_ = false;
    WalkPosition startPosition_;
    double startFraction_ = 0;  // where the first leg began, in the forward order

    FindStatus status_ = FindStatus::Running;
    FindHit hit_;
    std::vector<FindHit> hits_;
    bool truncated_ = false;
    std::u16string dataText_;
};

// Runs a search to its end in slices; between slices onProgress (may be empty) is told, and
// returning false from it cancels the search.
FindStatus runFind(RegistryFind& find, const std::function<bool(const RegistryFind&)>& onProgress = {},
                   std::size_t sliceBudget = RegistryFind::kDefaultSliceBudget);

}  // namespace tovik::find
