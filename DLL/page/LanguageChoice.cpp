#include "DLL/page/LanguageChoice.h"

const LanguageCodePage LanguageCodePageTable[LanguageCodePageRows + 1] = {
    {0x0401, 1256}, {0x0801, 1256}, {0x0C01, 1256}, {0x1001, 1256}, {0x1401, 1256}, {0x1801, 1256},
    {0x1C01, 1256}, {0x2001, 1256}, {0x2401, 1256}, {0x2801, 1256}, {0x2C01, 1256}, {0x3001, 1256},
    {0x3401, 1256}, {0x3801, 1256}, {0x3C01, 1256}, {0x4001, 1256}, {0x0402, 1251}, {0x0403, 1252},
    {0x0404, 950},  {0x0804, 936},  {0x0C04, 950},  {0x1004, 936},  {0x1404, 950},  {0x0405, 1250},
    {0x0406, 1252}, {0x0407, 1252}, {0x0807, 1252}, {0x0C07, 1252}, {0x1007, 1252}, {0x1407, 1252},
    {0x0408, 1253}, {0x0409, 1252}, {0x0809, 1252}, {0x0C09, 1252}, {0x1009, 1252}, {0x1409, 1252},
    {0x1809, 1252}, {0x1C09, 1252}, {0x2009, 1252}, {0x2409, 1252}, {0x2809, 1252}, {0x2C09, 1252},
    {0x3009, 1252}, {0x3409, 1252}, {0x040A, 1252}, {0x080A, 1252}, {0x0C0A, 1252}, {0x100A, 1252},
    {0x140A, 1252}, {0x180A, 1252}, {0x1C0A, 1252}, {0x200A, 1252}, {0x240A, 1252}, {0x280A, 1252},
    {0x2C0A, 1252}, {0x300A, 1252}, {0x340A, 1252}, {0x380A, 1252}, {0x3C0A, 1252}, {0x400A, 1252},
    {0x440A, 1252}, {0x480A, 1252}, {0x4C0A, 1252}, {0x500A, 1252}, {0x040B, 1252}, {0x040C, 1252},
    {0x080C, 1252}, {0x0C0C, 1252}, {0x100C, 1252}, {0x140C, 1252}, {0x180C, 1252}, {0x040D, 1255},
    {0x040E, 1250}, {0x040F, 1252}, {0x0410, 1252}, {0x0810, 1252}, {0x0411, 932},  {0x0412, 949},
    {0x0413, 1252}, {0x0813, 1252}, {0x0414, 1252}, {0x0814, 1252}, {0x0415, 1250}, {0x0416, 1252},
    {0x0816, 1252}, {0x0418, 1250}, {0x0419, 1251}, {0x041A, 1250}, {0x081A, 1250}, {0x0C1A, 1251},
    {0x041B, 1250}, {0x041C, 1250}, {0x041D, 1252}, {0x081D, 1252}, {0x041E, 874},  {0x041F, 1254},
    {0x0420, 1256}, {0x0421, 1252}, {0x0422, 1251}, {0x0423, 1251}, {0x0424, 1250}, {0x0425, 1257},
    {0x0426, 1257}, {0x0427, 1257}, {0x042A, 1258}, {0x042C, 1254}, {0x082C, 1251}, {0x042D, 1252},
    {0x042F, 1251}, {0x0436, 1252}, {0x0437, 0},    {0x0438, 1252}, {0x043E, 1252}, {0x083E, 1252},
    {0x043F, 1251}, {0x0441, 1252}, {0x0443, 1254}, {0x0843, 1251}, {0x0444, 1251}, {0x0000, 0},
};

static_assert(sizeof(LanguageCodePageTable) / sizeof(LanguageCodePageTable[0]) == 120,
              "119 languages and the terminating row");

int CodePageForLanguage(std::uint16_t langid) {
    for (const LanguageCodePage* row = LanguageCodePageTable; row->LangId != 0; ++row) {
        if (row->LangId == langid) return row->CodePage;
    }
    return 3;
}

LanguageStep ConsiderLanguage(std::uint16_t systemLangId, int systemCodePage,
                              std::uint16_t chosenLangId, std::uint16_t langid) {
    if (langid == systemLangId) return LanguageStep::TakeAndStop;
    if ((langid & 0x3FF) != (systemLangId & 0x3FF)) return LanguageStep::Pass;
    if (CodePageForLanguage(langid) != systemCodePage) return LanguageStep::Pass;
    // Among the variants of the same language and code page, the smallest sublanguage wins.
    if (chosenLangId != 0 && (chosenLangId >> 10) < (langid >> 10)) return LanguageStep::Pass;
    return LanguageStep::Take;
}
