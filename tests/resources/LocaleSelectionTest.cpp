// The language choice and the title's bytes under real system locales.
#include "DLL/page/LocalizedResource.h"
#include "tests/resources/PageLanguages.h"
#include "tests/resources/LocaleChildren.h"
#include "tests/resources/PageTemplate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace {

std::string Hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        snprintf(two, sizeof(two), "%02X", c);
        out += two;
    }
    return out;
}

WORD ChosenLanguage(HMODULE module, int type, const void* data) {
    for (const PageLanguage& lang : PageLanguages) {
        if (data &&
            FindLocalizedResourceForLanguage(module, type, 103, lang.LangId, nullptr) == data)
            return lang.LangId;
    }
    return 0;
}

}  // namespace

TEST(LocaleChild, DISABLED_ReportChoice) {
    ResourceModule module(BuiltLibraryPath());
    ASSERT_NE(module.Handle(), nullptr);
    char title[256];
    const bool ok = LoadPageTitle(module.Handle(), title, sizeof(title));
    char line[600];
    snprintf(
        line, sizeof(line), "%04X %u %04X %04X %d %s\n", GetSystemDefaultLangID(), GetACP(),
        ChosenLanguage(module.Handle(), 5, FindLocalizedResource(module.Handle(), 5, 103, nullptr)),
        ChosenLanguage(module.Handle(), 6, FindLocalizedResource(module.Handle(), 6, 103, nullptr)),
        ok ? 1 : 0, Hex(ok ? std::string(title) : std::string()).c_str());
    ASSERT_TRUE(WriteChildReport(line));
}

TEST(LocaleSelection, ChoiceAndTitleUnderSystemLocales) {
    struct Case {
        const char* Locale;
        WORD SystemLangId;
        UINT CodePage;
        WORD Chosen;
    };
    const std::vector<Case> cases = {
        {"ja_JP.UTF-8", 0x0411, 932, 0x0411},   // exact
        {"pt_PT.UTF-8", 0x0816, 1252, 0x0816},  // exact, not the Brazilian variant
        {"pt_BR.UTF-8", 0x0416, 1252, 0x0416},
        {"zh_SG.UTF-8", 0x1004, 936, 0x0804},  // same language and code page
        {"zh_HK.UTF-8", 0x0C04, 950, 0x0C04},
        {"de_AT.UTF-8", 0x0C07, 1252, 0x0407},
        {"en_GB.UTF-8", 0x0809, 1252, 0x0409},
        {"es_MX.UTF-8", 0x080A, 1252, 0x0C0A},
        {"ar_EG.UTF-8", 0x0C01, 1256, 0x0401},
        {"he_IL.UTF-8", 0x040D, 1255, 0x040D},
        {"fr_CM.UTF-8", 0x2C0C, 1252, 0x0409},  // not in the code-page table
        {"ru_RU.UTF-8", 0x0419, 1251, 0x0409},  // no Russian page: English
    };
    std::vector<LocaleRun> runs;
    for (const Case& c : cases) {
        runs.emplace_back();
        runs.back().Locale = c.Locale;
    }
    std::string error;
    ASSERT_TRUE(RunInLocales(runs, "LocaleChild.DISABLED_ReportChoice", error)) << error;
    ResourceModule module(BuiltLibraryPath());
    ASSERT_NE(module.Handle(), nullptr);

    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.Locale);
        ASSERT_TRUE(runs[i].Reported) << "no report from the child";
        std::istringstream report(runs[i].Report);
        unsigned system = 0, dialog = 0, title = 0;
        UINT codePage = 0;
        int ok = 0;
        std::string bytes;
        report >> std::hex >> system >> std::dec >> codePage >> std::hex >> dialog >> title >>
            std::dec >> ok >> bytes;

        EXPECT_EQ(system, c.SystemLangId) << "Wine mapped the locale differently";
        EXPECT_EQ(codePage, c.CodePage);
        EXPECT_EQ(dialog, c.Chosen);
        EXPECT_EQ(title, c.Chosen) << "the title must come in the template's language";
        EXPECT_EQ(ok, 1);
        const std::wstring chosenTitle = PageTitleIn(module.Handle(), c.Chosen);
        ASSERT_TRUE(ConvertsExactly(chosenTitle, c.CodePage));
        const std::string ansi = WideToCodePage(chosenTitle, c.CodePage);
        ASSERT_FALSE(ansi.empty());
        EXPECT_EQ(bytes, Hex(ansi));
    }
}
