// The 20 languages the page ships in, each with a system locale (an LC_ALL value) under which
// Wine takes it as the system language.
#pragma once

#include <windows.h>

struct PageLanguage {
    WORD LangId;
    const char* Locale;
};

const int PageLanguageCount = 20;

inline const PageLanguage PageLanguages[PageLanguageCount] = {
    {0x0401, "ar_SA.UTF-8"}, {0x0404, "zh_TW.UTF-8"}, {0x0406, "da_DK.UTF-8"},
    {0x0407, "de_DE.UTF-8"}, {0x0408, "el_GR.UTF-8"}, {0x0409, "en_US.UTF-8"},
    {0x040C, "fr_FR.UTF-8"}, {0x040D, "he_IL.UTF-8"}, {0x0410, "it_IT.UTF-8"},
    {0x0411, "ja_JP.UTF-8"}, {0x0412, "ko_KR.UTF-8"}, {0x0413, "nl_NL.UTF-8"},
    {0x0414, "nb_NO.UTF-8"}, {0x0416, "pt_BR.UTF-8"}, {0x041D, "sv_SE.UTF-8"},
    {0x041F, "tr_TR.UTF-8"}, {0x0804, "zh_CN.UTF-8"}, {0x0816, "pt_PT.UTF-8"},
    {0x0C04, "zh_HK.UTF-8"}, {0x0C0A, "es_ES.UTF-8"},
};
