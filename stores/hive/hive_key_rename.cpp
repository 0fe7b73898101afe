#include "stores/hive/hive_key_rename.h"

#include <string>
#include <utility>
#include <vector>

#include "language/messages.h"
#include "registry/key_time.h"
#include "registry/name_fold.h"
#include "registry/utf8.h"
#include "stores/hive/hive_sentences.h"

namespace tovik::hive {

namespace {

// Everything below key can be written again: names hivex writes, values that fit this hive.
HiveResult checkCopyable(HiveModel& model, NodeId key) {
    bool hasClass = false;
    HiveResult result = model.hasClassName(key, hasClass);
    if (result.ok() && hasClass) {
        // Windows keeps secrets there (parts of the SAM's key under Control\Lsa): losing them silently
        // would leave a Windows whose users cannot log on.
        return {HiveStatus::Refused,
                say({"The key %1 holds a class name, which hivex cannot write: renaming copies the keys and would "
                     "lose it, so nothing was renamed.",
                     "キー %1 にはクラス名があり、hivex はそれを書き込めません。名前の変更はキーを写すため、"
                     "クラス名が失われます。名前は変更していません。"},
                    {utf16ToUtf8(model.name(key))})};
    }
    std::size_t values = 0, subkeys = 0;
    if (result.ok()) result = model.valueCount(key, values);
    for (std::size_t i = 0; result.ok() && i < values; ++i) {
        const HiveValue* value = nullptr;
        result = model.valueAt(key, i, value);
        if (result.ok() && value->data.size() > model.maxValueSize()) {
            return {HiveStatus::Refused,
                    say({"The key holds a value of %1 bytes, more than hivex can write again; it was not renamed.",
                         "このキーには hivex が書き直せる大きさを超える %1 バイトの値があるため、名前は変更して"
                         "いません。"},
                        {std::to_string(value->data.size())})};
        }
    }
    if (result.ok()) result = model.subkeyCount(key, subkeys);
    for (std::size_t i = 0; result.ok() && i < subkeys; ++i) {
        NodeId child = 0;
        result = model.subkeyAt(key, i, child);
        if (result.ok()) result = model.checkKeyName(model.name(child), model.depth(key));
        if (result.ok()) result = checkCopyable(model, child);
    }
    return result;
}

HiveResult copyTree(HiveModel& model, NodeId from, NodeId toParent, std::u16string_view name, NodeId& copy,
                    std::vector<std::pair<NodeId, NodeId>>& moved) {
    HiveResult result = model.createKey(toParent, name, copy);
    if (result.ok()) moved.emplace_back(from, copy);
    std::size_t count = 0;
    if (result.ok()) result = model.valueCount(from, count);
    std::vector<HiveValue> values;
    for (std::size_t i = 0; result.ok() && i < count; ++i) {
        const HiveValue* value = nullptr;
        result = model.valueAt(from, i, value);
        if (result.ok()) values.push_back(*value);
    }
    if (result.ok() && !values.empty()) result = model.replaceValues(copy, std::move(values));
    if (result.ok()) result = model.subkeyCount(from, count);
    // The children are listed first: creating keys below the copy changes no list of from.
    std::vector<NodeId> children;
    for (std::size_t i = 0; result.ok() && i < count; ++i) {
        NodeId child = 0;
        result = model.subkeyAt(from, i, child);
        children.push_back(child);
    }
    for (std::size_t i = 0; result.ok() && i < children.size(); ++i) {
        NodeId ignored = 0;
        result = copyTree(model, children[i], copy, model.name(children[i]), ignored, moved);
    }
    return result;
}

HiveResult deleteTree(HiveModel& model, NodeId key) {
    std::size_t count = 0;
    HiveResult result = model.subkeyCount(key, count);
    while (result.ok() && count > 0) {
        NodeId child = 0;
        result = model.subkeyAt(key, count - 1, child);
        if (result.ok()) result = deleteTree(model, child);
        if (result.ok()) result = model.subkeyCount(key, count);
    }
    if (result.ok()) result = model.deleteKey(key);
    return result;
}

// Copies key under newName, deletes the original, and gives the copies the originals' ids and
// times: only the renamed key itself counts as written.
HiveResult moveTo(HiveModel& model, NodeId key, std::u16string_view newName) {
    std::vector<std::pair<NodeId, NodeId>> moved;
    NodeId copy = 0;
    HiveResult result = copyTree(model, key, model.parent(key), newName, copy, moved);
    for (std::size_t i = 0; result.ok() && i < moved.size(); ++i) {
        std::int64_t time = 0;
        result = model.writeTime(moved[i].first, time);
        model.setWriteTime(moved[i].second, time);
    }
    if (result.ok()) result = deleteTree(model, key);
    if (result.ok()) model.takeOverIds(moved);
    return result;
}

}  // namespace

HiveResult renameKey(HiveModel& model, NodeId key, std::u16string_view newName) {
    if (key == model.root()) {
        return {HiveStatus::Refused, std::string(text({"The root key of a hive cannot be renamed.",
                                                       "ハイブのルートキーは名前を変更できません。"}))};
    }
    if (!model.exists(key)) return {HiveStatus::NotFound, keyDeletedSentence()};
    const std::u16string oldName = model.name(key);
    if (oldName == newName) return {};
    const NodeId parent = model.parent(key);
    HiveResult result = model.checkKeyName(newName, model.depth(parent));
    NodeId sibling = 0;
    if (result.ok() && compareNames(oldName, newName) != 0 && model.findChild(parent, newName, sibling).ok()) {
        return {HiveStatus::Exists, keyExistsSentence()};
    }
    if (result.ok()) result = checkCopyable(model, key);
    if (!result.ok()) return result;

    const bool ownBatch = !model.inBatch();
    if (ownBatch) {
        result = model.beginBatch();
        if (!result.ok()) return result;
    }
    // As Wine renames: the key is touched, its parent keeps its time though copying and deleting
    // went through its list of subkeys.
    std::int64_t parentTime = 0;
    result = model.writeTime(parent, parentTime);
    if (result.ok() && compareNames(oldName, newName) != 0) {
        result = moveTo(model, key, newName);
    } else if (result.ok()) {
        // Only the case changes: the name is taken by the key itself, so it goes round a free name.
        std::u16string spare = u"tovik-rename";
        for (int n = 1; model.findChild(parent, spare, sibling).ok(); ++n) {
            spare = u"tovik-rename-";
            for (char digit : std::to_string(n)) spare.push_back(static_cast<char16_t>(digit));
        }
        result = moveTo(model, key, spare);
        if (result.ok()) result = moveTo(model, key, newName);
    }
    if (result.ok()) {
        model.setWriteTime(parent, parentTime);
        model.setWriteTime(key, fileTimeNow());
    }
    // A copy made in part must not be saved.
    if (!result.ok()) model.failBatch();
    if (ownBatch) {
        const HiveResult committed = model.commitBatch();
        if (result.ok()) result = committed;
    }
    return result;
}

}  // namespace tovik::hive
