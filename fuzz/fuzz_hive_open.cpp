// Opens the input as a hive file and walks every key and value, as the tree and the value list
// show them: a damaged or hostile hive must end with a sentence, never a crash or a hang, and
// the data read never exceeds a small multiple of the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "stores/hive/hive_model.h"

namespace {

using tovik::hive::HiveModel;
using tovik::hive::HiveResult;
using tovik::hive::HiveValue;
using tovik::hive::NodeId;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

struct Walk {
    std::size_t keys = 0;
    std::size_t bytes = 0;
};

void walkKey(HiveModel& model, NodeId key, Walk& walk) {
    if (++walk.keys > 4096) return;
    std::size_t count = 0;
    HiveResult result = model.valueCount(key, count);
    for (std::size_t i = 0; result.ok() && i < count; ++i) {
        const HiveValue* value = nullptr;
        result = model.valueAt(key, i, value);
        if (result.ok()) walk.bytes += value->data.size();
    }
    if (!result.ok()) check(!result.message.empty(), "a failure has a sentence");
    if (!model.subkeyCount(key, count).ok()) return;
    for (std::size_t i = 0; i < count; ++i) {
        NodeId child = 0;
        const HiveResult found = model.subkeyAt(key, i, child);
        if (!found.ok()) return;
        check(model.parent(child) == key, "a subkey's parent is the key that lists it");
        NodeId again = 0;
        check(model.findChild(key, model.name(child), again).ok(), "a listed subkey is found by its name");
        walkKey(model, child, walk);
    }
}

std::string scratchPath() {
    char pattern[] = "/tmp/fuzz-hive-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd >= 0) ::close(fd);
    return pattern;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = scratchPath();
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    HiveResult opened;
    std::unique_ptr<HiveModel> model = HiveModel::open(path, {}, opened);
    if (!model) {
        check(!opened.message.empty(), "a refused hive has a sentence");
        return 0;
    }
    Walk walk;
    walkKey(*model, model->root(), walk);
    check(walk.bytes <= 2 * size + (1u << 20), "values hold no more data than the file can");
    return 0;
}
