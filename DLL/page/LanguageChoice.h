#pragma once
// The page's language choice, over numbers: no platform calls, so it builds anywhere.
#include <cstdint>

struct LanguageCodePage {
    std::uint16_t LangId;
    int CodePage;
};

// Rows in ascending order of primary language, then sublanguage; ends with a LangId 0 row.
const int LanguageCodePageRows = 119;
extern const LanguageCodePage LanguageCodePageTable[LanguageCodePageRows + 1];

// ANSI code page of a LANGID; 3 for one that is not in the table.
int CodePageForLanguage(std::uint16_t langid);

// What the selection does with one language the resource exists in, given the system language,
// its code page and the variant chosen so far (0: none). The exact system language ends the
// search; a variant of the same primary language and code page is taken unless the one chosen
// has a smaller sublanguage; any other is passed over. The outcome is the same whatever order
// the languages come in.
enum class LanguageStep { Pass, Take, TakeAndStop };
LanguageStep ConsiderLanguage(std::uint16_t systemLangId, int systemCodePage,
                              std::uint16_t chosenLangId, std::uint16_t langid);
