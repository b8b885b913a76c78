// Choice of the page's resource language by the system default language.
#pragma once

#include <windows.h>

#include "DLL/page/LanguageChoice.h"

// Working record of one selection, updated by MatchResourceLanguage.
struct LanguageMatch {
    WORD Primary;
    WORD Sublanguage;
    int CodePage;
    HRSRC Resource;
    WORD LangId;
};

// EnumResourceLanguagesA callback; lParam is the address of a LanguageMatch.
BOOL CALLBACK MatchResourceLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD langid,
                                    LONG_PTR lParam);

// Pointer to the resource data in the variant that suits the system default language,
// English (United States) otherwise. For RT_STRING, the length-prefixed entry of string `id`.
const void* FindLocalizedResource(HMODULE module, int type, int id, DWORD* sizeOut);

// The same choice made for a given system language.
const void* FindLocalizedResourceForLanguage(HMODULE module, int type, int id, WORD systemLangId,
                                             DWORD* sizeOut);

// Page title in the ANSI code page, always zero-terminated; false when it is missing or does not
// fit.
bool LoadPageTitle(HMODULE module, char* buffer, unsigned long size);
