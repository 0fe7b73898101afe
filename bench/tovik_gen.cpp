// tovik-gen: writes a synthetic registry into a new store file, for benchmarks and for trying
// Tovik on a registry of a desktop's size.
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "bench/registry_generator.h"
#include "bench/text_utf8.h"
#include "registry/key_path.h"

namespace {

using tovik::bench::GeneratorOptions;

constexpr const char* kUsage = R"(Usage: tovik-gen [OPTIONS] FILE

Writes a synthetic registry into FILE, a new registry store (an existing file is refused).
The same options always give the same registry.

  --preset NAME         start from a workload: S (10,000 keys, 100,000 values), M (100,000 keys,
                        1,000,000 values), L (700,000 keys, 1,200,000 values) or W (only the
                        wide keys Wide10000 and Wide100000); later options change it
  --seed N              seed of the random content (default 1)
  --keys N              keys of the tree (default 10000)
  --fan-out N           subkeys per key, levels filled breadth first (default 10)
  --depth N             instead of --fan-out: the smallest fan-out that fits the keys in N levels
  --values N            values in all, spread evenly over the keys (default 100000)
  --values-per-key N    instead of --values: N values in every key
  --mix SZ,DW,BIN,MLT   percentages of REG_SZ, REG_DWORD, REG_BINARY, REG_MULTI_SZ (default 40,30,20,10)
  --string-length N     mean characters of a string value (default 30)
  --binary-size N       bytes of a binary value (default 16)
  --root KEY            where the tree goes: HKLM, HKCU or HKCR (or the long names), optionally
                        followed by \PATH (default HKEY_LOCAL_MACHINE)
  --wide N              one more key, WideN, next to the tree's top keys, with N values
                        (repeatable)
  --force               replace FILE if it exists
  --quiet               no progress on stderr
  --help                this text

Exit status: 0 on success, 1 on failure, 2 on a usage error.
)";

bool parseNumber(std::string_view text, std::uint64_t& out) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool parseNumber32(std::string_view text, std::uint32_t& out) {
    std::uint64_t wide = 0;
    if (!parseNumber(text, wide) || wide > UINT32_MAX) return false;
    out = static_cast<std::uint32_t>(wide);
    return true;
}

bool parseMix(std::string_view text, tovik::bench::TypeMix& mix) {
    int* fields[] = {&mix.sz, &mix.dword, &mix.binary, &mix.multiSz};
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t cut = text.find(',');
        if ((i < 3) == (cut == std::string_view::npos)) return false;
        std::uint32_t percent = 0;
        if (!parseNumber32(text.substr(0, cut), percent) || percent > 100) return false;
        *fields[i] = static_cast<int>(percent);
        text.remove_prefix(i < 3 ? cut + 1 : text.size());
    }
    return true;
}

bool parseRoot(std::string_view text, GeneratorOptions& options) {
    const tovik::ParsedKeyPath key = tovik::parseKeyPath(tovik::bench::toUtf16(text));
    if (!key.ok()) return false;
    options.root = key.root;
    options.basePath = key.path;
    return true;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "tovik-gen: %s\nTry 'tovik-gen --help'.\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    GeneratorOptions options;
    std::string file;
    bool force = false, quiet = false;
    std::uint64_t valuesPerKey = 0;
    std::uint32_t depth = 0;
    bool haveValuesPerKey = false;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--force") {
            force = true;
            continue;
        }
        if (arg == "--quiet") {
            quiet = true;
            continue;
        }
        if (arg.size() > 2 && arg.substr(0, 2) == "--") {
            if (i + 1 >= argc) return usageError("option " + std::string(arg) + " needs a value.");
            const std::string_view value = argv[++i];
            bool good = true;
            if (arg == "--preset") {
                const auto preset = tovik::bench::presetOptions(value);
                good = preset.has_value();
                if (good) options = *preset;
            } else if (arg == "--seed")
                good = parseNumber(value, options.seed);
            else if (arg == "--keys")
                good = parseNumber(value, options.keys);
            else if (arg == "--fan-out")
                good = parseNumber32(value, options.fanOut) && options.fanOut > 0;
            else if (arg == "--depth")
                good = parseNumber32(value, depth) && depth > 0;
            else if (arg == "--values")
                good = parseNumber(value, options.values);
            else if (arg == "--values-per-key")
                good = haveValuesPerKey = parseNumber(value, valuesPerKey);
            else if (arg == "--mix")
                good = parseMix(value, options.mix);
            else if (arg == "--string-length")
                good = parseNumber32(value, options.stringLength);
            else if (arg == "--binary-size")
                good = parseNumber32(value, options.binarySize);
            else if (arg == "--root")
                good = parseRoot(value, options);
            else if (arg == "--wide") {
                std::uint32_t count = 0;
                good = parseNumber32(value, count);
                if (good) options.wideKeys.push_back(count);
            } else
                return usageError("unknown option " + std::string(arg) + ".");
            if (!good) return usageError("bad value \"" + std::string(value) + "\" for " + std::string(arg) + ".");
            continue;
        }
        if (!file.empty()) return usageError("only one FILE can be given.");
        file = arg;
    }
    if (file.empty()) return usageError("no FILE was given.");
    if (depth > 0) options.fanOut = tovik::bench::fanOutForDepth(options.keys, depth);
    if (haveValuesPerKey) {
        if (options.keys > 0 && valuesPerKey > UINT64_MAX / options.keys) return usageError("too many values.");
        options.values = options.keys * valuesPerKey;
    }
    if (const std::string problem = tovik::bench::validateOptions(options); !problem.empty())
        return usageError(problem);

    if (force) {
        for (const char* suffix : {"", "-wal", "-shm"}) std::remove((file + suffix).c_str());
    }
    const bool terminal = isatty(STDERR_FILENO);  // progress only where it can be redrawn
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t totalValues = options.values + [&] {
        std::uint64_t sum = 0;
        for (const std::uint32_t count : options.wideKeys) sum += count;
        return sum;
    }();
    auto progress = [&](std::uint64_t keys, std::uint64_t values) {
        if (quiet || !terminal) return;
        std::fprintf(stderr, "\r%llu keys, %llu of %llu values", static_cast<unsigned long long>(keys),
                     static_cast<unsigned long long>(values), static_cast<unsigned long long>(totalValues));
    };
    const tovik::bench::GeneratorResult result = tovik::bench::generateRegistryFile(file, options, progress);
    if (!quiet && terminal) std::fputc('\n', stderr);
    if (!result.ok) {
        std::fprintf(stderr, "tovik-gen: %s\n", result.error.c_str());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!quiet) {
        std::fprintf(stderr, "%s\n%s: %llu keys, %llu values, %llu data bytes in %.1f s\n",
                     tovik::bench::describeOptions(options).c_str(), file.c_str(),
                     static_cast<unsigned long long>(result.keys), static_cast<unsigned long long>(result.values),
                     static_cast<unsigned long long>(result.dataBytes), seconds);
    }
    return 0;
}
