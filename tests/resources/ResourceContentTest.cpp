#include "tests/resources/ExpectedPages.h"
#include "tests/resources/PageTemplate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

const int DialogType = 5;  // RT_DIALOG
const int StringType = 6;  // RT_STRING
const int PageId = 103;
const int TitleBlock = PageId / 16 + 1;

HMODULE Built() {
    static ResourceModule module(BuiltLibraryPath());
    return module.Handle();
}

class BuiltPage : public ::testing::TestWithParam<int> {
protected:
    const ExpectedLanguage& Lang() const { return ExpectedLanguages[GetParam()]; }
    bool Load(PageTemplate& page) const {
        std::vector<BYTE> bytes = ResourceBytes(Built(), DialogType, PageId, Lang().LangId);
        return !bytes.empty() &&
               ParsePageTemplate(bytes.data(), static_cast<DWORD>(bytes.size()), page);
    }
};

std::string LangName(const ::testing::TestParamInfo<int>& info) {
    char name[16];
    snprintf(name, sizeof(name), "x%04X", ExpectedLanguages[info.param].LangId);
    return name;
}

const int CaptionIndex = 24;
const int GroupBoxIndex = 25;

DWORD ExpectedExStyle(WORD langid, int index) {
    const int id = ExpectedControls[index].Id;
    const bool rtl = langid == 0x0401 || langid == 0x040D;
    if (rtl) {
        if (id == 1022 || id == 1023 || id == 1026 || id == 1029) return WS_EX_RIGHT;
        if (id >= 1039 && id <= 1042) return WS_EX_RTLREADING;
        if (id == 1020 || id == 1021 || id == 1025 || id == 1028 || id == 1024 || id == 1027 ||
            id == 1030)
            return 0;
        return WS_EX_RIGHT | WS_EX_RTLREADING;
    }
    const WORD rightLabel[] = {0x0406, 0x0407, 0x0412, 0x0413, 0x0414, 0x041D};
    const WORD rightCaption[] = {0x0408, 0x0413, 0x0416, 0x0816, 0x0C0A};
    if (id == 1043 && std::count(std::begin(rightLabel), std::end(rightLabel), langid))
        return WS_EX_RIGHT;
    if (index == CaptionIndex &&
        std::count(std::begin(rightCaption), std::end(rightCaption), langid))
        return WS_EX_RIGHT;
    return 0;
}

}  // namespace

TEST(PageResources, BothExistInExactlyTheTwentyLanguages) {
    ASSERT_NE(Built(), nullptr) << BuiltLibraryPath();
    std::vector<WORD> expected;
    for (const ExpectedLanguage& lang : ExpectedLanguages) expected.push_back(lang.LangId);
    std::sort(expected.begin(), expected.end());

    std::vector<WORD> dialogs = ResourceLanguages(Built(), DialogType, PageId);
    std::vector<WORD> titles = ResourceLanguages(Built(), StringType, TitleBlock);
    std::sort(dialogs.begin(), dialogs.end());
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(dialogs, expected);
    EXPECT_EQ(titles, expected);
}

TEST(PageResources, NoOtherPageResources) {
    ASSERT_NE(Built(), nullptr);
    // Neighbouring ids and blocks must not exist: the page loads nothing else.
    for (int block = 1; block <= 16; ++block) {
        if (block != TitleBlock)
            EXPECT_TRUE(ResourceLanguages(Built(), StringType, block).empty())
                << "string block " << block;
    }
    EXPECT_TRUE(ResourceLanguages(Built(), DialogType, 102).empty());
    EXPECT_TRUE(ResourceLanguages(Built(), DialogType, 104).empty());
}

TEST_P(BuiltPage, TitleIsTheOnlyStringOfItsBlock) {
    ASSERT_NE(Built(), nullptr);
    std::vector<BYTE> block = ResourceBytes(Built(), StringType, TitleBlock, Lang().LangId);
    ASSERT_FALSE(block.empty());
    const std::wstring title = Utf8ToWide(Lang().Title);
    ASSERT_FALSE(title.empty());

    size_t at = 0;
    for (int index = 0; index < 16; ++index) {
        ASSERT_LE(at + 2, block.size()) << "entry " << index;
        WORD count;
        memcpy(&count, &block[at], 2);
        at += 2;
        if (index == PageId % 16) {
            ASSERT_EQ(count, title.size());
            ASSERT_LE(at + count * 2u, block.size());
            EXPECT_EQ(0, memcmp(&block[at], title.data(), count * 2u)) << "title bytes differ";
        } else {
            EXPECT_EQ(count, 0) << "entry " << index;
        }
        at += count * 2u;
    }
}

TEST_P(BuiltPage, DialogHeader) {
    PageTemplate page;
    ASSERT_TRUE(Load(page));
    const DWORD fontStyle = Lang().ShellFont ? DS_SHELLFONT : DS_SETFONT;
    EXPECT_EQ(page.Style, WS_CHILD | fontStyle);
    EXPECT_EQ(page.Style & WS_VISIBLE, 0u);
    EXPECT_EQ(page.ExStyle,
              Lang().RightToLeft ? DWORD(WS_EX_RIGHT | WS_EX_RTLREADING) : DWORD(WS_EX_RIGHT));
    EXPECT_EQ(page.HelpId, 0u);
    EXPECT_EQ(page.Cx, Lang().Width);
    EXPECT_EQ(page.Cy, Lang().Height);
    EXPECT_TRUE(page.Menu.empty());
    EXPECT_TRUE(page.WindowClass.empty());
    EXPECT_TRUE(page.Caption.empty());
    EXPECT_EQ(page.PointSize, 10);
    EXPECT_EQ(page.Weight, 400);
    EXPECT_EQ(page.Italic, 0);
    EXPECT_EQ(page.Charset, 0);
    EXPECT_EQ(page.Font, Utf8ToWide(Lang().Font));
}

TEST_P(BuiltPage, SameControlsInTheSameOrder) {
    PageTemplate page;
    ASSERT_TRUE(Load(page));
    ASSERT_EQ(page.Controls.size(), size_t(PageControlCount));
    for (int i = 0; i < PageControlCount; ++i) {
        const TemplateControl& c = page.Controls[i];
        const ExpectedControl& e = ExpectedControls[i];
        SCOPED_TRACE(testing::Message() << "control #" << i + 1 << " id " << e.Id);
        EXPECT_EQ(c.Id, e.Id);
        EXPECT_EQ(_stricmp(c.Class.c_str(), e.Class), 0) << c.Class;
        EXPECT_EQ(c.Style, e.Style);
        EXPECT_EQ(c.HelpId, 0u);
        EXPECT_EQ(c.CreationBytes, 0);
    }
}

TEST_P(BuiltPage, ControlTextsAreByteExact) {
    PageTemplate page;
    ASSERT_TRUE(Load(page));
    ASSERT_EQ(page.Controls.size(), size_t(PageControlCount));
    for (int i = 0; i < PageControlCount; ++i) {
        SCOPED_TRACE(testing::Message()
                     << "control #" << i + 1 << " id " << ExpectedControls[i].Id);
        const char* text = Lang().Texts[i];
        const std::wstring expected = text ? Utf8ToWide(text) : std::wstring();
        if (text) ASSERT_FALSE(expected.empty());
        const std::wstring& actual = page.Controls[i].Text;
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_EQ(0, memcmp(actual.data(), expected.data(), expected.size() * sizeof(wchar_t)));
    }
}

TEST_P(BuiltPage, ExtendedStyles) {
    PageTemplate page;
    ASSERT_TRUE(Load(page));
    ASSERT_EQ(page.Controls.size(), size_t(PageControlCount));
    for (int i = 0; i < PageControlCount; ++i)
        EXPECT_EQ(page.Controls[i].ExStyle, ExpectedExStyle(Lang().LangId, i))
            << "control #" << i + 1;
}

TEST_P(BuiltPage, Placements) {
    PageTemplate page;
    ASSERT_TRUE(Load(page));
    ASSERT_EQ(page.Controls.size(), size_t(PageControlCount));
    const WORD langid = Lang().LangId;
    const Placement* tabled = langid == 0x0409   ? EnglishPlacements
                              : langid == 0x0401 ? ArabicPlacements
                              : langid == 0x040D ? HebrewPlacements
                                                 : nullptr;
    for (int i = 0; i < PageControlCount; ++i) {
        const TemplateControl& c = page.Controls[i];
        const int id = ExpectedControls[i].Id;
        SCOPED_TRACE(testing::Message() << "control #" << i + 1 << " id " << id);
        // Everything stays inside the dialog.
        EXPECT_GE(c.X, 0);
        EXPECT_GE(c.Y, 0);
        EXPECT_LE(c.X + c.Cx, page.Cx);
        EXPECT_LE(c.Y + c.Cy, page.Cy);
        if (tabled) {
            EXPECT_EQ(c.X, tabled[i].X);
            EXPECT_EQ(c.Y, tabled[i].Y);
            EXPECT_EQ(c.Cx, tabled[i].Cx);
            EXPECT_EQ(c.Cy, tabled[i].Cy);
            continue;
        }
        Placement fixed = EnglishPlacements[i];
        bool isFixed = !ExpectedControls[i].HasText;
        if (langid == 0x0411 && (id == 1024 || id == 1027 || id == 1030))
            fixed.Cx = id == 1027 ? 8 : 9;
        if (id >= 1039 && id <= 1042) {
            isFixed = true;
            if ((langid == 0x0404 || langid == 0x0411 || langid == 0x0804) && id <= 1040)
                fixed = {22, fixed.Y, 29, 8};
            if (langid == 0x041F && id >= 1041) fixed = {6, fixed.Y, 45, 8};
        }
        if (i == GroupBoxIndex) {
            isFixed = true;
            if (langid == 0x041F) fixed = {6, 11, 194, 44};
        }
        if (isFixed) {
            EXPECT_EQ(c.X, fixed.X);
            EXPECT_EQ(c.Y, fixed.Y);
            EXPECT_EQ(c.Cx, fixed.Cx);
            EXPECT_EQ(c.Cy, fixed.Cy);
            continue;
        }
        if ((id >= 1031 && id <= 1033) || id == 1043) EXPECT_TRUE(c.Y == 95 || c.Y == 101) << c.Y;
        if (id == 1034 || id == 1036) {
            EXPECT_GE(c.Y, 114);
            EXPECT_LE(c.Y, 117);
        }
        if (id == 1035 || id == 1037) {
            EXPECT_GE(c.Y, 129);
            EXPECT_LE(c.Y, 131);
        }
        if (id == 1038) {
            EXPECT_GE(c.X, 145);
            EXPECT_LE(c.X, 154);
            EXPECT_GE(c.Y, 118);
            EXPECT_LE(c.Y, 122);
        }
    }
    // The radio row stands on one line with its label.
    EXPECT_EQ(page.Controls[11].Y, page.Controls[12].Y);
    EXPECT_EQ(page.Controls[12].Y, page.Controls[13].Y);
}

INSTANTIATE_TEST_SUITE_P(Languages, BuiltPage, ::testing::Range(0, PageLanguageCount), LangName);

namespace {

// The 32-bit library of a sibling build folder (build/i686 next to build/x86_64), or the one
// KOVALTIX_I686_DLL names.
std::string ThirtyTwoBitLibraryPath() {
    char configured[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KOVALTIX_I686_DLL", configured, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return configured;
    std::string bin = BuiltLibraryPath();
    bin.resize(bin.find_last_of('\\'));                         // <build>\bin
    std::string build = bin.substr(0, bin.find_last_of('\\'));  // <build>
    std::string parent = build.substr(0, build.find_last_of('\\'));
    return parent + "\\i686\\bin\\KOVALTIX.dll";
}

}  // namespace

TEST(PageResources, ThirtyTwoBitLibraryCarriesTheSameResources) {
    ASSERT_NE(Built(), nullptr);
    const std::string path = ThirtyTwoBitLibraryPath();
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no 32-bit build at " << path;
    ResourceModule other(path);
    ASSERT_NE(other.Handle(), nullptr) << path;
    std::vector<WORD> dialogs = ResourceLanguages(other.Handle(), DialogType, PageId);
    std::vector<WORD> titles = ResourceLanguages(other.Handle(), StringType, TitleBlock);
    EXPECT_EQ(dialogs.size(), size_t(PageLanguageCount));
    EXPECT_EQ(titles.size(), size_t(PageLanguageCount));
    for (const ExpectedLanguage& lang : ExpectedLanguages) {
        EXPECT_EQ(ResourceBytes(other.Handle(), DialogType, PageId, lang.LangId),
                  ResourceBytes(Built(), DialogType, PageId, lang.LangId))
            << std::hex << lang.LangId;
        EXPECT_EQ(ResourceBytes(other.Handle(), StringType, TitleBlock, lang.LangId),
                  ResourceBytes(Built(), StringType, TitleBlock, lang.LangId))
            << std::hex << lang.LangId;
    }
}

TEST_P(BuiltPage, ControlsDoNotOverlap) {
    PageTemplate page;
    ASSERT_TRUE(Load(page));
    ASSERT_EQ(page.Controls.size(), size_t(PageControlCount));
    // The group box frames the white-balance rows by design.
    for (int i = 0; i < PageControlCount; ++i) {
        for (int j = i + 1; j < PageControlCount; ++j) {
            if (i == GroupBoxIndex || j == GroupBoxIndex) continue;
            // The given mirrored layouts let a slider run one or two units into its label.
            if (Lang().RightToLeft && ExpectedControls[j].Id >= 1040 &&
                ExpectedControls[j].Id <= 1042 &&
                (ExpectedControls[i].Id == 1021 || ExpectedControls[i].Id == 1025 ||
                 ExpectedControls[i].Id == 1028))
                continue;
            const TemplateControl& a = page.Controls[i];
            const TemplateControl& b = page.Controls[j];
            const bool apart =
                a.X + a.Cx <= b.X || b.X + b.Cx <= a.X || a.Y + a.Cy <= b.Y || b.Y + b.Cy <= a.Y;
            EXPECT_TRUE(apart) << "controls #" << i + 1 << " (id " << a.Id << ") and #" << j + 1
                               << " (id " << b.Id << ")";
        }
    }
}
