#include "regfile/key_tree_walk.h"

#include <vector>

#include "registry/key_enum.h"
#include "registry/key_handle.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/value_types.h"

namespace tovik {

namespace {

class Walk {
public:
    Walk(KeyTreeVisitor& visitor, KeyTreeWalkResult& result) : visitor_(visitor), result_(result) {}

    void run(HKEY root, std::u16string_view path) {
        KeyHandle top;
        if (RegOpenKeyExW(root, std::u16string(path).c_str(), 0, 0, top.receive()) != ERROR_SUCCESS) {
            fail(KeyTreeWalkOutcome::KeyNotOpened, std::u16string(path));
            return;
        }
        stack_.push_back({std::move(top), std::u16string(path), 0});
        if (!visitKey(stack_.back())) return closeAll();
        std::u16string name;
        while (!stack_.empty()) {
            Frame& frame = stack_.back();
            std::u16string_view found;
            const LONG rc = enumSubkeyName(frame.key.get(), frame.nextSubkey, buffers_, found);
            if (rc == ERROR_NO_MORE_ITEMS) {
                stack_.pop_back();
                continue;
            }
            if (rc != ERROR_SUCCESS) {
                fail(KeyTreeWalkOutcome::ReadFailed, frame.path);
                return closeAll();
            }
            name.assign(found);
            ++frame.nextSubkey;
            std::u16string childPath = frame.path.empty() ? name : frame.path + u'\\' + name;
            KeyHandle child;
            if (RegOpenKeyExW(frame.key.get(), name.c_str(), 0, 0, child.receive()) != ERROR_SUCCESS) {
                fail(KeyTreeWalkOutcome::ReadFailed, childPath);
                return closeAll();
            }
            stack_.push_back({std::move(child), std::move(childPath), 0});
            if (!visitKey(stack_.back())) return closeAll();
        }
    }

private:
    struct Frame {
        KeyHandle key;
        std::u16string path;
        DWORD nextSubkey;
    };

    void fail(KeyTreeWalkOutcome outcome, std::u16string path) {
        result_.outcome = outcome;
        result_.keyPath = std::move(path);
    }

    void closeAll() { stack_.clear(); }

    // The key, then each of its values; false when the walk ends here.
    bool visitKey(const Frame& frame) {
        if (!visitor_.OnKey(frame.path)) return stop();
        EnumeratedValue value;
        for (DWORD index = 0;; ++index) {
            const LONG rc = enumValue(frame.key.get(), index, buffers_, value);
            if (rc == ERROR_NO_MORE_ITEMS) return true;
            if (rc != ERROR_SUCCESS) {
                fail(KeyTreeWalkOutcome::ReadFailed, frame.path);
                return false;
            }
            if (!visitor_.OnValue(value.name, value.type, value.data, value.size)) return stop();
        }
    }

    bool stop() {
        result_.outcome = KeyTreeWalkOutcome::Stopped;
        return false;
    }

    KeyTreeVisitor& visitor_;
    KeyTreeWalkResult& result_;
    std::vector<Frame> stack_;
    EnumBuffers buffers_;
};

}  // namespace

KeyTreeWalkResult walkKeyTree(HKEY root, std::u16string_view path, KeyTreeVisitor& visitor) {
    KeyTreeWalkResult result;
    const RegistryReadSnapshot snapshot;
    Walk(visitor, result).run(root, path);
    return result;
}

}  // namespace tovik
