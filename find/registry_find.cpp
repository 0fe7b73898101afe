#include "find/registry_find.h"

#include <algorithm>

#include "find/key_path.h"
#include "registry/registry_store.h"
#include "registry/value_types.h"

namespace tovik::find {

namespace {

// Characters of a cut data text kept before the match, so the hit shows what leads to it.
constexpr std::size_t kLeadBeforeMatch = 32;

// A search by time alone looks at key names only, and every key name matches.
FindOptions forTimeAlone(FindOptions options) {
    if (options.text.empty() && options.timeBounded()) {
        options.keyNames = true;
        options.valueNames = options.data = false;
    }
    return options;
}

RegistryWalk::Direction walkDirection(FindDirection direction) {
    return direction == FindDirection::Next ? RegistryWalk::Direction::Forward : RegistryWalk::Direction::Backward;
}

}  // namespace

std::u16string FindHit::shownValueName() const {
    return valueName.empty() ? std::u16string(u"@") : valueName;
}

std::u16string FindHit::fullKeyPath() const {
    return ::tovik::fullKeyPath(root, path);
}

FindStart FindStart::atKey(HKEY root, std::u16string path) {
    FindStart start;
    start.root = root;
    start.path = std::move(path);
    return start;
}

FindStart FindStart::after(const FindHit& hit) {
    FindStart start = atKey(hit.root, hit.path);
    if (hit.isValueHit()) start.valueName = hit.valueName;
    start.includeStart = false;
    return start;
}

RegistryFind::RegistryFind(FindOptions options, FindDirection direction, const FindStart& start)
    : RegistryFind(std::move(options), direction, start, false, 0) {}

RegistryFind RegistryFind::findAll(FindOptions options, std::size_t limit) {
    return RegistryFind(std::move(options), FindDirection::Next, FindStart::edge(), true, limit);
}

RegistryFind::RegistryFind(FindOptions options, FindDirection direction, const FindStart& start, bool all,
                           std::size_t limit)
    : options_(forTimeAlone(std::move(options))),
      direction_(direction),
      start_(start),
      all_(all),
      limit_(limit),
      matcher_(options_.text, options_.matchCase, options_.wholeMatch),
      dataMatcher_(matcher_),
      walk_(options_.scopeRoot, options_.scopePath, walkDirection(direction), options_.valueNames || options_.data,
            options_.data) {}

void RegistryFind::begin() {
    begun_ = true;
    startIsEdge_ = true;
    if (start_.root != 0) {
        startIsEdge_ = !walk_.startAt(start_.root, start_.path, start_.valueName, startExact_);
        skipFirst_ = !startIsEdge_ && startExact_ && !start_.includeStart;
    }
    startPosition_ = walk_.startPosition();
    startFraction_ = startIsEdge_ ? (direction_ == FindDirection::Next ? 0.0 : 1.0) : walk_.fractionBefore();
}

double RegistryFind::fractionDone() const {
    if (status_ != FindStatus::Running) return 1.0;
    if (!begun_) return 0.0;
    const double here = walk_.fractionBefore();
    // Forward the first leg runs from the start to the end and the second from the top back to
    // the start; backward the other way round.
    const double covered = direction_ == FindDirection::Next ? here - startFraction_ : startFraction_ - here;
    const double done = leg_ == 1 ? covered : 1.0 + covered;
    return std::clamp(done, 0.0, 1.0);
}

bool RegistryFind::pastStart() const {
    const int order = walk_.compareCurrentTo(startPosition_);
    // After an exclusive start the start's own item is the last one looked at.
    const bool startLast = startExact_ && !start_.includeStart;
    if (direction_ == FindDirection::Next) return startLast ? order > 0 : order >= 0;
    return startLast ? order < 0 : order <= 0;
}

FindStatus RegistryFind::step(std::size_t budget) {
    if (status_ != FindStatus::Running) return status_;
    if (!options_.keyNames && !options_.valueNames && !options_.data)
        return finish(all_ ? FindStatus::Finished : FindStatus::NotFound);
    const RegistryReadSnapshot snapshot;
    if (!begun_) begin();
    for (std::size_t n = 0; n < budget; ++n) {
        if (!walk_.next()) {
            if (walk_.failed()) return finish(FindStatus::Failed);
            if (!all_ && leg_ == 1 && options_.wrapAround && !startIsEdge_) {
                leg_ = 2;
                walk_.restartFromEdge();
                continue;
            }
            return finish(all_ ? FindStatus::Finished : FindStatus::NotFound);
        }
        if (skipFirst_) {
            skipFirst_ = false;
            continue;
        }
        if (leg_ == 2 && pastStart()) return finish(FindStatus::NotFound);
        if (!matchCurrent()) continue;
        if (!all_) return finish(FindStatus::Found);
        hits_.push_back(hit_);
        if (hits_.size() >= limit_) {
            truncated_ = true;
            return finish(FindStatus::Finished);
        }
    }
    return status_;
}

bool RegistryFind::matchCurrent() {
    if (options_.timeBounded()) {
        const std::int64_t written = walk_.currentKeyWriteTime();
        if (written < options_.changedFrom || (options_.changedUntil != 0 && written > options_.changedUntil))
            return false;
    }
    if (walk_.currentKind() == RegistryWalk::ItemKind::Key) {
        if (!options_.keyNames) return false;
        const std::u16string_view name = walk_.currentKeyName();
        const std::size_t at = options_.text.empty() && options_.timeBounded() ? 0 : matcher_.find(name);
        if (at == TextMatcher::npos) return false;
        hit_.kind = HitKind::KeyName;
        hit_.valueName.clear();
        hit_.type = 0;
        setHitText(name, at);
    } else {
        const WalkValue& value = walk_.currentValue();
        std::size_t at = TextMatcher::npos;
        if (options_.valueNames) {
            const std::u16string_view shown = value.name.empty() ? std::u16string_view(u"@") : value.name;
            at = matcher_.find(shown);
            if (at != TextMatcher::npos) {
                hit_.kind = HitKind::ValueName;
                setHitText(shown, at);
            }
        }
        if (at == TextMatcher::npos && options_.data &&
            dataMatcher_.matches(value.type, value.data.data(), value.data.size())) {
            dataText_.clear();
            // A whole match needs no more of the text than one character past the pattern.
            const std::size_t needed = matcher_.wholeText() ? matcher_.patternLength() + 1 : std::size_t(-1);
            appendValueText(dataText_, value.type, value.data.data(), value.data.size(), needed);
            at = matcher_.find(dataText_);
            if (at != TextMatcher::npos) {
                hit_.kind = HitKind::Data;
                setHitText(dataText_, at);
            }
        }
        if (at == TextMatcher::npos) return false;
        hit_.valueName = value.name;
        hit_.type = value.type;
    }
    hit_.root = walk_.currentRoot();
    hit_.path.assign(walk_.currentPath());
    hit_.keyWriteTime = walk_.currentKeyWriteTime();
    return true;
}

void RegistryFind::setHitText(std::u16string_view text, std::size_t at) {
    hit_.matchLength = matcher_.patternLength();
    if (text.size() <= kMaxHitTextChars) {
        hit_.text.assign(text);
        hit_.matchStart = at;
        return;
    }
    const std::size_t window = kMaxHitTextChars;
    std::size_t from = at > kLeadBeforeMatch ? at - kLeadBeforeMatch : 0;
    from = std::min(from, text.size() - window);
    hit_.text.clear();
    if (from > 0) hit_.text += u'…';
    hit_.matchStart = at - from + hit_.text.size();
    hit_.text.append(text.substr(from, window));
    if (from + window < text.size()) hit_.text += u'…';
}

FindStatus RegistryFind::finish(FindStatus status) {
    status_ = status;
    walk_.release();
    return status_;
}

void RegistryFind::cancel() {
    if (status_ == FindStatus::Running) finish(FindStatus::Cancelled);
}

std::u16string RegistryFind::currentKeyPath() const {
    return ::tovik::fullKeyPath(walk_.currentRoot(), walk_.currentPath());
}

FindStatus runFind(RegistryFind& find, const std::function<bool(const RegistryFind&)>& onProgress,
                   std::size_t sliceBudget) {
    while (find.step(sliceBudget) == FindStatus::Running) {
        if (onProgress && !onProgress(find)) find.cancel();
    }
    return find.status();
}

}  // namespace tovik::find
