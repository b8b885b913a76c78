#include "DLL/page/LocalizedResource.h"
#include "DLL/page/StringTable.h"
#include "DLL/resources/PageIds.h"

#include <cstring>

namespace {

const WORD EnglishUnitedStates = 0x0409;

WORD MakeLangId(WORD primary, WORD sublanguage) {
    return static_cast<WORD>((sublanguage << 10) | primary);
}

}  // namespace

BOOL CALLBACK MatchResourceLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD langid,
                                    LONG_PTR lParam) {
    LanguageMatch* match = reinterpret_cast<LanguageMatch*>(lParam);
    const LanguageStep step = ConsiderLanguage(MakeLangId(match->Primary, match->Sublanguage),
                                               match->CodePage, match->LangId, langid);
    if (step == LanguageStep::Pass) return TRUE;
    HRSRC found = FindResourceExA(module, type, name, langid);
    if (!found) return TRUE;
    match->Resource = found;
    match->LangId = langid;
    // An exact match ends the search.
    return step == LanguageStep::TakeAndStop ? FALSE : TRUE;
}

const void* FindLocalizedResourceForLanguage(HMODULE module, int type, int id, WORD systemLangId,
                                             DWORD* sizeOut) {
    const bool isString = type == 6;  // RT_STRING
    const WORD nameId =
        isString ? static_cast<WORD>(static_cast<unsigned>(id) / 16 + 1) : static_cast<WORD>(id);
    LPCSTR typeName = MAKEINTRESOURCEA(static_cast<WORD>(type));
    LPCSTR resourceName = MAKEINTRESOURCEA(nameId);

    LanguageMatch match;
    match.Primary = static_cast<WORD>(systemLangId & 0x3FF);
    match.Sublanguage = static_cast<WORD>(systemLangId >> 10);
    match.CodePage = CodePageForLanguage(systemLangId);
    match.Resource = nullptr;
    match.LangId = 0;
    EnumResourceLanguagesA(module, typeName, resourceName, MatchResourceLanguage,
                           reinterpret_cast<LONG_PTR>(&match));

    HRSRC resource = match.Resource;
    if (!resource) resource = FindResourceExA(module, typeName, resourceName, EnglishUnitedStates);
    if (!resource) return nullptr;

    const DWORD size = SizeofResource(module, resource);
    if (sizeOut) *sizeOut = size;
    HGLOBAL loaded = LoadResource(module, resource);
    if (!loaded) return nullptr;
    const void* data = LockResource(loaded);
    if (!data) return nullptr;
    if (!isString) return data;
    std::size_t offset = 0;
    if (!FindStringEntry(static_cast<const unsigned char*>(data), size,
                         static_cast<unsigned>(id) % 16, &offset))
        return nullptr;
    return static_cast<const unsigned char*>(data) + offset;
}

const void* FindLocalizedResource(HMODULE module, int type, int id, DWORD* sizeOut) {
    return FindLocalizedResourceForLanguage(module, type, id, GetSystemDefaultLangID(), sizeOut);
}

bool LoadPageTitle(HMODULE module, char* buffer, unsigned long size) {
    if (!buffer || size == 0) return false;
    const WORD* entry =
        static_cast<const WORD*>(FindLocalizedResource(module, 6, IDS_PAGE_TITLE, nullptr));
    if (!entry) return false;
    const int count = entry[0];
    std::memset(buffer, 0, size);
    // The last byte stays zero, so the host always gets a terminated string.
    const unsigned long room = size - 1;
    if (count == 0 || room == 0) return false;
    const int capacity = room > 0x7FFFFFFFul ? 0x7FFFFFFF : static_cast<int>(room);
    const int written = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(entry + 1), count,
                                            buffer, capacity, nullptr, nullptr);
    if (written == 0) {
        std::memset(buffer, 0, size);
        return false;
    }
    return true;
}
