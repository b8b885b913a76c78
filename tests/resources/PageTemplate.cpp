#include "tests/resources/PageTemplate.h"
#include "tests/common/TestPaths.h"

#include <cctype>
#include <cstring>

namespace {

class Reader {
public:
    Reader(const BYTE* data, DWORD size) : data(data), size(size) {}
    bool Ok() const { return ok; }
    DWORD Offset() const { return at; }
    template <typename T>
    T Take() {
        T value{};
        if (!ok || at + sizeof(T) > size) {
            ok = false;
            return value;
        }
        memcpy(&value, data + at, sizeof(T));
        at += sizeof(T);
        return value;
    }
    void AlignDword() { at = (at + 3) & ~3u; }
    void Skip(DWORD bytes) {
        if (at + bytes > size)
            ok = false;
        else
            at += bytes;
    }
    std::wstring Text() {
        std::wstring text;
        for (;;) {
            WORD unit = Take<WORD>();
            if (!ok || unit == 0) break;
            text.push_back(static_cast<wchar_t>(unit));
        }
        return text;
    }
    // A name or ordinal field: 0x0000 none, 0xFFFF then an ordinal, else a string.
    std::wstring NameOrOrdinal(WORD* ordinal) {
        *ordinal = 0;
        WORD first = Take<WORD>();
        if (first == 0) return std::wstring();
        if (first == 0xFFFF) {
            *ordinal = Take<WORD>();
            return std::wstring();
        }
        at -= sizeof(WORD);
        return Text();
    }

private:
    const BYTE* data;
    DWORD size;
    DWORD at = 0;
    bool ok = true;
};

std::string ClassName(const std::wstring& name, WORD ordinal) {
    switch (ordinal) {
    case 0x0080:
        return "BUTTON";
    case 0x0081:
        return "EDIT";
    case 0x0082:
        return "STATIC";
    case 0x0083:
        return "LISTBOX";
    case 0x0084:
        return "SCROLLBAR";
    case 0x0085:
        return "COMBOBOX";
    default:
        break;
    }
    std::string upper;
    for (wchar_t c : name)
        upper.push_back(
            static_cast<char>(std::toupper(static_cast<unsigned char>(c < 128 ? c : '?'))));
    return upper;
}

}  // namespace

bool ParsePageTemplate(const void* data, DWORD size, PageTemplate& out) {
    if (!data) return false;
    Reader in(static_cast<const BYTE*>(data), size);
    out = PageTemplate();
    out.Version = in.Take<WORD>();
    out.Signature = in.Take<WORD>();
    if (out.Version != 1 || out.Signature != 0xFFFF) return false;
    out.HelpId = in.Take<DWORD>();
    out.ExStyle = in.Take<DWORD>();
    out.Style = in.Take<DWORD>();
    WORD count = in.Take<WORD>();
    out.X = in.Take<short>();
    out.Y = in.Take<short>();
    out.Cx = in.Take<short>();
    out.Cy = in.Take<short>();
    WORD ordinal = 0;
    out.Menu = in.NameOrOrdinal(&ordinal);
    if (ordinal) out.Menu = L"#";
    out.WindowClass = in.NameOrOrdinal(&ordinal);
    if (ordinal) out.WindowClass = L"#";
    out.Caption = in.Text();
    if (out.Style & (DS_SETFONT | DS_SHELLFONT)) {
        out.PointSize = in.Take<WORD>();
        out.Weight = in.Take<WORD>();
        out.Italic = in.Take<BYTE>();
        out.Charset = in.Take<BYTE>();
        out.Font = in.Text();
    }
    for (WORD i = 0; i < count && in.Ok(); ++i) {
        in.AlignDword();
        TemplateControl control;
        control.HelpId = in.Take<DWORD>();
        control.ExStyle = in.Take<DWORD>();
        control.Style = in.Take<DWORD>();
        control.X = in.Take<short>();
        control.Y = in.Take<short>();
        control.Cx = in.Take<short>();
        control.Cy = in.Take<short>();
        control.Id = static_cast<int>(in.Take<DWORD>());
        std::wstring cls = in.NameOrOrdinal(&ordinal);
        control.Class = ClassName(cls, ordinal);
        control.Text = in.NameOrOrdinal(&ordinal);
        control.CreationBytes = in.Take<WORD>();
        in.Skip(control.CreationBytes);
        out.Controls.push_back(control);
    }
    return in.Ok() && out.Controls.size() == count;
}

std::string BuiltLibraryPath() { return BinFolder() + "KOVALTIX.dll"; }

ResourceModule::ResourceModule(const std::string& path)
    : module(LoadLibraryExA(path.c_str(), nullptr,
                            LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}

ResourceModule::~ResourceModule() {
    if (module) FreeLibrary(module);
}

std::vector<BYTE> ResourceBytes(HMODULE module, int type, int name, WORD langid) {
    std::vector<BYTE> bytes;
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(name), langid);
    if (!found) return bytes;
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (data) bytes.assign(data, data + size);
    return bytes;
}

static BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD langid, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(langid);
    return TRUE;
}

std::vector<WORD> ResourceLanguages(HMODULE module, int type, int name) {
    std::vector<WORD> languages;
    EnumResourceLanguagesA(module, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(name), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

std::wstring PageTitleIn(HMODULE module, WORD langid) {
    const std::vector<BYTE> block = ResourceBytes(module, 6, 103 / 16 + 1, langid);
    size_t at = 0;
    for (int index = 0; index < 16; ++index) {
        if (at + 2 > block.size()) break;
        WORD count;
        memcpy(&count, &block[at], 2);
        at += 2;
        if (at + count * 2u > block.size()) break;
        if (index == 103 % 16) {
            std::wstring text(count, L'\0');
            memcpy(&text[0], &block[at], count * 2u);
            return text;
        }
        at += count * 2u;
    }
    return std::wstring();
}

UINT PlatformCodePage(WORD langid) {
    DWORD codePage = 0;
    if (!GetLocaleInfoA(MAKELCID(langid, SORT_DEFAULT),
                        LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                        reinterpret_cast<LPSTR>(&codePage), sizeof(codePage)))
        return 0;
    return codePage;
}

bool ConvertsExactly(const std::wstring& text, UINT codePage) {
    if (text.empty()) return true;
    BOOL usedDefault = FALSE;
    const int length =
        WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(),
                            static_cast<int>(text.size()), nullptr, 0, nullptr, &usedDefault);
    return length > 0 && !usedDefault;
}

std::string WideToCodePage(const std::wstring& text, UINT codePage) {
    int length = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0],
                            length, nullptr, nullptr);
    return bytes;
}
