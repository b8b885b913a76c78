#pragma once
// What a real host of the page does (trackbar class, a top-level window, a message loop) and
// how a user drives the controls, with real window messages.
#include <windows.h>
#include <string>
#include <vector>

// The host, not the library, registers the trackbar class.
void RegisterTrackbarClass();

// Runs the calling thread's queue until it is empty. The page posts WM_QUIT when it is
// destroyed; a host that outlives its page swallows it. Returns how many WM_QUITs arrived.
int PumpMessages();

// The program's one visible top-level window to embed pages and test dialogs in (showing and
// hiding a top-level window costs about a second each under Wine, so it lives for the run).
HWND SharedHostWindow();

// A visible top-level window of its own.
class HostWindow {
public:
    HostWindow();
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND Handle() const { return window; }

private:
    HWND window;
};

// A DLGTEMPLATE built in memory, so binding tests need no resources.
class DialogTemplate {
public:
    DialogTemplate(DWORD style, short cx, short cy);
    // Class given by name ("msctls_trackbar32", "EDIT", "BUTTON", "STATIC").
    void Add(int id, const char* className, DWORD style, short x, short y, short cx, short cy,
             const char* text = "");
    const DLGTEMPLATE* Get();

private:
    void AlignDword();
    void PushWord(WORD value);
    void PushText(const char* text);

    std::vector<WORD> items;  // control entries, DWORD-aligned
    DWORD style;
    short cx;
    short cy;
    WORD count;
    std::vector<WORD> buffer;
};

// Mouse and keyboard, as the trackbar receives them.
POINT ThumbCenter(HWND trackbar);
void PressAt(HWND window, POINT point);
void MoveTo(HWND window, POINT point);
void ReleaseAt(HWND window, POINT point);
void PressKey(HWND window, UINT key);
void Click(HWND button);

int TrackbarPos(HWND trackbar);
// The edit box's text, as the user sees it.
std::string WindowText(HWND window);
// Enabled and visible, as the user sees it.
bool IsUsable(HWND window);
