#include "bench/gui_startup.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/main_frame.h"
#include "app/tovik_app.h"
#include "bench/bench_runner.h"
#include "registry/registry_store.h"
#include "ui/prompts.h"
#include "view/tovik_view.h"

namespace tovik::bench {
namespace {

namespace fs = std::filesystem;

// A start that has not ended by then is stuck (a real dialog waiting for a click, say): the alarm
// ends it, and the parent reports the signal.
constexpr unsigned kChildTimeLimitSeconds = 300;

// The caution and any other message box get OK at once; nothing is confirmed that could change
// the store, and no file or modal dialog is accepted.
class AnswerOkPrompts : public ViewPrompts {
public:
    int messageBox(QWidget*, const QString&, MessageButtons buttons) override {
        return buttons == MessageButtons::Ok ? IDOK : IDNO;
    }
    QString saveFileName(QWidget*, const QString&, QString*) override { return {}; }
    QString openFileName(QWidget*, const QString&) override { return {}; }
    int DoModal(QDialog&) override { return IDCANCEL; }
};

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "start-up child: %s\n", why);
    std::fflush(stderr);
    _exit(1);
}

}  // namespace

std::string makeStartupFolder(const std::string& store, std::string& error) {
    std::error_code ec;
    const fs::path target = fs::absolute(store, ec);
    std::string pattern = (fs::temp_directory_path(ec) / "tovik-bench-start-XXXXXX").string();
    if (ec || ::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot create a temporary folder";
        return {};
    }
    const fs::path folder = pattern;
    const fs::path link = folder / "data" / "tovik" / "registry.db";
    bool made = fs::create_directories(link.parent_path(), ec) && !ec;
    for (const char* sub : {"runtime", "tmp"}) {
        made = made && fs::create_directory(folder / sub, ec) && !ec;
        if (made) fs::permissions(folder / sub, fs::perms::owner_all, ec);
    }
    if (made) fs::create_symlink(target, link, ec);
    if (!made || ec) {
        error = "cannot prepare " + folder.string() + (ec ? ": " + ec.message() : std::string());
        removeStartupFolder(folder.string());
        return {};
    }
    return folder.string();
}

void removeStartupFolder(const std::string& folder) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);  // removes the link, never the store it points to
}

void runStartupChild(const std::string& folder) {
    alarm(kChildTimeLimitSeconds);
    // The folder stands in for the user's data folder and for the places the single-instance
    // lock and socket (QDir::tempPath) and Qt's runtime files go.
    setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (folder + "/runtime").c_str(), 1);
    setenv("TMPDIR", (folder + "/tmp").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    static int argc = 1;
    static char name[] = "tovik";
    static char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tovik"));
    applyInterfaceFont();
    CTovikApp app;
    app.setPrompts(std::make_unique<AnswerOkPrompts>());
    if (!app.initInstance() || !app.mainFrame()) fail("the browser did not start");

    const std::uint64_t items = app.mainFrame()->view()->treeModel().itemCount();
    const std::uint64_t peakKb = peakResidentKb();
    std::printf("items %llu\npeak_resident_kb %llu\n", static_cast<unsigned long long>(items),
                static_cast<unsigned long long>(peakKb));
    std::fflush(stdout);
    // Closing lets SQLite remove the store's -wal and -shm files; the rest of the teardown is of no
    // interest, so the process ends without it.
    tovik::closeRegistryStore();
    _exit(0);
}

std::optional<StartupReport> parseStartupReport(std::string_view text) {
    StartupReport report;
    bool haveItems = false, haveMemory = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, space), number = line.substr(space + 1);
        std::uint64_t value = 0;
        const auto [rest, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (ec != std::errc() || rest != number.data() + number.size()) return std::nullopt;
        if (key == "items") {
            report.treeItems = value;
            haveItems = true;
        } else if (key == "peak_resident_kb") {
            report.peakResidentKb = value;
            haveMemory = true;
        }
    }
    if (!haveItems || !haveMemory) return std::nullopt;
    return report;
}

}  // namespace tovik::bench
