#pragma once
// Checks the records a hivex write will release or follow before the write is handed to hivex.
// hivex checks what it reads, but asserts that every block it releases is a block in use and
// follows some links without looking (a value's data block, a class name, the neighbours of a
// security record it frees): a damaged hive would abort the process in the middle of a write.
//
// The guard holds the bytes hivex loaded and follows what the writes made since then changed:
// the blocks they released, the keys whose values or subkey lists hivex wrote anew, the keys
// hivex created (all past the end of the loaded pages, where hivex allocates) and the security
// records' counts and links. What hivex wrote itself is trusted; the rest is read from the bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "language/messages.h"

namespace tovik::hive {

class HiveWriteGuard {
public:
    // What one write releases and changes; made by a check, applied once hivex made the write.
    struct Change {
        std::vector<std::uint64_t> released;
        std::uint64_t valuesRewritten = 0;  // a key whose values hivex writes anew
        std::uint64_t listRewritten = 0;    // a key whose subkey list hivex writes anew
        std::uint64_t securityAdded = 0;    // a security record one more key uses
        std::uint64_t securityDropped = 0;  // a security record one key less uses
        std::uint64_t removedKey = 0;
    };

    // bytes: the file exactly as hivex read it.
    void load(std::string bytes);
    void clear();
    bool loaded() const { return loaded_; }

    // Each returns an empty string when hivex can make the write, else where and how the hive is
    // damaged ("at 0x2040: a value's data is not a block in use").
    std::string checkSetValues(std::uint64_t key, Change& change) const;
    std::string checkAddChild(std::uint64_t parent, Change& change) const;
    std::string checkDeleteChild(std::uint64_t key, std::uint64_t parent, Change& change) const;

    void apply(const Change& change);
    // A key hivex created below parent (it takes the parent's security record).
    void created(std::uint64_t parent, std::uint64_t key);

private:
    struct Security {
        std::uint32_t references = 0;
        std::uint64_t previous = 0;
        std::uint64_t next = 0;
    };

    bool fresh(std::uint64_t offset) const { return offset >= freshFrom_; }
    bool inUse(std::uint64_t offset) const;
    std::size_t blockLength(std::uint64_t offset) const;
    std::uint32_t u32(std::uint64_t offset) const;
    std::uint16_t u16(std::uint64_t offset) const;
    bool hasId(std::uint64_t offset, const char* id) const;
    std::string record(std::uint64_t offset, const char* id, std::size_t minimum, const Message& what) const;
    std::string valueBlocks(std::uint64_t key, std::vector<std::uint64_t>& released) const;
    std::string subkeyLists(std::uint64_t key, std::uint64_t wanted, bool& linked) const;
    std::string securityOf(std::uint64_t key, std::uint64_t& security) const;
    Security security(std::uint64_t offset) const;

    bool loaded_ = false;
    std::string fileDamage_;  // damage of the whole file that no write may go past
    std::string bytes_;
    std::vector<bool> used_;       // by offset / 4, as hivex marks blocks in use on open
    std::uint64_t freshFrom_ = 0;  // hivex allocates new pages from here on
    std::unordered_set<std::uint64_t> released_;
    std::unordered_set<std::uint64_t> valuesRewritten_;
    std::unordered_set<std::uint64_t> listsRewritten_;
    std::unordered_map<std::uint64_t, std::uint64_t> createdSecurity_;  // a created key's record
    std::unordered_map<std::uint64_t, Security> securities_;            // changed since loading
};

}  // namespace tovik::hive
