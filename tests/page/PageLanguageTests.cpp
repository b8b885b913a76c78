// The page in a right-to-left and a CJK system language. The language follows the process's
// system locale, so each runs in a child process of this program started under that locale.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "DLL/props/KOVALTIX.h"
#include "DLL/resources/PageIds.h"
#include "tests/common/TestPaths.h"
#include "tests/common/CameraScene.h"
#include "tests/page/PageTestHost.h"

namespace {

struct LanguageCase {
    const char* locale;
    WORD langId;
    const char* title;          // UTF-8
    const char* exposureLabel;  // UTF-8
    bool rightToLeft;
};

const LanguageCase Languages[] = {
    {"ja_JP.UTF-8", 0x0411, "拡張設定", "露光:", false},
    {"he_IL.UTF-8", 0x040D, "הגדרות מתקדמות", "חשיפה:", true},
};

const char ChildVariable[] = "PAGE_TEST_LANGID";

std::wstring Wide(const char* utf8) {
    wchar_t buffer[128] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer, 128);
    return buffer;
}

std::string Ansi(const char* utf8) {
    char buffer[128] = {};
    WideCharToMultiByte(CP_ACP, 0, Wide(utf8).c_str(), -1, buffer, sizeof(buffer), nullptr,
                        nullptr);
    return buffer;
}

const LanguageCase* ChildLanguage() {
    const char* value = std::getenv(ChildVariable);
    if (value == nullptr) return nullptr;
    const WORD langId = static_cast<WORD>(std::strtoul(value, nullptr, 16));
    for (const LanguageCase& language : Languages) {
        if (language.langId == langId) return &language;
    }
    return nullptr;
}

// Runs only in a child started by the test below.
TEST(PageLanguageChild, DISABLED_PageInTheSystemLanguage) {
    const LanguageCase* language = ChildLanguage();
    ASSERT_NE(language, nullptr);
    ASSERT_EQ(GetSystemDefaultLangID(), language->langId);
    RegisterTrackbarClass();
    CameraScene camera({{"AECEx", 0}, {"ExposureEx", 100}});
    {
        KOVALTIX owner;
        char title[64] = {};
        HWND page = owner.CreateExtensionPropDialog(SharedHostWindow(), title, sizeof(title));
        ASSERT_NE(page, nullptr);
        PumpMessages();
        EXPECT_EQ(std::string(title), Ansi(language->title));

        wchar_t label[64] = {};
        GetWindowTextW(GetDlgItem(page, IDC_EXPOSURE_LABEL), label, 64);
        EXPECT_EQ(std::wstring(label), Wide(language->exposureLabel));
        EXPECT_EQ((GetWindowLongPtrA(page, GWL_EXSTYLE) & WS_EX_RTLREADING) != 0,
                  language->rightToLeft);

        camera.Mark();
        HWND trackbar = GetDlgItem(page, IDC_EXPOSURE_SLIDER);
        EXPECT_TRUE(IsUsable(trackbar));
        PressKey(trackbar, VK_RIGHT);
        EXPECT_EQ(camera.ValuesOf(SelExposure), std::vector<unsigned short>{101});
        EXPECT_EQ(camera.Setting("ExposureEx"), 101);
        SendMessageA(GetDlgItem(page, IDC_FLIP), BM_CLICK, 0, 0);
        EXPECT_EQ(camera.ValuesOf(SelFlip), std::vector<unsigned short>{1});
    }
    PumpMessages();
}

// Runs this program's child test under the locale; true when the one test ran and passed.
// Wine takes a process's system locale from its Unix LC_ALL, which a Windows environment block
// does not reach, so the child is started through a Unix shell that sets it.
bool RunChild(const LanguageCase& language, std::string* output) {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    char logPath[MAX_PATH] = {};
    GetTempFileNameA(folder, "pg", 0, logPath);
    const std::string unixProgram = UnixPath(program);
    const std::string unixLog = UnixPath(logPath);
    if (unixProgram.empty() || unixLog.empty()) {
        *output = "no Unix paths";
        return false;
    }

    char langText[16];
    wsprintfA(langText, "%04X", language.langId);
    // Wine cannot wait for a Unix process, so the shell appends the child's exit code as the
    // log's last line and the log is watched for it.
    const std::string command = std::string("LC_ALL=") + language.locale + " " + ChildVariable +
                                "=" + langText + " \\\"${WINELOADER:-/usr/lib/wine/wine64}\\\" '" +
                                unixProgram +
                                "' --gtest_also_run_disabled_tests "
                                "--gtest_filter=PageLanguageChild.* >'" +
                                unixLog + "' 2>&1; echo ChildExit=$? >>'" + unixLog + "'";
    const bool started = StartUnixCommand(command);
    const std::string done = "ChildExit=";
    for (int waited = 0; started && waited < 120000; waited += 100) {
        output->clear();
        HANDLE reader = CreateFileA(logPath, GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (reader != INVALID_HANDLE_VALUE) {
            char chunk[4096];
            DWORD read = 0;
            while (ReadFile(reader, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
                output->append(chunk, read);
            }
            CloseHandle(reader);
        }
        if (output->find(done) != std::string::npos) break;
        Sleep(100);
    }
    DeleteFileA(logPath);
    const bool passed = output->find(done + "0") != std::string::npos;
    if (!passed) *output += "\n" + command + "\nstarted " + std::to_string(started);
    return passed && output->find("[  PASSED  ] 1 test") != std::string::npos;
}

TEST(PageLanguage, RightToLeftAndCjkPagesWorkUnderTheirSystemLanguage) {
    if (ChildLanguage() != nullptr) GTEST_SKIP() << "child run";
    for (const LanguageCase& language : Languages) {
        std::string output;
        EXPECT_TRUE(RunChild(language, &output)) << language.locale << ":\n" << output;
    }
}

}  // namespace
