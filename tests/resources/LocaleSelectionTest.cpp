// The language choice under real system languages: Wine takes the system language and the
// ANSI code page from LC_ALL when a process starts, so each locale runs in a child process.
// A Windows child keeps its parent's locale whatever its environment block says, so the child
// is started through the Wine loader, a Unix program, which does get the block's LC_ALL.
#include "DLL/page/LocalizedResource.h"
#include "tests/resources/ExpectedPages.h"
#include "tests/resources/PageTemplate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

const char* ReportVariable = "KOVALTIX_LOCALE_REPORT";

std::string Hex(const std::string& bytes)
{
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        snprintf(two, sizeof(two), "%02X", c);
        out += two;
    }
    return out;
}

WORD ChosenLanguage(HMODULE module, int type, const void* data)
{
    for (const ExpectedLanguage& lang : ExpectedLanguages) {
        if (data && FindLocalizedResourceForLanguage(module, type, 103, lang.LangId, nullptr) == data)
            return lang.LangId;
    }
    return 0;
}

std::string UnixToWindowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

struct Child {
    const char* Locale;
    WORD SystemLangId;
    UINT CodePage;
    WORD Chosen;
    std::string ReportPath;

};

// The current environment with LC_ALL and the report path replaced; sorted as Windows keeps it.
std::string ChildEnvironment(const char* locale, const std::string& reportPath)
{
    std::string block;
    char* strings = GetEnvironmentStringsA();
    for (const char* s = strings; *s; s += strlen(s) + 1) {
        if (_strnicmp(s, "LC_ALL=", 7) == 0 || _strnicmp(s, ReportVariable, strlen(ReportVariable)) == 0)
            continue;
        block.append(s).push_back('\0');
    }
    FreeEnvironmentStringsA(strings);
    block.append("LC_ALL=").append(locale).push_back('\0');
    block.append(ReportVariable).append("=").append(reportPath).push_back('\0');
    block.push_back('\0');
    return block;
}

// The Wine loader's Unix path; empty when it cannot be found. It must also be the loader's
// argv[0], from which it finds the rest of Wine.
std::string WineLoader()
{
    char configured[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KOVALTIX_WINE_LOADER", configured, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
        return configured;
    for (const char* candidate : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/lib/wine/wine", "/usr/bin/wine"}) {
        if (GetFileAttributesA(UnixToWindowsPath(candidate).c_str()) != INVALID_FILE_ATTRIBUTES)
            return candidate;
    }
    return std::string();
}

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle()
    {
        if (handle_ && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace

// Runs only inside a child started below.
TEST(LocaleChild, DISABLED_Report)
{
    const char* path = getenv(ReportVariable);
    ASSERT_NE(path, nullptr);
    ResourceModule module(BuiltLibraryPath());
    ASSERT_NE(module.Handle(), nullptr);
    char title[256];
    const bool ok = LoadPageTitle(module.Handle(), title, sizeof(title));
    // Written aside and renamed: the parent polls for the finished report.
    const std::string part = std::string(path) + ".part";
    FILE* file = fopen(part.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fprintf(file, "%04X %u %04X %04X %d %s\n", GetSystemDefaultLangID(), GetACP(),
            ChosenLanguage(module.Handle(), 5, FindLocalizedResource(module.Handle(), 5, 103, nullptr)),
            ChosenLanguage(module.Handle(), 6, FindLocalizedResource(module.Handle(), 6, 103, nullptr)), ok ? 1 : 0,
            Hex(ok ? std::string(title) : std::string()).c_str());
    fclose(file);
    ASSERT_TRUE(MoveFileA(part.c_str(), path));
}

TEST(LocaleSelection, ChoiceAndTitleUnderSystemLocales)
{
    std::vector<Child> children = {
        {"ja_JP.UTF-8", 0x0411, 932, 0x0411},   // exact
        {"pt_PT.UTF-8", 0x0816, 1252, 0x0816},  // exact, not the Brazilian variant
        {"pt_BR.UTF-8", 0x0416, 1252, 0x0416},
        {"zh_SG.UTF-8", 0x1004, 936, 0x0804},   // same language and code page
        {"zh_HK.UTF-8", 0x0C04, 950, 0x0C04},
        {"de_AT.UTF-8", 0x0C07, 1252, 0x0407},
        {"en_GB.UTF-8", 0x0809, 1252, 0x0409},
        {"es_MX.UTF-8", 0x080A, 1252, 0x0C0A},
        {"ar_EG.UTF-8", 0x0C01, 1256, 0x0401},
        {"he_IL.UTF-8", 0x040D, 1255, 0x040D},
        {"fr_CM.UTF-8", 0x2C0C, 1252, 0x0409},  // not in the code-page table
        {"ru_RU.UTF-8", 0x0419, 1251, 0x0409},  // no Russian page: English
    };
    char program[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string loader = WineLoader();
    ASSERT_FALSE(loader.empty()) << "set KOVALTIX_WINE_LOADER to the Wine loader's path";
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    OwnedHandle quiet(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  OPEN_EXISTING, 0, nullptr));

    for (size_t i = 0; i < children.size(); ++i) {
        Child& child = children[i];
        child.ReportPath = std::string(folder) + "kovaltix-locale-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(i) + ".txt";
        DeleteFileA(child.ReportPath.c_str());
        std::string environment = ChildEnvironment(child.Locale, child.ReportPath);
        std::string command = loader + " \"" + program +
                              "\" --gtest_also_run_disabled_tests --gtest_filter=LocaleChild.DISABLED_Report";
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = quiet.Get();
        // The loader is a Unix process: Wine hands back no handle to wait on.
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessA(UnixToWindowsPath(loader).c_str(), &command[0], nullptr, nullptr, TRUE, 0, &environment[0], nullptr,
                                   &startup, &process))
            << child.Locale << " error " << GetLastError();
        if (process.hThread)
            CloseHandle(process.hThread);
        if (process.hProcess)
            CloseHandle(process.hProcess);
    }
    for (Child& child : children) {
        SCOPED_TRACE(child.Locale);
        const ULONGLONG deadline = GetTickCount64() + 120000;
        while (GetFileAttributesA(child.ReportPath.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline)
            Sleep(100);
        ASSERT_NE(GetFileAttributesA(child.ReportPath.c_str()), INVALID_FILE_ATTRIBUTES) << "no report from the child";

        std::ifstream report(child.ReportPath);
        unsigned system = 0, dialog = 0, title = 0;
        UINT codePage = 0;
        int ok = 0;
        std::string bytes;
        report >> std::hex >> system >> std::dec >> codePage >> std::hex >> dialog >> title >> std::dec >> ok >> bytes;
        report.close();
        DeleteFileA(child.ReportPath.c_str());

        EXPECT_EQ(system, child.SystemLangId) << "Wine mapped the locale differently";
        EXPECT_EQ(codePage, child.CodePage);
        EXPECT_EQ(dialog, child.Chosen);
        EXPECT_EQ(title, child.Chosen) << "the title must come in the template's language";
        EXPECT_EQ(ok, 1);
        const ExpectedLanguage* lang = nullptr;
        for (const ExpectedLanguage& l : ExpectedLanguages) {
            if (l.LangId == child.Chosen)
                lang = &l;
        }
        ASSERT_NE(lang, nullptr);
        const std::string ansi = WideToCodePage(Utf8ToWide(lang->Title), child.CodePage);
        ASSERT_FALSE(ansi.empty());
        EXPECT_EQ(bytes, Hex(ansi));
    }
}
