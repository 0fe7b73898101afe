#pragma once
// A backend that hands every call to another one, for tests that change one behaviour of a real
// store and keep the rest.
#include <memory>
#include <utility>

#include "registry/backend.h"

class ForwardingBackend : public tovik::Backend {
public:
    explicit ForwardingBackend(std::unique_ptr<tovik::Backend> inner) : inner_(std::move(inner)) {}

    bool readOnly() const override { return inner_->readOnly(); }
    tovik::KeyId rootKey(HKEY root) const override { return inner_->rootKey(root); }
    tovik::ChangeStamp changeStamp() override { return inner_->changeStamp(); }
    bool inTransaction() override { return inner_->inTransaction(); }
    bool keyExists(tovik::KeyId key) override { return inner_->keyExists(key); }
    tovik::KeyId findChild(tovik::KeyId parent, std::u16string_view name) override {
        return inner_->findChild(parent, name);
    }
    tovik::KeyId findChildNamed(tovik::KeyId parent, std::u16string_view name, std::u16string& storedName) override {
        return inner_->findChildNamed(parent, name, storedName);
    }
    void listSubkeys(tovik::KeyId key, std::size_t from, std::int64_t limit,
                     std::vector<tovik::SubkeyEntry>& out) override {
        inner_->listSubkeys(key, from, limit, out);
    }
    void listValues(tovik::KeyId key, std::size_t from, std::int64_t limit,
                    std::vector<tovik::ValueEntry>& out) override {
        inner_->listValues(key, from, limit, out);
    }
    bool readValueData(tovik::ValueId value, BYTE* buffer, DWORD size) override {
        return inner_->readValueData(value, buffer, size);
    }
    LONG createKeys(tovik::KeyId parent, std::size_t depth, std::span<const std::u16string_view> names,
                    tovik::KeyId& id, bool& created) override {
        return inner_->createKeys(parent, depth, names, id, created);
    }
    LONG setValue(tovik::KeyId key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) override {
        return inner_->setValue(key, name, type, data, size);
    }
    LONG deleteValue(tovik::KeyId key, std::u16string_view name) override { return inner_->deleteValue(key, name); }
    LONG deleteKey(tovik::KeyId key) override { return inner_->deleteKey(key); }
    LONG renameKey(tovik::KeyId key, std::u16string_view newName) override { return inner_->renameKey(key, newName); }
    LONG renameValue(tovik::KeyId key, std::u16string_view oldName, std::u16string_view newName) override {
        return inner_->renameValue(key, oldName, newName);
    }
    std::int64_t keyWriteTime(tovik::KeyId key) override { return inner_->keyWriteTime(key); }
    LONG beginBatch() override { return inner_->beginBatch(); }
    LONG commitBatch(bool beginAgain) override { return inner_->commitBatch(beginAgain); }
    bool beginSnapshot() override { return inner_->beginSnapshot(); }
    void endSnapshot() override { inner_->endSnapshot(); }

private:
    std::unique_ptr<tovik::Backend> inner_;
};
