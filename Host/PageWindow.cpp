#include "Host/PageWindow.h"

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Common/Scoped.h"
#include "Host/ExitStatus.h"
#include "Host/Png.h"

namespace {

const char HostClass[] = "KovaltixHostWindow";
const DWORD HostStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    KOVALTIX* camera = reinterpret_cast<KOVALTIX*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE: {
        const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
    }
    case WM_CLOSE:
        // The page goes first, through its owner, so the object forgets its handle.
        if (camera) camera->CloseExtensionPropDialog();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Handles what is queued, then waits briefly for anything the handling caused.
void Settle() {
    MSG message;
    for (int round = 0; round < 5; ++round) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(50);
    }
}

// Title bytes are in the ANSI code page; a UTF-8 terminal shows them right after conversion.
std::string AnsiToUtf8(const char* text) {
    int wide = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (wide <= 0) return text;
    std::vector<wchar_t> buffer(wide);
    MultiByteToWideChar(CP_ACP, 0, text, -1, buffer.data(), wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return text;
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer.data(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(bytes - 1);
    return out;
}

// A window's device context, given back to that window.
struct WindowDc {
    HWND window;
    HDC dc;
    bool operator!=(const WindowDc& other) const { return dc != other.dc; }
};
struct WindowDcTraits {
    using Value = WindowDc;
    static Value Invalid() { return {nullptr, nullptr}; }
    static void Close(Value value) { ReleaseDC(value.window, value.dc); }
};
struct MemoryDcTraits {
    using Value = HDC;
    static Value Invalid() { return nullptr; }
    static void Close(Value dc) { DeleteDC(dc); }
};
struct BitmapTraits {
    using Value = HBITMAP;
    static Value Invalid() { return nullptr; }
    static void Close(Value bitmap) { DeleteObject(bitmap); }
};

// Copies what is on the screen inside the page (its children included) into bgr rows.
bool CapturePage(HWND page, int* width, int* height, std::vector<unsigned char>* bgr) {
    RECT rect;
    if (!GetWindowRect(page, &rect)) return false;
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    if (w <= 0 || h <= 0) return false;

    // The top-level window's DC sees the children too; the page's own DC may clip them away.
    HWND top = GetAncestor(page, GA_ROOT);
    POINT origin = {0, 0};
    MapWindowPoints(page, top, &origin, 1);

    const Scoped<WindowDcTraits> screen(WindowDc{top, GetDC(top)});
    if (!screen) return false;
    const Scoped<MemoryDcTraits> memory(CreateCompatibleDC(screen.Get().dc));
    if (!memory) return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const Scoped<BitmapTraits> bitmap(
        CreateDIBSection(screen.Get().dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return false;
    HGDIOBJ previous = SelectObject(memory.Get(), bitmap.Get());
    const bool copied =
        BitBlt(memory.Get(), 0, 0, w, h, screen.Get().dc, origin.x, origin.y, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(memory.Get(), previous);
    if (!copied) return false;

    // The blit leaves the fourth byte unset: there is no alpha to save.
    const unsigned char* bgra = static_cast<const unsigned char*>(bits);
    bgr->resize(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0, n = static_cast<size_t>(w) * h; i < n; ++i) {
        (*bgr)[i * 3 + 0] = bgra[i * 4 + 0];
        (*bgr)[i * 3 + 1] = bgra[i * 4 + 1];
        (*bgr)[i * 3 + 2] = bgra[i * 4 + 2];
    }
    *width = w;
    *height = h;
    return true;
}

int RunLoop(HWND page) {
    MSG message;
    int status = 0;
    while (true) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            status = static_cast<int>(message.wParam);
            break;
        }
        if (got == -1) return 1;
        // Tab and arrow keys move between the page's controls.
        if (page && IsWindow(page) && IsDialogMessageA(page, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return status;
}

}  // namespace

int RunPageWindow(KOVALTIX& camera, const char* snapshotPath) {
    // The page's sliders are trackbars; the library leaves their class to its host.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = HostClass;
    if (!RegisterClassA(&windowClass)) {
        std::fprintf(stderr, "Cannot register the host window class.\n");
        return ExitWindow;
    }
    HWND host = CreateWindowExA(0, HostClass, "KOVALTIX", HostStyle, 0, 0, 400, 300, nullptr,
                                nullptr, instance, &camera);
    if (!host) {
        std::fprintf(stderr, "Cannot create the host window.\n");
        return ExitWindow;
    }

    char title[256];
    HWND page = camera.CreateExtensionPropDialog(host, title, sizeof(title));
    if (!page) {
        std::fprintf(
            stderr, "The camera page is not available (no camera, or another program shows it).\n");
        DestroyWindow(host);
        Settle();
        return ExitWindow;
    }
    SetWindowTextA(host, title);

    // Fit the host's client area to the page.
    RECT pageRect;
    GetWindowRect(page, &pageRect);
    POINT corner = {pageRect.left, pageRect.top};
    ScreenToClient(host, &corner);
    RECT client = {0, 0, corner.x + pageRect.right - pageRect.left,
                   corner.y + pageRect.bottom - pageRect.top};
    AdjustWindowRectEx(&client, HostStyle, FALSE, 0);
    SetWindowPos(host, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    ShowWindow(host, SW_SHOWNORMAL);
    UpdateWindow(host);

    if (!snapshotPath) return RunLoop(page);

    Settle();
    RedrawWindow(host, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Settle();
    int width = 0, height = 0;
    std::vector<unsigned char> bgr;
    int status = 0;
    if (!CapturePage(page, &width, &height, &bgr)) {
        std::fprintf(stderr, "Cannot capture the page.\n");
        status = ExitWindow;
    } else if (!WritePngFile(snapshotPath, width, height, bgr.data())) {
        std::fprintf(stderr, "Cannot write %s.\n", snapshotPath);
        status = ExitWindow;
    } else {
        std::printf("Saved the page \"%s\" (%d x %d) to %s\n", AnsiToUtf8(title).c_str(), width,
                    height, snapshotPath);
    }
    SendMessageA(host, WM_CLOSE, 0, 0);
    Settle();
    return status;
}
