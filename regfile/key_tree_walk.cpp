#include "regfile/key_tree_walk.h"

#include <algorithm>
#include <vector>

#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/value_types.h"

namespace tovik {

namespace {

// A buffer that keeps coming back too small means the value is being rewritten under us.
constexpr int kMaxGrowRetries = 16;

template <typename Buffer>
void Grow(Buffer& buffer, std::size_t needed) {
    buffer.resize(std::max(needed, buffer.size() * 2));
}

class Walk {
public:
    Walk(KeyTreeVisitor& visitor, KeyTreeWalkResult& result) : visitor_(visitor), result_(result) {}

    void Run(HKEY root, std::u16string_view path) {
        HKEY top = 0;
        if (RegOpenKeyExW(root, std::u16string(path).c_str(), 0, 0, &top) != ERROR_SUCCESS) {
            Fail(KeyTreeWalkOutcome::KeyNotOpened, std::u16string(path));
            return;
        }
        stack_.push_back({top, std::u16string(path), 0});
        if (!VisitKey(stack_.back())) return CloseAll();
        std::u16string name;
        while (!stack_.empty()) {
            Frame& frame = stack_.back();
            const LONG rc = EnumSubkey(frame.key, frame.nextSubkey, name);
            if (rc == ERROR_NO_MORE_ITEMS) {
                RegCloseKey(frame.key);
                stack_.pop_back();
                continue;
            }
            if (rc != ERROR_SUCCESS) {
                Fail(KeyTreeWalkOutcome::ReadFailed, frame.path);
                return CloseAll();
            }
            ++frame.nextSubkey;
            std::u16string childPath = frame.path.empty() ? name : frame.path + u'\\' + name;
            HKEY child = 0;
            if (RegOpenKeyExW(frame.key, name.c_str(), 0, 0, &child) != ERROR_SUCCESS) {
                Fail(KeyTreeWalkOutcome::ReadFailed, childPath);
                return CloseAll();
            }
            stack_.push_back({child, std::move(childPath), 0});
            if (!VisitKey(stack_.back())) return CloseAll();
        }
    }

private:
    struct Frame {
        HKEY key;
        std::u16string path;
        DWORD nextSubkey;
    };

    void Fail(KeyTreeWalkOutcome outcome, std::u16string path) {
        result_.outcome = outcome;
        result_.keyPath = std::move(path);
    }

    void CloseAll() {
        for (const Frame& frame : stack_) RegCloseKey(frame.key);
        stack_.clear();
    }

    LONG EnumSubkey(HKEY key, DWORD index, std::u16string& name) {
        for (int retries = 0;; ++retries) {
            DWORD length = static_cast<DWORD>(nameBuffer_.size());
            const LONG rc = RegEnumKeyExW(key, index, nameBuffer_.data(), &length, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_MORE_DATA && retries < kMaxGrowRetries) {
                Grow(nameBuffer_, std::size_t{length} + 1);
                continue;
            }
            if (rc == ERROR_SUCCESS) name.assign(nameBuffer_.data(), length);
            return rc;
        }
    }

    // The key, then each of its values; false when the walk ends here.
    bool VisitKey(const Frame& frame) {
        if (!visitor_.OnKey(frame.path)) return Stop();
        int retries = 0;
        for (DWORD index = 0;;) {
            DWORD nameLength = static_cast<DWORD>(nameBuffer_.size());
            DWORD dataSize = static_cast<DWORD>(data_.size());
            DWORD type = 0;
            const LONG rc = RegEnumValueW(frame.key, index, nameBuffer_.data(), &nameLength, nullptr, &type,
                                          data_.data(), &dataSize);
            if (rc == ERROR_NO_MORE_ITEMS) return true;
            if (rc == ERROR_MORE_DATA && ++retries <= kMaxGrowRetries) {
                const bool nameShort = std::size_t{nameLength} + 1 > nameBuffer_.size();
                const bool dataShort = dataSize > data_.size();
                if (nameShort) Grow(nameBuffer_, std::size_t{nameLength} + 1);
                if (dataShort || !nameShort) Grow(data_, dataSize);
                continue;
            }
            if (rc != ERROR_SUCCESS) {
                Fail(KeyTreeWalkOutcome::ReadFailed, frame.path);
                return false;
            }
            if (!visitor_.OnValue(std::u16string_view(nameBuffer_.data(), nameLength), type, data_.data(), dataSize))
                return Stop();
            retries = 0;
            ++index;
        }
    }

    bool Stop() {
        result_.outcome = KeyTreeWalkOutcome::Stopped;
        return false;
    }

    KeyTreeVisitor& visitor_;
    KeyTreeWalkResult& result_;
    std::vector<Frame> stack_;
    std::u16string nameBuffer_ = std::u16string(256, u'\0');
    Bytes data_ = Bytes(4096);
};

}  // namespace

KeyTreeWalkResult WalkKeyTree(HKEY root, std::u16string_view path, KeyTreeVisitor& visitor) {
    KeyTreeWalkResult result;
    const RegistryReadSnapshot snapshot;
    Walk(visitor, result).Run(root, path);
    return result;
}

}  // namespace tovik
