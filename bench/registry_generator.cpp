#include "bench/registry_generator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "bench/text_utf8.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "registry/value_types.h"
#include "stores/open_store.h"

namespace tovik::bench {
namespace {

constexpr std::uint64_t kMaxKeys = 1'000'000'000;
constexpr std::uint64_t kMaxValues = 1'000'000'000;
constexpr std::uint32_t kMaxFanOut = 1'000'000;
constexpr std::uint32_t kMaxStringLength = 1'000'000;
constexpr std::uint32_t kMaxBinarySize = 16 * 1024 * 1024;
// Writes per transaction: large enough that commits cost little, small enough to keep the
// write-ahead log from growing without bound.
constexpr std::uint64_t kWritesPerCommit = 50'000;

// splitmix64: tiny, fast, and the same sequence on every platform (unlike std distributions).
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(((next() >> 32) * n) >> 32); }
    // Uniform in [mean - mean/4, mean + mean/4].
    std::uint32_t around(std::uint32_t mean) { return mean - mean / 4 + below(mean / 2 + 1); }

private:
    std::uint64_t state_;
};

// Each key draws from its own stream, so its content does not depend on the order of writing.
Rng keyRng(std::uint64_t seed, std::uint64_t keyIndex) {
    Rng mixer(seed ^ (keyIndex * 0xD1B54A32D192ED03ull));
    return Rng(mixer.next());
}

constexpr std::u16string_view kSyllables[] = {
    u"ka", u"ro", u"vel", u"min", u"tor", u"sa", u"lu",  u"den", u"ar",  u"qui",
    u"zo", u"pe", u"mar", u"lin", u"ost", u"ra", u"bex", u"ny",  u"cal", u"dor",
};

// Mostly ASCII, with a few letters beyond it so text conversions do real work.
constexpr std::u16string_view kTextAlphabet =
    u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \\.-_\u00E9\u00FC\u0416\u65E5";

void appendWord(std::u16string& out, Rng& rng) {
    const std::size_t start = out.size();
    const std::uint32_t count = 1 + rng.below(3);
    for (std::uint32_t i = 0; i < count; ++i) out += kSyllables[rng.below(std::size(kSyllables))];
    out[start] = static_cast<char16_t>(out[start] - u'a' + u'A');
}

void appendNumber(std::u16string& out, std::uint64_t n) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(n));
    for (int i = 0; i < length; ++i) out += static_cast<char16_t>(digits[i]);
}

// Random words then the ordinal among siblings: unique, and sorted differently from creation.
void makeName(std::u16string& out, Rng& rng, int words, std::uint64_t ordinal) {
    out.clear();
    for (int i = 0; i < words; ++i) appendWord(out, rng);
    out += u'_';
    appendNumber(out, ordinal);
}

void appendText(std::u16string& out, Rng& rng, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length; ++i) out += kTextAlphabet[rng.below(kTextAlphabet.size())];
}

std::u16string rootName(HKEY root) {
    return rootKeyName(root);
}

std::vector<std::u16string_view> splitPath(std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    while (!path.empty()) {
        const std::size_t cut = path.find(u'\\');
        parts.push_back(path.substr(0, cut));
        if (cut == std::u16string_view::npos) break;
        path.remove_prefix(cut + 1);
        if (path.empty()) parts.push_back(path);  // a trailing backslash: an empty last name
    }
    return parts;
}

// Writes keys and values, committing every kWritesPerCommit writes.
class Writer {
public:
    Writer(const GeneratorOptions& options, const GeneratorProgress& progress, GeneratorResult& result)
        : options_(options), progress_(progress), result_(result) {}

    bool run() {
        RegistryBatch batch;
        batch_ = &batch;
        HKEY base = options_.root;
        if (!options_.basePath.empty()) {
            const LONG rc =
                RegCreateKeyExW(options_.root, options_.basePath.c_str(), 0, nullptr, 0, 0, nullptr, &base, nullptr);
            if (rc != ERROR_SUCCESS) return fail("Cannot create the base key", options_.basePath, rc);
        }
        const bool ok = writeTree(base) && writeWideKeys(base) && commit();
        if (base != options_.root) RegCloseKey(base);
        if (ok && progress_) progress_(result_.keys, result_.values);
        return ok;
    }

private:
    struct Frame {
        std::uint64_t node;
        HKEY handle;
        std::uint32_t nextChild;
    };

    // Breadth-first numbering (children of node p are p * fanOut + 1 ...), written depth first so
    // that only the handles of one path are open at a time.
    bool writeTree(HKEY base) {
        const std::uint64_t keys = options_.keys;
        const std::uint64_t fanOut = options_.fanOut;
        std::vector<Frame> stack{{0, base, 0}};
        std::u16string name;
        while (!stack.empty()) {
            Frame& top = stack.back();
            const std::uint64_t child = top.node * fanOut + 1 + top.nextChild;
            if (top.nextChild >= fanOut || child > keys) {
                if (top.node != 0) RegCloseKey(top.handle);
                stack.pop_back();
                continue;
            }
            ++top.nextChild;
            const HKEY parent = top.handle;
            Rng rng = keyRng(options_.seed, child);
            makeName(name, rng, 2, (child - 1) % fanOut);
            HKEY key = 0;
            const LONG rc = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr);
            if (rc != ERROR_SUCCESS) {
                for (const Frame& frame : stack)
                    if (frame.node != 0) RegCloseKey(frame.handle);
                return fail("Cannot create the key", name, rc);
            }
            ++result_.keys;
            const std::uint64_t first = (child - 1) * options_.values / keys;
            const std::uint64_t end = child * options_.values / keys;
            bool ok = writeValues(key, rng, first, end - first) && counted();
            if (ok && child * fanOut + 1 <= keys) {
                stack.push_back({child, key, 0});
                continue;
            }
            RegCloseKey(key);
            if (!ok) {
                for (const Frame& frame : stack)
                    if (frame.node != 0) RegCloseKey(frame.handle);
                return false;
            }
        }
        return true;
    }

    bool writeWideKeys(HKEY base) {
        std::uint64_t firstValue = options_.values;
        for (std::size_t i = 0; i < options_.wideKeys.size(); ++i) {
            const std::uint32_t count = options_.wideKeys[i];
            const std::u16string name = wideKeyName(count);
            HKEY key = 0;
            const LONG rc = RegCreateKeyExW(base, name.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr);
            if (rc != ERROR_SUCCESS) return fail("Cannot create the key", name, rc);
            ++result_.keys;
            Rng rng = keyRng(options_.seed, options_.keys + 1 + i);
            const bool ok = writeValues(key, rng, firstValue, count) && counted();
            RegCloseKey(key);
            if (!ok) return false;
            firstValue += count;
        }
        return true;
    }

    // Values firstValue ... firstValue + count - 1 of the whole registry; the global index picks
    // the type so that every run of 100 values has the mix exactly.
    bool writeValues(HKEY key, Rng& rng, std::uint64_t firstValue, std::uint64_t count) {
        const TypeMix& mix = options_.mix;
        for (std::uint64_t i = 0; i < count; ++i) {
            makeName(name_, rng, 1, i);
            const int slot = static_cast<int>(((firstValue + i) * 37) % 100);
            DWORD type;
            if (slot < mix.sz) {
                type = REG_SZ;
                text_.clear();
                appendText(text_, rng, rng.around(options_.stringLength));
                data_ = stringToBytes(text_);
            } else if (slot < mix.sz + mix.dword) {
                type = REG_DWORD;
                data_ = dwordToBytes(rng.below(2) ? rng.below(1000) : static_cast<DWORD>(rng.next()));
            } else if (slot < mix.sz + mix.dword + mix.binary) {
                type = REG_BINARY;
                data_.resize(options_.binarySize);
                for (auto& byte : data_) byte = static_cast<std::uint8_t>(rng.next());
            } else {
                type = REG_MULTI_SZ;
                const std::uint32_t strings = 1 + rng.below(4);
                text_.clear();
                for (std::uint32_t s = 0; s < strings; ++s) {
                    if (s > 0) text_ += u'|';
                    appendText(text_, rng, rng.around(options_.stringLength / strings));
                }
                data_ = TextToMultiSz(text_);
            }
            const LONG rc = RegSetValueExW(key, name_.c_str(), 0, type, data_.data(), static_cast<DWORD>(data_.size()));
            if (rc != ERROR_SUCCESS) return fail("Cannot write the value", name_, rc);
            ++result_.values;
            result_.dataBytes += data_.size();
            if (!counted()) return false;
        }
        return true;
    }

    // Counts one write; commits and reports progress every kWritesPerCommit writes.
    bool counted() {
        if (++writes_ % kWritesPerCommit != 0) return true;
        if (!batch_->commit()) {
            result_.error = "The store refused to commit the registry written so far.";
            return false;
        }
        if (progress_) progress_(result_.keys, result_.values);
        return true;
    }

    bool commit() {
        if (batch_->commit()) return true;
        result_.error = "The store refused to commit the generated registry.";
        return false;
    }

    bool fail(const char* what, std::u16string_view name, LONG rc) {
        result_.error = std::string(what) + " \"" + toUtf8(name) + "\" (error " + std::to_string(rc) + ").";
        return false;
    }

    const GeneratorOptions& options_;
    const GeneratorProgress& progress_;
    GeneratorResult& result_;
    RegistryBatch* batch_ = nullptr;
    std::uint64_t writes_ = 0;
    std::u16string name_;
    std::u16string text_;
    Bytes data_;
};

}  // namespace

std::optional<GeneratorOptions> presetOptions(std::string_view name) {
    GeneratorOptions options;
    const std::string upper = [&] {
        std::string s(name);
        for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return s;
    }();
    if (upper == "S") {
        options.keys = 10'000;
        options.values = 100'000;
    } else if (upper == "M") {
        options.keys = 100'000;
        options.values = 1'000'000;
    } else if (upper == "L") {
        options.keys = 700'000;
        options.values = 1'200'000;
    } else if (upper == "W") {
        options.keys = 0;
        options.values = 0;
        options.wideKeys = {10'000, 100'000};
    } else {
        return std::nullopt;
    }
    return options;
}

std::uint32_t treeDepth(const GeneratorOptions& options) {
    if (options.keys == 0 || options.fanOut == 0) return 0;
    if (options.fanOut == 1) return static_cast<std::uint32_t>(std::min<std::uint64_t>(options.keys, UINT32_MAX));
    std::uint64_t capacity = 0, level = 1;
    std::uint32_t depth = 0;
    while (capacity < options.keys) {
        level = std::min(level * options.fanOut, options.keys);  // saturates: no overflow
        capacity += level;
        ++depth;
    }
    return depth;
}

std::uint32_t fanOutForDepth(std::uint64_t keys, std::uint32_t depth) {
    if (keys == 0 || depth == 0) return 1;
    GeneratorOptions probe;
    probe.keys = keys;
    std::uint64_t low = 1, high = std::min<std::uint64_t>(keys, kMaxFanOut);
    while (low < high) {
        const std::uint64_t mid = low + (high - low) / 2;
        probe.fanOut = static_cast<std::uint32_t>(mid);
        if (treeDepth(probe) <= depth)
            high = mid;
        else
            low = mid + 1;
    }
    return static_cast<std::uint32_t>(low);
}

std::string validateOptions(const GeneratorOptions& options) {
    if (rootKeyName(options.root)[0] == 0)
        return "The root must be HKEY_CLASSES_ROOT, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE.";
    std::size_t baseDepth = 0;
    if (!options.basePath.empty()) {
        for (const std::u16string_view part : splitPath(options.basePath)) {
            if (part.empty()) return "The base path has an empty key name (a doubled, leading or trailing backslash).";
            if (part.size() > static_cast<std::size_t>(kMaxKeyNameLength))
                return "A key name of the base path is longer than " + std::to_string(kMaxKeyNameLength) +
                       " characters.";
            ++baseDepth;
        }
    }
    if (options.keys > kMaxKeys) return "At most " + std::to_string(kMaxKeys) + " keys can be generated.";
    if (options.values > kMaxValues) return "At most " + std::to_string(kMaxValues) + " values can be generated.";
    if (options.values > 0 && options.keys == 0) return "Values need keys: give a number of keys above 0.";
    if (options.fanOut < 1 || options.fanOut > kMaxFanOut)
        return "The fan-out must be between 1 and " + std::to_string(kMaxFanOut) + ".";
    const TypeMix& mix = options.mix;
    if (mix.sz < 0 || mix.dword < 0 || mix.binary < 0 || mix.multiSz < 0 ||
        mix.sz + mix.dword + mix.binary + mix.multiSz != 100)
        return "The type mix must be four percentages (SZ, DWORD, BINARY, MULTI_SZ) that add up to 100.";
    if (options.stringLength > kMaxStringLength)
        return "The string length must be at most " + std::to_string(kMaxStringLength) + " characters.";
    if (options.binarySize > kMaxBinarySize)
        return "The binary size must be at most " + std::to_string(kMaxBinarySize) + " bytes.";
    std::set<std::uint32_t> seen;
    for (const std::uint32_t count : options.wideKeys) {
        if (!seen.insert(count).second) return "Each wide key needs a different number of values.";
        if (count > kMaxValues) return "A wide key can hold at most " + std::to_string(kMaxValues) + " values.";
    }
    const std::uint64_t depth =
        baseDepth + std::max<std::uint64_t>(treeDepth(options), options.wideKeys.empty() ? 0 : 1);
    if (depth > static_cast<std::uint64_t>(kMaxKeyDepth))
        return "The tree would be " + std::to_string(depth) + " levels deep; the store allows " +
               std::to_string(kMaxKeyDepth) + ". Give a larger fan-out.";
    return {};
}

std::string describeOptions(const GeneratorOptions& options) {
    std::string line = "tovik-gen " + std::to_string(kGeneratorVersion);
    line += " seed=" + std::to_string(options.seed);
    line += " root=" + toUtf8(rootName(options.root));
    line += " base=" + toUtf8(options.basePath);
    line += " keys=" + std::to_string(options.keys);
    line += " fan-out=" + std::to_string(options.fanOut);
    line += " values=" + std::to_string(options.values);
    line += " mix=" + std::to_string(options.mix.sz) + "/" + std::to_string(options.mix.dword) + "/" +
            std::to_string(options.mix.binary) + "/" + std::to_string(options.mix.multiSz);
    line += " string-length=" + std::to_string(options.stringLength);
    line += " binary-size=" + std::to_string(options.binarySize);
    line += " wide=";
    for (std::size_t i = 0; i < options.wideKeys.size(); ++i) {
        if (i > 0) line += ',';
        line += std::to_string(options.wideKeys[i]);
    }
    return line;
}

std::u16string wideKeyName(std::uint32_t valueCount) {
    std::u16string name = u"Wide";
    appendNumber(name, valueCount);
    return name;
}

GeneratorResult generateRegistry(const GeneratorOptions& options, const GeneratorProgress& progress) {
    GeneratorResult result;
    result.error = validateOptions(options);
    if (!result.error.empty()) return result;
    if (!hasRegistryStore()) {
        result.error = "No registry store is open.";
        return result;
    }
    result.ok = Writer(options, progress, result).run();
    return result;
}

GeneratorResult generateRegistryFile(const std::string& path, const GeneratorOptions& options,
                                     const GeneratorProgress& progress) {
    GeneratorResult result;
    result.error = validateOptions(options);
    if (!result.error.empty()) return result;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        result.error = "The file \"" + path + "\" exists already; the generator writes new stores only.";
        return result;
    }
    const std::string partial = path + ".partial";
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((partial + suffix).c_str());

    const StoreOpenResult opened = openRegistryStore(partial);
    if (!opened.ok) {
        result.error = opened.error;
        return result;
    }
    result = generateRegistry(options, progress);
    closeRegistryStore();
    if (result.ok && stat((partial + "-wal").c_str(), &st) == 0 && st.st_size > 0) {
        result.ok = false;
        result.error = "The store could not fold its write-ahead log into \"" + partial + "\".";
    }
    if (result.ok && std::rename(partial.c_str(), path.c_str()) != 0) {
        result.ok = false;
        result.error = "Cannot rename \"" + partial + "\" to \"" + path + "\": " + std::strerror(errno) + ".";
    }
    if (!result.ok)
        for (const char* suffix : {"", "-wal", "-shm"}) unlink((partial + suffix).c_str());
    return result;
}

}  // namespace tovik::bench
