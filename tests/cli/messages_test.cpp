// The core's texts that tovik-reg prints come in English from the window's translation.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "backup/backup_import.h"
#include "backup/export_file.h"
#include "cli/messages.h"
#include "regfile/reg_import.h"
#include "regfile/reg_reader.h"

namespace {

using namespace tovik;
using tovik::cli::coreText;

bool ascii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

class CoreTexts : public testing::Test {
protected:
    void TearDown() override { cli::setMessageLanguage(InterfaceLanguage::English); }
};

TEST_F(CoreTexts, EveryCoreTextTheCommandLinePrintsHasItsEnglish) {
    cli::setMessageLanguage(InterfaceLanguage::English);
    std::vector<std::u16string_view> texts{kImportNotUnicodeMessage, kUnknownTagNoticeTemplate};
    for (int i = static_cast<int>(ImportOutcome::NotUnicode); i <= static_cast<int>(ImportOutcome::WriteFailed); ++i)
        texts.push_back(importOutcomeMessage(static_cast<ImportOutcome>(i)));
    for (int i = static_cast<int>(ExportOutcome::NoKeySelected); i <= static_cast<int>(ExportOutcome::OntoStore); ++i)
        texts.push_back(exportOutcomeMessage(static_cast<ExportOutcome>(i)));
    for (int i = static_cast<int>(RegFileProblemKind::BadKeyLine);
         i <= static_cast<int>(RegFileProblemKind::ValueNotDeleted); ++i)
        texts.push_back(RegFileProblemText(static_cast<RegFileProblemKind>(i)));
    for (std::u16string_view text : texts) {
        if (text.empty()) continue;  // an outcome told otherwise (the import's failed writes)
        const std::string english = coreText(text, {"7"});
        EXPECT_TRUE(ascii(english)) << english;
    }
    // The .reg header refusal goes through the same translation, with the header filled in.
    const std::u16string refusal = RegFileUnknownHeaderMessage(u"REGEDIT9\r\n", cli::coreTextTranslator());
    EXPECT_NE(refusal.find(u"REGEDIT9"), std::u16string::npos);
    EXPECT_TRUE(std::all_of(refusal.begin(), refusal.end(), [](char16_t c) { return c < 0x80; }));
}

TEST_F(CoreTexts, JapaneseIsTheCoreTextItselfAndTemplatesAreFilled) {
    cli::setMessageLanguage(InterfaceLanguage::Japanese);
    EXPECT_EQ(coreText(kUnknownTagNoticeTemplate, {"3"}), "型の分からない値の行を3行読み飛ばしました");
    EXPECT_EQ(cli::say({"%2 of %1", "%1の%2"}, {"a", "b"}), "aのb");
    cli::setMessageLanguage(InterfaceLanguage::English);
    EXPECT_EQ(cli::say({"%2 of %1 (100%)", "%1の%2"}, {"a", "b"}), "b of a (100%)");
}

}  // namespace
