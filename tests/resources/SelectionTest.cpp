#include "DLL/page/LocalizedResource.h"
#include "tests/resources/PageLanguages.h"
#include "tests/resources/PageTemplate.h"
#include "tests/common/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

const int DialogType = 5;
const int StringType = 6;
const int PageId = 103;

HMODULE Built() {
    static ResourceModule module(BuiltLibraryPath());
    return module.Handle();
}

const void* VariantData(HMODULE module, int type, int name, WORD langid) {
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(name), langid);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    return loaded ? LockResource(loaded) : nullptr;
}

// The language whose dialog 103 starts at `data`; 0 when none does.
WORD DialogLanguage(HMODULE module, const void* data) {
    for (const PageLanguage& lang : PageLanguages) {
        if (data && VariantData(module, DialogType, PageId, lang.LangId) == data)
            return lang.LangId;
    }
    return 0;
}

std::wstring EntryText(const void* entry) {
    const WORD* units = static_cast<const WORD*>(entry);
    return std::wstring(reinterpret_cast<const wchar_t*>(units + 1), units[0]);
}

}  // namespace

// ---- The code page table ----

TEST(CodePageTable, HoldsEveryLanguageOnceInAscendingOrder) {
    int rows = 0;
    while (LanguageCodePageTable[rows].LangId != 0) ++rows;
    EXPECT_EQ(rows, 119);
    EXPECT_EQ(rows, LanguageCodePageRows);
    for (int i = 1; i < rows; ++i) {
        const WORD a = LanguageCodePageTable[i - 1].LangId, b = LanguageCodePageTable[i].LangId;
        const bool ascending =
            (a & 0x3FF) < (b & 0x3FF) || ((a & 0x3FF) == (b & 0x3FF) && (a >> 10) < (b >> 10));
        EXPECT_TRUE(ascending) << std::hex << a << " before " << b;
    }
}

// Each language's ANSI code page as the platform itself reports it. Wine 8 does not know the two
// former Serbian LANGIDs and gives Kazakh no ANSI code page; for these the table keeps what
// Windows reports (1250, 1251, 1251).
TEST(CodePageTable, AgreesWithThePlatformForEveryLanguage) {
    const std::set<WORD> windowsOnly = {0x081A, 0x0C1A, 0x043F};
    for (int i = 0; i < LanguageCodePageRows; ++i) {
        const WORD langid = LanguageCodePageTable[i].LangId;
        if (windowsOnly.count(langid)) continue;
        DWORD reported = 0xFFFFFFFF;
        EXPECT_NE(0, GetLocaleInfoA(MAKELCID(langid, SORT_DEFAULT),
                                    LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                                    reinterpret_cast<LPSTR>(&reported), sizeof(reported)))
            << std::hex << "language 0x" << langid << " unknown to the platform";
        EXPECT_EQ(static_cast<DWORD>(CodePageForLanguage(langid)), reported)
            << std::hex << "language 0x" << langid;
    }
    for (WORD langid : windowsOnly) EXPECT_NE(CodePageForLanguage(langid), 3) << std::hex << langid;
}

TEST(CodePageTable, UnknownLanguagesYieldThree) {
    // Whole 16-bit comparison: a known primary language with an unknown sublanguage is unknown.
    for (WORD langid : {0x2C0C, 0x0000, 0x0009, 0x4409, 0x7C04, 0xFFFF, 0x0811})
        EXPECT_EQ(CodePageForLanguage(langid), 3) << std::hex << langid;
}

// ---- The enumeration callback, fed directly ----

namespace {

LanguageMatch MatchFor(WORD systemLangId) {
    LanguageMatch match;
    match.Primary = static_cast<WORD>(systemLangId & 0x3FF);
    match.Sublanguage = static_cast<WORD>(systemLangId >> 10);
    match.CodePage = CodePageForLanguage(systemLangId);
    match.Resource = nullptr;
    match.LangId = 0;
    return match;
}

// Feeds `order` to the callback as EnumResourceLanguagesA would; returns the chosen LANGID.
WORD Enumerate(WORD systemLangId, const std::vector<WORD>& order, int* calls = nullptr) {
    LanguageMatch match = MatchFor(systemLangId);
    int n = 0;
    for (WORD langid : order) {
        ++n;
        if (!MatchResourceLanguage(Built(), MAKEINTRESOURCEA(DialogType), MAKEINTRESOURCEA(PageId),
                                   langid, reinterpret_cast<LONG_PTR>(&match)))
            break;
    }
    if (calls) *calls = n;
    if (match.LangId != 0) {
        EXPECT_EQ(match.Resource, FindResourceExA(Built(), MAKEINTRESOURCEA(DialogType),
                                                  MAKEINTRESOURCEA(PageId), match.LangId));
    } else {
        EXPECT_EQ(match.Resource, nullptr);
    }
    return match.LangId;
}

}  // namespace

TEST(MatchResourceLanguage, ExactMatchStopsTheEnumeration) {
    ASSERT_NE(Built(), nullptr);
    int calls = 0;
    EXPECT_EQ(Enumerate(0x0816, {0x0416, 0x0816, 0x0409, 0x0411}, &calls), 0x0816);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(Enumerate(0x0411, {0x0409, 0x0411}), 0x0411);
}

TEST(MatchResourceLanguage, SmallestSublanguageWinsWhateverTheOrder) {
    ASSERT_NE(Built(), nullptr);
    std::vector<WORD> chinese = {0x0404, 0x0804, 0x0C04, 0x0409};
    std::sort(chinese.begin(), chinese.end());
    do {
        EXPECT_EQ(Enumerate(0x1404, chinese), 0x0404);
        EXPECT_EQ(Enumerate(0x1004, chinese), 0x0804);
        EXPECT_EQ(Enumerate(0x0C04, chinese), 0x0C04);
    } while (std::next_permutation(chinese.begin(), chinese.end()));
}

TEST(MatchResourceLanguage, SkipsOtherCodePagesAndLanguages) {
    ASSERT_NE(Built(), nullptr);
    // Same primary language, other code page: no match.
    EXPECT_EQ(Enumerate(0x0804, {0x0404, 0x0C04}), 0);
    // Another language altogether.
    EXPECT_EQ(Enumerate(0x0419, {0x0409, 0x0407, 0x0401}), 0);
    // System language missing from the code-page table: its relatives never match.
    EXPECT_EQ(Enumerate(0x2C0C, {0x040C}), 0);
}

TEST(MatchResourceLanguage, ExactLanguageWithoutTheResourceContinues) {
    ASSERT_NE(Built(), nullptr);
    // 0x0C07 is enumerated but FindResourceExA cannot find it in the module.
    int calls = 0;
    EXPECT_EQ(Enumerate(0x0C07, {0x0C07, 0x0407}, &calls), 0x0407);
    EXPECT_EQ(calls, 2);
}

// ---- The whole choice, for given system languages ----

TEST(FindLocalizedResource, ChoosesByTheSystemLanguage) {
    ASSERT_NE(Built(), nullptr);
    const std::map<WORD, WORD> cases = {
        {0x0411, 0x0411}, {0x0816, 0x0816}, {0x0416, 0x0416}, {0x1004, 0x0804}, {0x1404, 0x0404},
        {0x0809, 0x0409}, {0x0807, 0x0407}, {0x080C, 0x040C}, {0x0814, 0x0414}, {0x040A, 0x0C0A},
        {0x0C01, 0x0401}, {0x2C0C, 0x0409}, {0x0419, 0x0409}, {0x0000, 0x0409}, {0x0437, 0x0409},
        {0x040D, 0x040D}, {0x041F, 0x041F}, {0x081D, 0x041D},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "system 0x" << c.first);
        DWORD size = 0;
        const void* dialog =
            FindLocalizedResourceForLanguage(Built(), DialogType, PageId, c.first, &size);
        EXPECT_EQ(DialogLanguage(Built(), dialog), c.second);
        EXPECT_EQ(size, ResourceBytes(Built(), DialogType, PageId, c.second).size());

        const void* title =
            FindLocalizedResourceForLanguage(Built(), StringType, PageId, c.first, &size);
        ASSERT_NE(title, nullptr);
        EXPECT_EQ(EntryText(title), PageTitleIn(Built(), c.second));
        // The size is that of the whole block.
        EXPECT_EQ(size, ResourceBytes(Built(), StringType, PageId / 16 + 1, c.second).size());
    }
    // Size out is optional.
    EXPECT_NE(FindLocalizedResourceForLanguage(Built(), DialogType, PageId, 0x0409, nullptr),
              nullptr);
}

TEST(FindLocalizedResource, FollowsThisProcessSystemLanguage) {
    ASSERT_NE(Built(), nullptr);
    const WORD system = GetSystemDefaultLangID();
    EXPECT_EQ(FindLocalizedResource(Built(), DialogType, PageId, nullptr),
              FindLocalizedResourceForLanguage(Built(), DialogType, PageId, system, nullptr));
    EXPECT_EQ(FindLocalizedResource(Built(), StringType, PageId, nullptr),
              FindLocalizedResourceForLanguage(Built(), StringType, PageId, system, nullptr));
}

TEST(FindLocalizedResource, MissingResourcesGiveNull) {
    ASSERT_NE(Built(), nullptr);
    DWORD size = 12345;
    EXPECT_EQ(FindLocalizedResource(Built(), DialogType, 104, &size), nullptr);
    EXPECT_EQ(size, 12345u);
    // String 96 shares the block of the title but is empty; string 119 lies in a block that does
    // not exist.
    const WORD* empty =
        static_cast<const WORD*>(FindLocalizedResource(Built(), StringType, 96, nullptr));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], 0);
    EXPECT_EQ(FindLocalizedResource(Built(), StringType, 119, nullptr), nullptr);
}

// ---- Resources of the test's own, written into a copy of the library ----

namespace {

std::vector<WORD> StringBlock(const std::vector<std::wstring>& strings) {
    std::vector<WORD> block;
    for (const std::wstring& s : strings) {
        block.push_back(static_cast<WORD>(s.size()));
        block.insert(block.end(), s.begin(), s.end());
    }
    return block;
}

// A copy of the built library whose resources are replaced by the ones given.
class CraftedModule {
public:
    struct Item {
        int Type;
        int Name;
        WORD LangId;
        std::vector<BYTE> Data;
    };

    explicit CraftedModule(const std::vector<Item>& items) {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        char made[MAX_PATH];
        GetTempFileNameA(folder, "kvr", 0, made);
        path = made;
        if (!CopyFileA(BuiltLibraryPath().c_str(), path.c_str(), FALSE)) return;
        HANDLE update = BeginUpdateResourceA(path.c_str(), TRUE);
        if (!update) return;
        bool ok = true;
        for (const Item& item : items) {
            ok = ok &&
                 UpdateResourceA(update, MAKEINTRESOURCEA(item.Type), MAKEINTRESOURCEA(item.Name),
                                 item.LangId, const_cast<BYTE*>(item.Data.data()),
                                 static_cast<DWORD>(item.Data.size()));
        }
        if (!EndUpdateResourceA(update, !ok) || !ok) return;
        module = LoadLibraryExA(path.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    ~CraftedModule() {
        if (module) FreeLibrary(module);
        DeleteFileA(path.c_str());
    }
    CraftedModule(const CraftedModule&) = delete;
    CraftedModule& operator=(const CraftedModule&) = delete;
    HMODULE Handle() const { return module; }

private:
    std::string path;
    HMODULE module = nullptr;
};

std::vector<BYTE> Bytes(const std::vector<WORD>& units) {
    const BYTE* p = reinterpret_cast<const BYTE*>(units.data());
    return std::vector<BYTE>(p, p + units.size() * sizeof(WORD));
}

std::vector<std::wstring> NumberedStrings(int first) {
    std::vector<std::wstring> strings;
    for (int id = first; id < first + 16; ++id)
        strings.push_back(id % 5 == 2 ? std::wstring() : L"string " + std::to_wstring(id));
    return strings;
}

}  // namespace

TEST(FindLocalizedResource, StringBlockArithmetic) {
    ASSERT_NE(Built(), nullptr);
    const std::vector<std::wstring> strings = NumberedStrings(96);
    CraftedModule crafted({{StringType, 7, 0x0411, Bytes(StringBlock(strings))},
                           {StringType, 1, 0x0411, Bytes(StringBlock(NumberedStrings(0)))}});
    ASSERT_NE(crafted.Handle(), nullptr);
    for (int id : {96, 97, 103, 110, 111}) {
        const void* entry =
            FindLocalizedResourceForLanguage(crafted.Handle(), StringType, id, 0x0411, nullptr);
        ASSERT_NE(entry, nullptr) << id;
        EXPECT_EQ(EntryText(entry), strings[id - 96]) << id;
    }
    const void* first =
        FindLocalizedResourceForLanguage(crafted.Handle(), StringType, 0, 0x0411, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(EntryText(first), L"string 0");
    const void* fifteen =
        FindLocalizedResourceForLanguage(crafted.Handle(), StringType, 15, 0x0411, nullptr);
    ASSERT_NE(fifteen, nullptr);
    EXPECT_EQ(EntryText(fifteen), L"string 15");
    // Block 7 ends at string 111; 112 is in a block that does not exist.
    EXPECT_EQ(FindLocalizedResourceForLanguage(crafted.Handle(), StringType, 112, 0x0411, nullptr),
              nullptr);
}

TEST(FindLocalizedResource, ResourceOnlyInAnotherLanguageGivesNull) {
    ASSERT_NE(Built(), nullptr);
    std::vector<BYTE> dialog = ResourceBytes(Built(), DialogType, PageId, 0x0411);
    CraftedModule crafted({{StringType, 7, 0x0411, Bytes(StringBlock(NumberedStrings(96)))},
                           {DialogType, PageId, 0x0411, dialog}});
    ASSERT_NE(crafted.Handle(), nullptr);
    EXPECT_EQ(
        FindLocalizedResourceForLanguage(crafted.Handle(), StringType, PageId, 0x0409, nullptr),
        nullptr);
    EXPECT_EQ(
        FindLocalizedResourceForLanguage(crafted.Handle(), DialogType, PageId, 0x0409, nullptr),
        nullptr);
    EXPECT_NE(
        FindLocalizedResourceForLanguage(crafted.Handle(), DialogType, PageId, 0x0411, nullptr),
        nullptr);
}

TEST(FindLocalizedResource, TruncatedStringBlockIsNotReadPastItsEnd) {
    ASSERT_NE(Built(), nullptr);
    // Entry 0 claims 40 units but the block holds 3; entry 1 would lie beyond the end.
    std::vector<WORD> bad = {40, L'a', L'b', L'c'};
    std::vector<WORD> shortBlock = {2, L'x', L'y'};
    CraftedModule crafted(
        {{StringType, 7, 0x0409, Bytes(bad)}, {StringType, 8, 0x0409, Bytes(shortBlock)}});
    ASSERT_NE(crafted.Handle(), nullptr);
    EXPECT_EQ(FindLocalizedResourceForLanguage(crafted.Handle(), StringType, 96, 0x0409, nullptr),
              nullptr);
    EXPECT_EQ(FindLocalizedResourceForLanguage(crafted.Handle(), StringType, 103, 0x0409, nullptr),
              nullptr);
    const void* x =
        FindLocalizedResourceForLanguage(crafted.Handle(), StringType, 112, 0x0409, nullptr);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(EntryText(x), L"xy");
    EXPECT_EQ(FindLocalizedResourceForLanguage(crafted.Handle(), StringType, 113, 0x0409, nullptr),
              nullptr);
}

// ---- The page title in the ANSI code page ----

namespace {

// The title that this process's system language chooses, as the host should receive it.
std::string ExpectedAnsiTitle(HMODULE module) {
    const void* entry = FindLocalizedResource(module, StringType, PageId, nullptr);
    return entry ? WideToCodePage(EntryText(entry), CP_ACP) : std::string();
}

}  // namespace

TEST(LoadPageTitle, FitsWithItsTerminatingZero) {
    ASSERT_NE(Built(), nullptr);
    const std::string title = ExpectedAnsiTitle(Built());
    ASSERT_FALSE(title.empty());
    std::vector<char> buffer(title.size() + 1, 'X');
    EXPECT_TRUE(LoadPageTitle(Built(), buffer.data(), static_cast<unsigned long>(buffer.size())));
    EXPECT_EQ(std::string(buffer.data()), title);

    char large[260];
    memset(large, 'X', sizeof(large));
    EXPECT_TRUE(LoadPageTitle(Built(), large, sizeof(large)));
    EXPECT_EQ(std::string(large), title);
    EXPECT_EQ(large[sizeof(large) - 1], 0);  // zero-filled to the end
}

TEST(LoadPageTitle, ExactlyBufferSizedTitleIsRefusedButTerminated) {
    ASSERT_NE(Built(), nullptr);
    const std::string title = ExpectedAnsiTitle(Built());
    ASSERT_GT(title.size(), 1u);
    for (size_t size : {title.size(), title.size() - 1, size_t(1)}) {
        std::vector<char> buffer(size + 1, 'X');  // one guard byte past the buffer
        EXPECT_FALSE(LoadPageTitle(Built(), buffer.data(), static_cast<unsigned long>(size)))
            << size;
        EXPECT_EQ(buffer[size - 1], 0) << size;
        EXPECT_EQ(strlen(buffer.data()), 0u) << size;
        EXPECT_EQ(buffer[size], 'X') << "written past a buffer of " << size;
    }
}

TEST(LoadPageTitle, NoBufferNoWrite) {
    ASSERT_NE(Built(), nullptr);
    char buffer[4] = {'X', 'X', 'X', 'X'};
    EXPECT_FALSE(LoadPageTitle(Built(), buffer, 0));
    EXPECT_EQ(buffer[0], 'X');
    EXPECT_FALSE(LoadPageTitle(Built(), nullptr, 100));
}

TEST(LoadPageTitle, MissingOrEmptyTitle) {
    ASSERT_NE(Built(), nullptr);
    const WORD system = GetSystemDefaultLangID();
    {
        // No string block 7 at all: the buffer stays untouched.
        CraftedModule crafted({{StringType, 8, system, Bytes(StringBlock(NumberedStrings(112)))}});
        ASSERT_NE(crafted.Handle(), nullptr);
        char buffer[8] = {'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X'};
        EXPECT_FALSE(LoadPageTitle(crafted.Handle(), buffer, sizeof(buffer)));
        EXPECT_EQ(buffer[0], 'X');
    }
    {
        std::vector<std::wstring> strings(16);
        strings[0] = L"not the title";
        CraftedModule crafted({{StringType, 7, system, Bytes(StringBlock(strings))}});
        ASSERT_NE(crafted.Handle(), nullptr);
        char buffer[8] = {'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X'};
        EXPECT_FALSE(LoadPageTitle(crafted.Handle(), buffer, sizeof(buffer)));
        EXPECT_EQ(buffer[0], 0);
    }
}
