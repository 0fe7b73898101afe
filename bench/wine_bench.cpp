#include "bench/wine_bench.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "bench/child_process.h"
#include "bench/registry_generator.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "view/tovik_view.h"

namespace tovik::bench {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kRootItems = 3;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

StoreOpenResult openPrefix(const std::string& dir) {
    RegistrySource source;
    source.kind = RegistrySource::Kind::WinePrefix;
    source.path = dir;
    return openRegistry(source);
}

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A prefix as wineboot makes it, made once (about a minute) and kept; empty when Wine is missing
// or fails, with why.
std::string freshPrefix(const std::string& dataDir, std::string& why) {
    const std::string dir = dataDir + "/wine-fresh";
    if (fs::exists(dir + "/system.reg") && fs::exists(dir + "/user.reg") && fs::exists(dir + "/.made")) return dir;
    if (std::system("command -v wineboot >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1") != 0) {
        why = "Wine is not installed (wineboot makes the fresh prefix)";
        return {};
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    std::fprintf(stderr, "  making a fresh Wine prefix in %s (about a minute)...\n", dir.c_str());
    const std::string env = "env -u DISPLAY WINEDEBUG=-all WINEPREFIX=" + shellQuoted(dir) + " ";
    // wineserver -k fails when the server has ended already; only the files tell.
    (void)!std::system(
        (env + "wineboot -i >/dev/null 2>&1; " + env + "wineserver -k 2>/dev/null; " + env + "wineserver -w").c_str());
    if (!fs::exists(dir + "/system.reg") || !fs::exists(dir + "/user.reg")) {
        why = "wineboot -i did not make a prefix";
        return {};
    }
    std::ofstream(dir + "/.made") << "made by tovik-bench\n";
    return dir;
}

// A prefix whose system.reg holds workload M, written through the Wine backend; kept while the
// generator would make the same registry.
std::string generatedPrefix(const std::string& dataDir, bool regenerate, GeneratorOptions& options, std::string& why) {
    options = *presetOptions("M");
    const std::string dir = dataDir + "/wine-M";
    const std::string stamp = describeOptions(options) + "\n";
    if (!regenerate && readAll(dir + "/stamp") == stamp) return dir;
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    fs::create_directories(dir, ignored);
    std::ofstream(dir + "/system.reg")
        << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
    std::ofstream(dir + "/user.reg")
        << "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n";
    const StoreOpenResult opened = openPrefix(dir);
    if (!opened.ok) {
        why = opened.error;
        return {};
    }
    std::fprintf(stderr, "  generating workload M into %s/system.reg...\n", dir.c_str());
    const GeneratorResult result = generateRegistry(options);
    closeRegistryStore();
    if (!result.ok) {
        why = result.error;
        return {};
    }
    std::ofstream(dir + "/stamp") << stamp;
    return dir;
}

std::uint64_t fileBytes(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : static_cast<std::uint64_t>(size);
}

std::string sizeLabel(const std::string& name, const std::string& dir) {
    char text[96];
    std::snprintf(text, sizeof text, "%s, %.1f MB of .reg", name.c_str(),
                  (fileBytes(dir + "/system.reg") + fileBytes(dir + "/user.reg")) / 1e6);
    return text;
}

void timeFreshPrefix(BenchRunner& runner, const std::string& dataDir) {
    std::string why;
    const std::string dir = freshPrefix(dataDir, why);
    const std::string label = dir.empty() ? std::string("fresh Wine prefix") : sizeLabel("fresh Wine prefix", dir);
    if (dir.empty()) {
        runner.skip({"open Wine prefix + fill tree", label, "keys", 0, false}, why);
        return;
    }
    // The number of keys the tree shows, counted once, so that every run is checked against it.
    std::uint64_t keys = 0;
    if (openPrefix(dir).ok) {
        CTovikView view;
        view.resize(240, 294);
        view.OnInitialUpdate();
        keys = view.treeModel().itemCount() - kRootItems;
        closeRegistryStore();
    }
    const CaseSpec spec{"open Wine prefix + fill tree", label, "keys", keys};
    runner.run(spec, [&](Stopwatch& watch) {
        CTovikView view;
        view.resize(240, 294);
        watch.start();
        const StoreOpenResult opened = openPrefix(dir);
        if (opened.ok) view.OnInitialUpdate();
        watch.stop();
        const std::uint64_t items = opened.ok ? view.treeModel().itemCount() - kRootItems : 0;
        closeRegistryStore();
        if (!opened.ok) return RunResult::failed(opened.error);
        return RunResult{items, {}};
    });
}

void timeLargeSystemReg(BenchRunner& runner, const std::string& dataDir, bool regenerate) {
    GeneratorOptions options;
    std::string why;
    const std::string dir = generatedPrefix(dataDir, regenerate, options, why);
    const std::string label = dir.empty() ? std::string("M as system.reg") : sizeLabel("M as system.reg", dir);
    const std::uint64_t bytes = fileBytes(dir + "/system.reg");
    const CaseSpec open{"open Wine prefix (read, parse)", label, "bytes", bytes};
    const CaseSpec save{"save system.reg after one change", label, "bytes", bytes};
    if (dir.empty()) {
        runner.skip(open, why);
        runner.skip(save, why);
        return;
    }
    runner.run(open, [&](Stopwatch& watch) {
        watch.start();
        const StoreOpenResult opened = openPrefix(dir);
        watch.stop();
        closeRegistryStore();
        return opened.ok ? RunResult{bytes, {}} : RunResult::failed(opened.error);
    });
    // One value set outside a batch: the whole file is written beside the old one, synced and
    // renamed over it. The warm-up makes the one backup copy, so the timed runs only save.
    const StoreOpenResult opened = openPrefix(dir);
    if (!opened.ok) {
        runner.skip(save, opened.error);
        return;
    }
    DWORD counter = 0;
    runner.run(save, [&](Stopwatch& watch) {
        ++counter;
        watch.start();
        const LONG rc = RegSetValueExW(HKEY_LOCAL_MACHINE, u"TovikBenchCounter", 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&counter), sizeof counter);
        watch.stop();
        if (rc != ERROR_SUCCESS) return RunResult::failed("the save failed with error " + std::to_string(rc));
        return RunResult{bytes, {}};
    });
    closeRegistryStore();
}

// A prefix whose user.reg holds `count` sibling keys under one key, in name order or reversed
// (files that other tools or hands wrote); made once and kept.
std::string siblingsPrefix(const std::string& dataDir, std::size_t count, bool reversed) {
    const std::string dir = dataDir + "/wine-siblings-" + std::to_string(count) + (reversed ? "-reversed" : "-sorted");
    if (fs::exists(dir + "/.made")) return dir;
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    std::ofstream(dir + "/system.reg")
        << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
    std::string user =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n";
    char line[96];
    for (std::size_t i = 0; i < count; ++i) {
        // Zero-padded, so that name order is number order.
        std::snprintf(line, sizeof line, "\n[Software\\\\Siblings\\\\K%07zu] 1700000000\n\"v\"=dword:00000001\n",
                      reversed ? count - 1 - i : i);
        user += line;
    }
    std::ofstream(dir + "/user.reg", std::ios::binary) << user;
    std::ofstream(dir + "/.made") << "made by tovik-bench\n";
    return dir;
}

void timeSiblingOrder(BenchRunner& runner, const std::string& dataDir) {
    constexpr std::size_t kSiblings = 200000;
    for (const bool reversed : {false, true}) {
        const std::string dir = siblingsPrefix(dataDir, kSiblings, reversed);
        const std::string label = sizeLabel(reversed ? "200,000 siblings reversed" : "200,000 siblings in order", dir);
        const CaseSpec spec{"open Wine prefix (read, parse)", label, "keys", kSiblings};
        runner.run(spec, [&](Stopwatch& watch) {
            watch.start();
            const StoreOpenResult opened = openPrefix(dir);
            watch.stop();
            closeRegistryStore();
            return opened.ok ? RunResult{kSiblings, {}} : RunResult::failed(opened.error);
        });
    }
}

// Peak resident memory of tovik-reg reading a user.reg of 1,000,000 keys of one line each, the
// densest in keys a Wine file gets: the model's cost per key against the file's size.
void measureDenseKeys(BenchRunner& runner, const std::string& dataDir) {
    constexpr std::size_t kKeys = 1000000;
    CaseSpec spec{"tovik-reg --wine-prefix query (peak memory)",
                  "1,000,000 one-line keys",
                  "keys",
                  kKeys,
                  false,
                  "MB peak resident"};
    if (!runner.wanted(spec)) return;
    std::error_code ec;
    const std::string self = fs::read_symlink("/proc/self/exe", ec).string();
    const std::string dir = dataDir + "/wine-dense-keys";
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    std::ofstream(dir + "/system.reg")
        << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
    {
        std::ofstream user(dir + "/user.reg", std::ios::binary);
        user << "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n";
        char line[32];
        for (std::size_t i = 0; i < kKeys; ++i) {
            const int n = std::snprintf(line, sizeof line, "\n[K%07zu] 1\n", i);
            user.write(line, n);
        }
    }
    const double fileMb = fileBytes(dir + "/user.reg") / 1e6;
    spec.workload = sizeLabel(spec.workload, dir);
    spec.figureBase = fileMb;
    spec.figureBaseName = "the file";
    const std::vector<std::string> argv = {TOVIK_REG_PATH, "--wine-prefix", dir, "query", "HKCU\\K0000000"};
    runner.run(spec, [&](Stopwatch& watch) {
        std::uint64_t peakKib = 0;
        watch.start();
        const ChildOutcome outcome = runMeasuringPeakMemory(self, argv, peakKib);
        watch.stop();
        if (!outcome.succeeded()) {
            return RunResult::failed(
                outcome.ran ? "exit " + std::to_string(outcome.exitCode) + ": " + outcome.errorOutput : outcome.error);
        }
        return RunResult{kKeys, {}, peakKib * 1024.0 / 1e6};
    });
    fs::remove_all(dir, ec);
}

}  // namespace

void timeWinePrefixes(BenchRunner& runner, const std::string& dataDir, bool regenerate) {
    timeFreshPrefix(runner, dataDir);
    timeLargeSystemReg(runner, dataDir, regenerate);
    timeSiblingOrder(runner, dataDir);
    measureDenseKeys(runner, dataDir);
}

}  // namespace tovik::bench
