// The host's picture of its live page: a valid, compressed PNG (its chunks checked here, CRCs
// included; its pixels decoded by the platform's imaging component) that shows the page at the
// size the dialog really has.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "Common/Owners.h"
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

// The English page's size in pixels, from the library's own template, made into a dialog here.
SIZE EnglishDialogSize() {
    SIZE size = {0, 0};
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
        return size;
    }
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND dialog = CreateDialogIndirectParamA(
        library, static_cast<LPCDLGTEMPLATEA>(dialogTemplate), parent,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    EXPECT_NE(nullptr, dialog) << "error " << GetLastError();
    RECT rect;
    if (dialog && GetWindowRect(dialog, &rect)) {
        size.cx = rect.right - rect.left;
        size.cy = rect.bottom - rect.top;
    }
    if (dialog) DestroyWindow(dialog);
    if (parent) DestroyWindow(parent);
    FreeLibrary(library);
    return size;
}

TEST(HostPageSnapshot, EnglishPageIsARealRenderingAtTheDialogSize) {
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
    const SIZE dialog = EnglishDialogSize();
    ASSERT_GT(dialog.cx, 100);
    EXPECT_EQ(static_cast<unsigned long>(dialog.cx), decoded.width);
    EXPECT_EQ(static_cast<unsigned long>(dialog.cy), decoded.height);
    EXPECT_LT(decoded.fileSize, decoded.width * decoded.height * 3 / 4) << "hardly compressed";

    // Not blank: the face colour, dark text, and the trackbars' and edit boxes' shades.
    std::set<unsigned long> colours;
    size_t dark = 0;
    const size_t pixels = decoded.bgra.size() / 4;
    for (size_t i = 0; i < pixels; ++i) {
        const unsigned char* c = &decoded.bgra[i * 4];
        colours.insert((c[2] << 16) | (c[1] << 8) | c[0]);
        if (c[0] + c[1] + c[2] < 3 * 96) ++dark;
    }
    EXPECT_GE(colours.size(), 8u);
    EXPECT_GT(dark, pixels / 400) << "hardly any text drawn";
    EXPECT_LT(dark, pixels / 2) << "mostly dark: not the page";
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

// A person's session: the window shows the library's title and the page, and closing it ends
// the program cleanly.
TEST(HostPageWindow, ShowsThePageUnderTheLibrarysTitleAndEndsWhenClosed) {
    const std::string folder = BinFolder() + "hostwindow";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyInto(BinFolder() + "KOVALTIX.exe", folder + "\\KOVALTIX.exe"));
    ASSERT_TRUE(CopyInto(BinFolder() + "KOVALTIXV.dll", folder + "\\KOVALTIX.dll"));
    std::string commandLine = "\"" + folder + "\\KOVALTIX.exe\" window";
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
    RemoveTree(folder);
}

}  // namespace
