// The host's page, as a person sees it: its picture, a valid, compressed PNG (its chunks checked
// here, CRCs included; its pixels decoded by the platform's imaging component) of the dialog's
// size with every control drawn in place, and its live window, whose controls are read back.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "Common/Owners.h"
#include "DLL/resources/PageIds.h"
#include "tests/common/TestPaths.h"
#include "tests/dllhostprogram/ProgramRunner.h"

namespace {

unsigned long BigEndian(const unsigned char* p) {
    return (static_cast<unsigned long>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

unsigned long Crc(const unsigned char* data, size_t size) {
    unsigned long crc = 0xFFFFFFFFUL;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320UL ^ (crc >> 1) : crc >> 1;
    }
    return ~crc & 0xFFFFFFFFUL;
}

struct Picture {
    unsigned long width = 0, height = 0;
    size_t fileSize = 0;
    std::vector<unsigned char> bgra;
};

// What a decoder may pass over: every chunk's CRC, the header's format, and a clean end.
::testing::AssertionResult CheckChunks(const std::string& bytes, Picture* picture) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 8 || std::memcmp(p, signature, 8) != 0)
        return ::testing::AssertionFailure() << "no PNG signature";
    std::vector<unsigned char> zlib;
    bool ended = false;
    size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const unsigned long length = BigEndian(p + at);
        if (at + 12 + length > bytes.size())
            return ::testing::AssertionFailure() << "chunk overruns";
        const std::string type(reinterpret_cast<const char*>(p + at + 4), 4);
        if (Crc(p + at + 4, 4 + length) != BigEndian(p + at + 8 + length))
            return ::testing::AssertionFailure() << "bad CRC in " << type;
        const unsigned char* data = p + at + 8;
        if (type == "IHDR") {
            if (length != 13 || data[8] != 8 || data[9] != 2 || data[12] != 0)
                return ::testing::AssertionFailure() << "not 8-bit RGB";
            picture->width = BigEndian(data);
            picture->height = BigEndian(data + 4);
        } else if (type == "IDAT") {
            zlib.insert(zlib.end(), data, data + length);
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + length;
    }
    if (!ended || at != bytes.size()) return ::testing::AssertionFailure() << "no clean IEND";
    if (zlib.size() < 6 || ((zlib[0] << 8) | zlib[1]) % 31 != 0 || (zlib[0] & 0x0F) != 8)
        return ::testing::AssertionFailure() << "bad zlib header";
    picture->fileSize = bytes.size();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Failed(const char* what, HRESULT result) {
    return ::testing::AssertionFailure()
           << what << " failed: 0x" << std::hex << static_cast<unsigned long>(result);
}

// Inflating, unfiltering and the Adler-32 are the decoder's; it releases the file on return.
::testing::AssertionResult DecodePixels(const std::wstring& path, Picture* picture) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr =
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Receive()));
    if (FAILED(hr)) return Failed("CoCreateInstance(CLSID_WICImagingFactory)", hr);
    ComPtr<IWICBitmapDecoder> decoder;
    hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                            WICDecodeMetadataCacheOnDemand, decoder.Receive());
    if (FAILED(hr)) return Failed("CreateDecoderFromFilename", hr);
    GUID container = {};
    if (FAILED(decoder->GetContainerFormat(&container)) ||
        !IsEqualGUID(container, GUID_ContainerFormatPng))
        return ::testing::AssertionFailure() << "not decoded as a PNG";
    UINT frames = 0;
    if (FAILED(decoder->GetFrameCount(&frames)) || frames != 1)
        return ::testing::AssertionFailure() << frames << " frames";
    ComPtr<IWICBitmapFrameDecode> frame;
    hr = decoder->GetFrame(0, frame.Receive());
    if (FAILED(hr)) return Failed("GetFrame", hr);
    UINT width = 0, height = 0;
    hr = frame->GetSize(&width, &height);
    if (FAILED(hr)) return Failed("GetSize", hr);
    if (width != picture->width || height != picture->height)
        return ::testing::AssertionFailure()
               << "decoded " << width << " x " << height << " against a header of "
               << picture->width << " x " << picture->height;
    ComPtr<IWICFormatConverter> converter;
    hr = factory->CreateFormatConverter(converter.Receive());
    if (FAILED(hr)) return Failed("CreateFormatConverter", hr);
    hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                               nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return Failed("IWICFormatConverter::Initialize", hr);
    const UINT stride = width * 4;
    picture->bgra.assign(static_cast<size_t>(stride) * height, 0);
    hr = converter->CopyPixels(nullptr, stride, static_cast<UINT>(picture->bgra.size()),
                               picture->bgra.data());
    if (FAILED(hr)) return Failed("CopyPixels", hr);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Decode(const std::string& path, Picture* picture) {
    const ::testing::AssertionResult chunks = CheckChunks(ReadTextFile(path), picture);
    if (!chunks) return chunks;
    const int wide = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (wide <= 0) return ::testing::AssertionFailure() << "cannot convert " << path;
    std::wstring widePath(wide, L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &widePath[0], wide);
    widePath.resize(wide - 1);
    // COM already set up in another mode on this thread is used as it is.
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const ComApartment com(SUCCEEDED(initialised));
    if (!com && initialised != RPC_E_CHANGED_MODE)
        return ::testing::AssertionFailure() << "COM did not start";
    return DecodePixels(widePath, picture);
}

// One control of a page: its place in the page's client area and what it says.
struct PageControl {
    int id = 0;
    std::string className;
    std::string text;
    RECT rect = {};
};

// The English page as its template alone makes it (from the library, as a dialog here): its
// size in pixels and its controls, against which the host's page is compared.
struct ReferencePage {
    SIZE size = {0, 0};
    std::vector<PageControl> controls;
};

ReferencePage EnglishReferencePage() {
    ReferencePage page;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    // The shipped library: the same resources, and inert here.
    HMODULE library = LoadLibraryA((BinFolder() + "KOVALTIX.dll").c_str());
    HRSRC found =
        FindResourceExA(library, reinterpret_cast<LPCSTR>(RT_DIALOG), MAKEINTRESOURCEA(103),
                        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    HGLOBAL loaded = found ? LoadResource(library, found) : nullptr;
    const void* dialogTemplate = loaded ? LockResource(loaded) : nullptr;
    if (!dialogTemplate) {
        ADD_FAILURE() << "no English dialog 103 in KOVALTIX.dll";
        if (library) FreeLibrary(library);
        return page;
    }
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND dialog = CreateDialogIndirectParamA(
        library, static_cast<LPCDLGTEMPLATEA>(dialogTemplate), parent,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    EXPECT_NE(nullptr, dialog) << "error " << GetLastError();
    RECT rect;
    if (dialog && GetWindowRect(dialog, &rect)) {
        page.size.cx = rect.right - rect.left;
        page.size.cy = rect.bottom - rect.top;
        for (HWND child = GetWindow(dialog, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            PageControl control;
            control.id = GetDlgCtrlID(child);
            char text[256] = "";
            GetClassNameA(child, text, sizeof(text));
            control.className = text;
            GetWindowTextA(child, text, sizeof(text));
            control.text = text;
            GetWindowRect(child, &control.rect);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&control.rect), 2);
            page.controls.push_back(control);
        }
    }
    if (dialog) DestroyWindow(dialog);
    if (parent) DestroyWindow(parent);
    FreeLibrary(library);
    return page;
}

// The host's snapshot is a picture of the page: of the dialog's size, with something drawn
// wherever the template puts a control (a blank or misplaced capture, or a page whose controls
// are missing or hidden, leaves some of them a flat colour).
TEST(HostPageSnapshot, EnglishPageAtTheDialogSizeWithEveryControlDrawnInPlace) {
    const std::string folder = BinFolder() + "hostsnapshot";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyInto(BinFolder() + "KOVALTIX.exe", folder + "\\KOVALTIX.exe"));
    ASSERT_TRUE(CopyInto(BinFolder() + "KOVALTIXV.dll", folder + "\\KOVALTIX.dll"));
    const std::string picture = folder + "\\page.png";
    ProgramResult result =
        RunProgram("\"" + folder + "\\KOVALTIX.exe\" window --snapshot \"" + picture + "\"");
    ASSERT_EQ(0, result.exitCode) << result.output;
    // The title the library hands to its host.
    EXPECT_NE(std::string::npos, result.output.find("\"Advanced Setting\"")) << result.output;

    Picture decoded;
    ASSERT_TRUE(Decode(picture, &decoded));
    const ReferencePage reference = EnglishReferencePage();
    ASSERT_GT(reference.size.cx, 100);
    EXPECT_EQ(static_cast<unsigned long>(reference.size.cx), decoded.width);
    EXPECT_EQ(static_cast<unsigned long>(reference.size.cy), decoded.height);
    EXPECT_LT(decoded.fileSize, decoded.width * decoded.height * 3 / 4) << "hardly compressed";

    ASSERT_GE(reference.controls.size(), 20u);
    for (const PageControl& control : reference.controls) {
        std::set<unsigned long> colours;
        for (long y = std::max(0L, control.rect.top);
             y < std::min(static_cast<long>(decoded.height), control.rect.bottom); ++y) {
            for (long x = std::max(0L, control.rect.left);
                 x < std::min(static_cast<long>(decoded.width), control.rect.right); ++x) {
                const unsigned char* c = &decoded.bgra[(y * decoded.width + x) * 4];
                colours.insert((c[2] << 16) | (c[1] << 8) | c[0]);
            }
        }
        EXPECT_GT(colours.size(), 1u) << "nothing drawn where control " << control.id << " ("
                                      << control.className << " \"" << control.text << "\") is";
    }
    RemoveTree(folder);
}

}  // namespace

namespace {

struct FoundWindow {
    DWORD process;
    HWND window;
};

HWND TopLevelWindowOf(DWORD process) {
    FoundWindow found = {process, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            FoundWindow* f = reinterpret_cast<FoundWindow*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != f->process || !IsWindowVisible(window)) return TRUE;
            f->window = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.window;
}

// What a control of another process says and shows; messages to another process are answered
// by its thread, so none may wait for ever.
LRESULT Ask(HWND control, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(control, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer))
        ADD_FAILURE() << "no answer to message " << message;
    return static_cast<LRESULT>(answer);
}

std::string TextOf(HWND control) {
    char text[256] = "";
    Ask(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    return text;
}

bool Checked(HWND page, int id) { return Ask(GetDlgItem(page, id), BM_GETCHECK) == BST_CHECKED; }

// A person's session: the window shows the library's title and the page with the camera's
// stored settings, every text as the template has it, and closing it ends the program cleanly.
TEST(HostPageWindow, ShowsTheStoredSettingsUnderTheLibrarysTitleAndEndsWhenClosed) {
    const std::string folder = BinFolder() + "hostwindow";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyInto(BinFolder() + "KOVALTIX.exe", folder + "\\KOVALTIX.exe"));
    ASSERT_TRUE(CopyInto(BinFolder() + "KOVALTIXV.dll", folder + "\\KOVALTIX.dll"));
    const std::string host = "\"" + folder + "\\KOVALTIX.exe\" ";
    // Settings other than the defaults, so the page can only show them by reading them.
    ASSERT_EQ(0, RunProgram(host + "set Exposure 0 123").exitCode);
    ASSERT_EQ(0, RunProgram(host + "set Flip 1").exitCode);
    ASSERT_EQ(0, RunProgram(host + "set PowerLine 0").exitCode);
    const ReferencePage reference = EnglishReferencePage();

    std::string commandLine = host + "window";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               folder.c_str(), &startup, &process));
    HWND window = nullptr;
    for (int i = 0; i < 200 && !window; ++i) {
        Sleep(50);
        window = TopLevelWindowOf(process.dwProcessId);
    }
    EXPECT_NE(nullptr, window);
    if (window) {
        char caption[128] = "";
        GetWindowTextA(window, caption, sizeof(caption));
        EXPECT_STREQ("Advanced Setting", caption);
        HWND page = FindWindowExA(window, nullptr, reinterpret_cast<LPCSTR>(WC_DIALOG), nullptr);
        EXPECT_NE(nullptr, page);
        RECT client, pageRect;
        GetClientRect(window, &client);
        if (page && GetWindowRect(page, &pageRect)) {
            EXPECT_EQ(pageRect.right - pageRect.left, client.right) << "fitted to the page";
            EXPECT_EQ(pageRect.bottom - pageRect.top, client.bottom);
        }
        if (page) {
            // Every control of the template, in its order, visible, and saying what the
            // template says (the edit boxes show numbers, below).
            std::vector<HWND> shown;
            for (HWND child = GetWindow(page, GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT))
                shown.push_back(child);
            EXPECT_EQ(reference.controls.size(), shown.size());
            for (size_t i = 0; i < std::min(shown.size(), reference.controls.size()); ++i) {
                const PageControl& control = reference.controls[i];
                SCOPED_TRACE(testing::Message() << "control #" << i + 1 << " id " << control.id);
                char className[64] = "";
                GetClassNameA(shown[i], className, sizeof(className));
                EXPECT_EQ(control.className, className);
                EXPECT_EQ(control.id, GetDlgCtrlID(shown[i]));
                EXPECT_TRUE(IsWindowVisible(shown[i]));
                if (control.className != "Edit") {
                    EXPECT_EQ(control.text, TextOf(shown[i]));
                }
            }
            HWND exposure = GetDlgItem(page, IDC_EXPOSURE_SLIDER);
            EXPECT_EQ(123, Ask(exposure, TBM_GETPOS));
            EXPECT_EQ("123", TextOf(GetDlgItem(page, IDC_EXPOSURE_EDIT)));
            EXPECT_TRUE(IsWindowEnabled(exposure)) << "manual exposure: the slider is usable";
            EXPECT_FALSE(Checked(page, IDC_EXPOSURE_AUTO));
            EXPECT_TRUE(Checked(page, IDC_WB_AUTO)) << "white balance stays automatic";
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_WB_RED_SLIDER)));
            EXPECT_TRUE(Checked(page, IDC_FLIP));
            EXPECT_TRUE(Checked(page, IDC_POWERLINE_OUTDOOR));
            EXPECT_FALSE(Checked(page, IDC_POWERLINE_60HZ));
        }
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    const bool ended = WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended);
    if (!ended) TerminateProcess(process.hProcess, 255);
    DWORD code = 255;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (const char* group : {"Exposure", "Flip", "PowerLine"})
        EXPECT_EQ(0, RunProgram(host + "reset " + group).exitCode) << group;
    RemoveTree(folder);
}

}  // namespace
