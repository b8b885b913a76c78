#include "tests/page/PageTestHost.h"

#include <commctrl.h>

#include <cstring>

void RegisterTrackbarClass() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
}

int PumpMessages() {
    int quits = 0;
    MSG message;
    // A few rounds: handling one message may post more.
    for (int round = 0; round < 3; ++round) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                ++quits;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(0);
    }
    return quits;
}

namespace {
const char HostClassName[] = "PageTestHostWindow";

ATOM RegisterHostClass() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = HostClassName;
    return RegisterClassA(&windowClass);
}
}  // namespace

HostWindow::HostWindow() {
    static const ATOM atom = RegisterHostClass();
    (void)atom;
    window = CreateWindowExA(0, HostClassName, "Page host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20,
                             20, 520, 480, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    PumpMessages();
}

HostWindow::~HostWindow() {
    if (window != nullptr && IsWindow(window)) DestroyWindow(window);
    PumpMessages();
}

HWND SharedHostWindow() {
    static HostWindow host;
    return host.Handle();
}

// ---------------------------------------------------------------------------------------------

DialogTemplate::DialogTemplate(DWORD style, short cx, short cy)
    : style(style), cx(cx), cy(cy), count(0) {}

void DialogTemplate::PushWord(WORD value) { items.push_back(value); }

void DialogTemplate::AlignDword() {
    if (items.size() % 2 != 0) items.push_back(0);
}

void DialogTemplate::PushText(const char* text) {
    for (const char* c = text; *c != '\0'; ++c) PushWord(static_cast<unsigned char>(*c));
    PushWord(0);
}

void DialogTemplate::Add(int id, const char* className, DWORD style, short x, short y, short cx,
                         short cy, const char* text) {
    AlignDword();
    DLGITEMTEMPLATE item = {};
    item.style = style | WS_CHILD;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = cy;
    item.id = static_cast<WORD>(id);
    const WORD* words = reinterpret_cast<const WORD*>(&item);
    static_assert(sizeof(DLGITEMTEMPLATE) == 18, "item header is 9 words");
    items.insert(items.end(), words, words + sizeof(item) / sizeof(WORD));
    PushText(className);
    PushText(text);
    PushWord(0);  // no creation data
    ++count;
}

const DLGTEMPLATE* DialogTemplate::Get() {
    buffer.clear();
    DLGTEMPLATE header = {};
    header.style = style;
    header.cdit = count;
    header.cx = cx;
    header.cy = cy;
    static_assert(sizeof(DLGTEMPLATE) == 18, "dialog header is 9 words");
    const WORD* words = reinterpret_cast<const WORD*>(&header);
    buffer.insert(buffer.end(), words, words + sizeof(header) / sizeof(WORD));
    buffer.push_back(0);  // no menu
    buffer.push_back(0);  // default class
    buffer.push_back(0);  // no caption
    if (buffer.size() % 2 != 0) buffer.push_back(0);
    buffer.insert(buffer.end(), items.begin(), items.end());
    return reinterpret_cast<const DLGTEMPLATE*>(buffer.data());
}

// ---------------------------------------------------------------------------------------------

POINT ThumbCenter(HWND trackbar) {
    RECT thumb = {};
    SendMessageA(trackbar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    return POINT{(thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2};
}

void PressAt(HWND window, POINT point) {
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(point.x, point.y));
}

void MoveTo(HWND window, POINT point) {
    SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(point.x, point.y));
}

void ReleaseAt(HWND window, POINT point) {
    SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(point.x, point.y));
}

void PressKey(HWND window, UINT key) {
    const UINT scan = MapVirtualKeyA(key, MAPVK_VK_TO_VSC);
    SendMessageA(window, WM_KEYDOWN, key, 1 | (scan << 16));
    SendMessageA(window, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }

int TrackbarPos(HWND trackbar) {
    return static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
}

std::string WindowText(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

bool IsUsable(HWND window) {
    return window != nullptr && IsWindowEnabled(window) && IsWindowVisible(window);
}
