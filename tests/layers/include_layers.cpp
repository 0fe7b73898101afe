#include "include_layers.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>

namespace layers {
namespace {

namespace fs = std::filesystem;

// What each folder may include besides itself; a folder not named here may not be included by
// these, and tests/, bench/ and fuzz/ (which may include anything) by none.
const std::map<std::string, std::set<std::string>>& allowed() {
    static const std::set<std::string> kCore = {"backup",  "regfile",  "find",  "editors",  "compare",  "discover",
                                                "history", "registry", "files", "language", "resources"};
    static const std::set<std::string> kStores = {"stores", "stores/sqlite", "stores/wine", "stores/hive"};
    static const auto join = [](std::initializer_list<std::set<std::string>> sets) {
        std::set<std::string> all;
        for (const auto& s : sets) all.insert(s.begin(), s.end());
        return all;
    };
    static const std::map<std::string, std::set<std::string>> kAllowed = {
        {"language", {}},
        {"registry", {}},
        {"files", {}},
        {"resources", {}},
        {"editors", {"registry"}},
        {"regfile", {"registry"}},
        {"find", {"registry"}},
        {"discover", {"registry", "files", "language"}},
        {"history", {"registry", "language"}},
        {"backup", {"registry", "files", "regfile", "resources"}},
        {"compare", {"registry", "regfile", "backup"}},
        {"stores/sqlite", {"registry", "files", "language"}},
        {"stores/wine", {"registry", "files", "language"}},
        {"stores/hive", {"registry", "files", "language"}},
        {"stores", join({kCore, kStores})},
        {"ui", kCore},
        {"editors/gui", join({{"ui"}, kCore})},
        {"backup/gui", join({{"ui"}, kCore})},
        {"view", join({{"ui", "editors/gui", "backup/gui"}, kCore})},
        {"cli", join({kCore, kStores})},
        {"app", join({{"ui", "editors/gui", "backup/gui", "view"}, kCore, kStores})},
    };
    return kAllowed;
}

std::string folderOf(const fs::path& relative) {
    return relative.parent_path().generic_string();
}

bool isSource(const fs::path& p) {
    return p.extension() == ".cpp" || p.extension() == ".h";
}

}  // namespace

std::vector<std::string> findLayerViolations(const std::string& rootText) {
    const fs::path root(rootText);
    const std::regex includeLine(R"re(^\s*#\s*include\s*"([^"]+)")re");
    std::vector<std::string> problems;
    std::map<std::string, std::set<std::string>> folderEdges;   // folder -> folders it includes
    std::map<std::string, std::vector<std::string>> fileEdges;  // file -> files it includes
    for (const auto& [folder, allowed] : allowed()) {
        const fs::path dir = root / folder;
        if (!fs::is_directory(dir)) continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (!entry.is_regular_file() || !isSource(entry.path())) continue;
            const std::string file = fs::relative(entry.path(), root).generic_string();
            std::ifstream in(entry.path());
            std::string line;
            std::smatch match;
            while (std::getline(in, line)) {
                if (!std::regex_search(line, match, includeLine)) continue;
                const fs::path target(match[1].str());
                if (!fs::exists(root / target)) continue;  // generated or a neighbour's moc file
                const std::string targetFolder = folderOf(target);
                fileEdges[file].push_back(target.generic_string());
                if (targetFolder == folder) continue;
                folderEdges[folder].insert(targetFolder);
                if (!allowed.count(targetFolder))
                    problems.push_back(file + ": includes " + target.generic_string() + " of a layer " + folder +
                                       "/ may not use");
            }
        }
    }
    // Loops: among folders, and among files (two headers of one folder that include each other).
    const auto findLoops = [&problems](const auto& edges, const std::string& what) {
        std::map<std::string, int> state;  // 1 on the path, 2 done
        std::vector<std::string> path;
        std::function<void(const std::string&)> visit = [&](const std::string& node) {
            state[node] = 1;
            path.push_back(node);
            const auto it = edges.find(node);
            if (it != edges.end()) {
                for (const std::string& next : it->second) {
                    if (state[next] == 1) {
                        std::string loop = what + " loop:";
                        for (auto p = std::find(path.begin(), path.end(), next); p != path.end(); ++p)
                            loop += " " + *p + " ->";
                        problems.push_back(loop + " " + next);
                    } else if (state[next] == 0) {
                        visit(next);
                    }
                }
            }
            path.pop_back();
            state[node] = 2;
        };
        for (const auto& [node, targets] : edges)
            if (state[node] == 0) visit(node);
    };
    findLoops(folderEdges, "folder");
    findLoops(fileEdges, "file");
    return problems;
}

}  // namespace layers
