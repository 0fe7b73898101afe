// The layers of the source tree: no include points upward, no folders or files include each other
// in a loop. Checked on the real tree, and on small made-up trees so that the check itself is seen
// to find what it looks for.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "include_layers.h"

namespace {

namespace fs = std::filesystem;

class MadeUpTree : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tovik-layers-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }
    void write(const std::string& file, const std::string& text) {
        fs::create_directories((root_ / file).parent_path());
        std::ofstream(root_ / file) << text;
    }
    fs::path root_;
};

TEST(IncludeLayers, TheSourceTreeKeepsItsLayers) {
    EXPECT_THAT(layers::findLayerViolations(TOVIK_SOURCE_DIR), ::testing::IsEmpty());
}

TEST_F(MadeUpTree, DownwardIncludesPassAndAnUpwardOneIsReported) {
    write("registry/win_types.h", "#pragma once\n");
    write("editors/edit_buffer.h", "#include \"registry/win_types.h\"\n");
    write("ui/qt_text.h", "#pragma once\n");
    write("editors/gui/dialog.cpp", "#include \"ui/qt_text.h\"\n#include \"editors/edit_buffer.h\"\n");
    EXPECT_THAT(layers::findLayerViolations(root_.string()), ::testing::IsEmpty());

    write("registry/registry_api.cpp", "#include <vector>\n  #  include \"stores/sqlite/sqlite_db.h\"\n");
    write("stores/sqlite/sqlite_db.h", "#pragma once\n");
    write("backup/import_confirm_dlg.cpp", "#include \"ui/qt_text.h\"\n");
    EXPECT_THAT(layers::findLayerViolations(root_.string()),
                ::testing::UnorderedElementsAre(
                    ::testing::HasSubstr("registry/registry_api.cpp: includes stores/sqlite/sqlite_db.h"),
                    ::testing::HasSubstr("backup/import_confirm_dlg.cpp: includes ui/qt_text.h")));
}

TEST_F(MadeUpTree, FoldersOrFilesThatIncludeEachOtherAreALoop) {
    write("view/tovik_view.h", "#include \"backup/backup_commands.h\"\n");
    write("backup/backup_commands.h", "#include \"view/tovik_view.h\"\n");
    const auto problems = layers::findLayerViolations(root_.string());
    EXPECT_THAT(problems, ::testing::Contains(::testing::HasSubstr("folder loop:")));
    EXPECT_THAT(problems, ::testing::Contains(::testing::HasSubstr("file loop:")));

    fs::remove_all(root_ / "view");
    fs::remove_all(root_ / "backup");
    write("registry/a.h", "#include \"registry/b.h\"\n");
    write("registry/b.h", "#include \"registry/a.h\"\n");
    EXPECT_THAT(
        layers::findLayerViolations(root_.string()),
        ::testing::ElementsAre(::testing::HasSubstr("file loop: registry/a.h -> registry/b.h -> registry/a.h")));
}

}  // namespace
