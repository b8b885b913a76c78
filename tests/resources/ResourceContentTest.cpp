// What the page needs of its resources in every language: the page's controls, their texts
// readable in the language's own code page, and a layout where nothing covers anything else.
// The translations themselves are the resource scripts'; whether they fit is PageFitTest's.
#include "DLL/resources/PageIds.h"
#include "tests/resources/PageLanguages.h"
#include "tests/resources/PageTemplate.h"

#include <commctrl.h>
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

bool LoadPage(WORD langid, PageTemplate& page) {
    std::vector<BYTE> bytes = ResourceBytes(Built(), DialogType, PageId, langid);
    return !bytes.empty() &&
           ParsePageTemplate(bytes.data(), static_cast<DWORD>(bytes.size()), page);
}

class BuiltPage : public ::testing::TestWithParam<int> {
protected:
    WORD LangId() const { return PageLanguages[GetParam()].LangId; }
};

std::string LangName(const ::testing::TestParamInfo<int>& info) {
    char name[16];
    snprintf(name, sizeof(name), "x%04X", PageLanguages[info.param].LangId);
    return name;
}

// What the page's bindings and handlers look for, by id.
enum class Kind { Trackbar, Edit, CheckBox, RadioButton, PushButton, Label };

struct BoundControl {
    int Id;
    Kind Kind;
};

const BoundControl BoundControls[] = {
    {IDC_WB_RED_SLIDER, Kind::Trackbar},
    {IDC_WB_BLUE_SLIDER, Kind::Trackbar},
    {IDC_EXPOSURE_SLIDER, Kind::Trackbar},
    {IDC_GAIN_SLIDER, Kind::Trackbar},
    {IDC_WB_RED_EDIT, Kind::Edit},
    {IDC_WB_BLUE_EDIT, Kind::Edit},
    {IDC_EXPOSURE_EDIT, Kind::Edit},
    {IDC_GAIN_EDIT, Kind::Edit},
    {IDC_WB_AUTO, Kind::CheckBox},
    {IDC_EXPOSURE_AUTO, Kind::CheckBox},
    {IDC_GAIN_AUTO, Kind::CheckBox},
    {IDC_FLIP, Kind::CheckBox},
    {IDC_MIRROR, Kind::CheckBox},
    {IDC_PRIVACY, Kind::CheckBox},
    {IDC_LOWLIGHT, Kind::CheckBox},
    {IDC_POWERLINE_OUTDOOR, Kind::RadioButton},
    {IDC_POWERLINE_50HZ, Kind::RadioButton},
    {IDC_POWERLINE_60HZ, Kind::RadioButton},
    {IDC_DEFAULT, Kind::PushButton},
    {IDC_WB_RED_LABEL, Kind::Label},
    {IDC_WB_BLUE_LABEL, Kind::Label},
    {IDC_EXPOSURE_LABEL, Kind::Label},
    {IDC_GAIN_LABEL, Kind::Label},
    {IDC_POWERLINE_LABEL, Kind::Label},
};

bool IsKind(const TemplateControl& c, Kind kind) {
    const DWORD button = c.Style & BS_TYPEMASK;
    switch (kind) {
    case Kind::Trackbar:
        return _stricmp(c.Class.c_str(), TRACKBAR_CLASSA) == 0;
    case Kind::Edit:
        return c.Class == "EDIT" && (c.Style & ES_READONLY);
    case Kind::CheckBox:
        return c.Class == "BUTTON" && button == BS_AUTOCHECKBOX;
    case Kind::RadioButton:
        return c.Class == "BUTTON" && button == BS_AUTORADIOBUTTON;
    case Kind::PushButton:
        return c.Class == "BUTTON" && (button == BS_PUSHBUTTON || button == BS_DEFPUSHBUTTON);
    case Kind::Label:
        return c.Class == "STATIC";
    }
    return false;
}

bool IsGroupBox(const TemplateControl& c) {
    return c.Class == "BUTTON" && (c.Style & BS_TYPEMASK) == BS_GROUPBOX;
}

}  // namespace

TEST(PageResources, BothExistInExactlyTheTwentyLanguages) {
    ASSERT_NE(Built(), nullptr) << BuiltLibraryPath();
    std::vector<WORD> expected;
    for (const PageLanguage& lang : PageLanguages) expected.push_back(lang.LangId);
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
        if (block == TitleBlock) continue;
        EXPECT_TRUE(ResourceLanguages(Built(), StringType, block).empty())
            << "string block " << block;
    }
    EXPECT_TRUE(ResourceLanguages(Built(), DialogType, 102).empty());
    EXPECT_TRUE(ResourceLanguages(Built(), DialogType, 104).empty());
}

// The English page carries every control the page binds, each of the kind its binding needs.
TEST(PageResources, EnglishPageHasEveryBoundControlOfItsKind) {
    PageTemplate page;
    ASSERT_TRUE(LoadPage(0x0409, page));
    EXPECT_EQ(page.Style & (WS_CHILD | WS_POPUP | WS_VISIBLE), DWORD(WS_CHILD));
    for (const BoundControl& bound : BoundControls) {
        const auto found = std::find_if(page.Controls.begin(), page.Controls.end(),
                                        [&](const TemplateControl& c) { return c.Id == bound.Id; });
        ASSERT_NE(found, page.Controls.end()) << "no control " << bound.Id;
        EXPECT_TRUE(IsKind(*found, bound.Kind)) << "control " << bound.Id << " is " << found->Class
                                                << std::hex << " style 0x" << found->Style;
        EXPECT_EQ(std::count_if(page.Controls.begin(), page.Controls.end(),
                                [&](const TemplateControl& c) { return c.Id == bound.Id; }),
                  1)
            << "id " << bound.Id << " twice";
    }
}

TEST_P(BuiltPage, TitleIsTheOnlyStringOfItsBlockAndReadsInItsCodePage) {
    ASSERT_NE(Built(), nullptr);
    std::vector<BYTE> block = ResourceBytes(Built(), StringType, TitleBlock, LangId());
    ASSERT_FALSE(block.empty());
    size_t at = 0;
    for (int index = 0; index < 16; ++index) {
        ASSERT_LE(at + 2, block.size()) << "entry " << index;
        WORD count;
        memcpy(&count, &block[at], 2);
        at += 2;
        if (index == PageId % 16) {
            EXPECT_GT(count, 0) << "no title";
        } else {
            EXPECT_EQ(count, 0) << "entry " << index;
        }
        at += count * 2u;
    }
    EXPECT_EQ(at, block.size());
    const UINT codePage = PlatformCodePage(LangId());
    ASSERT_NE(codePage, 0u);
    EXPECT_TRUE(ConvertsExactly(PageTitleIn(Built(), LangId()), codePage))
        << "the title has characters outside code page " << codePage;
}

// Every language has the English page's controls, in the same order (the tab order) and with
// the same styles, and a text wherever English has one, readable in the language's code page:
// the page creates its dialog through the ANSI code page.
TEST_P(BuiltPage, SameControlsAsEnglishWithTextsInItsCodePage) {
    PageTemplate english, page;
    ASSERT_TRUE(LoadPage(0x0409, english));
    ASSERT_TRUE(LoadPage(LangId(), page));
    EXPECT_EQ(page.Style & ~DWORD(DS_SETFONT | DS_SHELLFONT),
              english.Style & ~DWORD(DS_SETFONT | DS_SHELLFONT));
    EXPECT_NE(page.Style & (DS_SETFONT | DS_SHELLFONT), 0u) << "no font of its own";
    EXPECT_FALSE(page.Font.empty());
    const UINT codePage = PlatformCodePage(LangId());
    ASSERT_NE(codePage, 0u);
    ASSERT_EQ(page.Controls.size(), english.Controls.size());
    for (size_t i = 0; i < page.Controls.size(); ++i) {
        const TemplateControl& c = page.Controls[i];
        const TemplateControl& e = english.Controls[i];
        SCOPED_TRACE(testing::Message() << "control #" << i + 1 << " id " << e.Id);
        EXPECT_EQ(c.Id, e.Id);
        EXPECT_EQ(c.Class, e.Class);
        EXPECT_EQ(c.Style, e.Style);
        EXPECT_EQ(c.Text.empty(), e.Text.empty()) << "a text missing or left over";
        EXPECT_TRUE(ConvertsExactly(c.Text, codePage))
            << "characters outside code page " << codePage;
    }
}

TEST_P(BuiltPage, ControlsStayInsideThePageAndDoNotOverlap) {
    PageTemplate page;
    ASSERT_TRUE(LoadPage(LangId(), page));
    const bool rightToLeft = (page.ExStyle & WS_EX_RTLREADING) != 0;
    for (size_t i = 0; i < page.Controls.size(); ++i) {
        const TemplateControl& a = page.Controls[i];
        EXPECT_TRUE(a.X >= 0 && a.Y >= 0 && a.X + a.Cx <= page.Cx && a.Y + a.Cy <= page.Cy)
            << "control #" << i + 1 << " (id " << a.Id << ") leaves the page";
        // The group box frames the white-balance rows by design.
        if (IsGroupBox(a)) continue;
        for (size_t j = i + 1; j < page.Controls.size(); ++j) {
            const TemplateControl& b = page.Controls[j];
            if (IsGroupBox(b)) continue;
            // The given mirrored layouts let a slider run one or two units into its label.
            if (rightToLeft && b.Id >= IDC_WB_BLUE_LABEL && b.Id <= IDC_GAIN_LABEL &&
                (a.Id == IDC_WB_BLUE_SLIDER || a.Id == IDC_EXPOSURE_SLIDER ||
                 a.Id == IDC_GAIN_SLIDER))
                continue;
            const bool apart =
                a.X + a.Cx <= b.X || b.X + b.Cx <= a.X || a.Y + a.Cy <= b.Y || b.Y + b.Cy <= a.Y;
            EXPECT_TRUE(apart) << "controls #" << i + 1 << " (id " << a.Id << ") and #" << j + 1
                               << " (id " << b.Id << ")";
        }
    }
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
    for (const PageLanguage& lang : PageLanguages) {
        EXPECT_EQ(ResourceBytes(other.Handle(), DialogType, PageId, lang.LangId),
                  ResourceBytes(Built(), DialogType, PageId, lang.LangId))
            << std::hex << lang.LangId;
        EXPECT_EQ(ResourceBytes(other.Handle(), StringType, TitleBlock, lang.LangId),
                  ResourceBytes(Built(), StringType, TitleBlock, lang.LangId))
            << std::hex << lang.LangId;
    }
}
