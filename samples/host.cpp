// The smallest host of KOVALTIX.dll: lists the 13 controls, sets and resets one group, and shows
// the page in a window until that window is closed ("host /once" closes it at once).
// Exit status 0: a camera was there and everything worked; 1: no camera; 2: a call failed.
//
// Build it against the SDK in <sdk> (i686 for 32-bit hosts, x86_64 for 64-bit ones):
//   MinGW:  i686-w64-mingw32-g++ -static -I <sdk>/include host.cpp -L <sdk>/lib -lKOVALTIX
//           -lcomctl32 -o host.exe
//   MSVC:   cl /EHsc /I <sdk>\include host.cpp <sdk>\lib\KOVALTIX.lib comctl32.lib user32.lib
//   MSVC mode on Linux: see msvcrt-entry.c
//   CMake:  CMakeLists.txt beside this file
// and run it beside a KOVALTIX.dll: <sdk>/bin/dev/KOVALTIX.dll, the development build, plays a
// camera of its own (never ship it); <sdk>/bin/KOVALTIX.dll needs the camera and its driver.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include "KOVALTIX.h"

static KOVALTIX* camera;  // the window procedure's way to the page's owner

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        // The page goes before its parent. Destroying it posts WM_QUIT, which ends the loop.
        camera->CloseExtensionPropDialog();
        DestroyWindow(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static void Print(const char* name, const PROPDATA& control) {
    if (control.Enb)
        printf("  %-18s %5ld   (%ld to %ld, default %ld)\n", name, control.Value, control.Min,
               control.Max, control.Def);
    else
        printf("  %-18s not offered\n", name);
}

// Lists every control; false when none is offered, which is how a host tells "no camera".
static bool List() {
    PROPDATA awb, red, green, blue, aec, exposure, agc, gain, powerLine, flip, mirror, privacy,
        lowLight;
    camera->Get_WhiteBalance(&awb, &red, &green, &blue);
    camera->Get_Exposure(&aec, &exposure);
    camera->Get_Gain(&agc, &gain);
    camera->Get_PowerLine(&powerLine);
    camera->Get_Flip(&flip);
    camera->Get_Mirror(&mirror);
    camera->Get_PrivateMode(&privacy);
    camera->Get_LowLightMode(&lowLight);
    const struct {
        const char* name;
        const PROPDATA* control;
    } controls[] = {
        {"auto white balance", &awb},
        {"red", &red},
        {"green", &green},
        {"blue", &blue},
        {"auto exposure", &aec},
        {"exposure", &exposure},
        {"auto gain", &agc},
        {"gain", &gain},
        {"power line", &powerLine},
        {"flip", &flip},
        {"mirror", &mirror},
        {"privacy", &privacy},
        {"low light", &lowLight},
    };
    bool offered = false;
    for (const auto& c : controls) {
        Print(c.name, *c.control);
        if (c.control->Enb) offered = true;
    }
    return offered;
}

int main(int argc, char** argv) {
    // The page's sliders are trackbars: their class is the host's to register.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);

    // Every object sees the same controls; the first one made is the live instance, the only
    // one that can create the page.
    KOVALTIX object;
    camera = &object;

    printf("Controls:\n");
    if (!List()) {
        printf("No camera: the library is inert (Get_ reads zeros, Set_ does nothing).\n");
        return 1;
    }

    // Set_ sends each enabled control to the camera and stores it; false: the camera or the
    // registry refused. With the auto flag set, the group's defaults replace the values given.
    PROPDATA aec, exposure;
    camera->Get_Exposure(&aec, &exposure);
    const long middle = (exposure.Min + exposure.Max) / 2;
    bool ok = camera->Set_Exposure(0, middle);
    camera->Get_Exposure(&aec, &exposure);
    printf("Set_Exposure(0, %ld): %s, exposure now %ld\n", middle, ok ? "true" : "false",
           exposure.Value);
    const bool reset = camera->Reset_Exposure();
    camera->Get_Exposure(&aec, &exposure);
    printf("Reset_Exposure(): %s, exposure now %ld\n", reset ? "true" : "false", exposure.Value);
    ok = ok && reset;

    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "KovaltixSampleHost";
    RegisterClassA(&windowClass);
    HWND window =
        CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 480, 420, NULL, NULL, windowClass.hInstance, NULL);

    // The page is a child of the host's window; its title is the host's to show.
    char title[128];
    HWND page = window ? camera->CreateExtensionPropDialog(window, title, sizeof title) : NULL;
    if (!page) {
        printf("The page could not be created.\n");
        if (window) DestroyWindow(window);
        return 2;
    }
    SetWindowTextA(window, title);
    ShowWindow(window, SW_SHOWNORMAL);
    printf("Page \"%s\" shown.\n", title);

    if (argc > 1 && strcmp(argv[1], "/once") == 0) PostMessageA(window, WM_CLOSE, 0, 0);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        // Tab and the arrow keys move between the page's controls.
        if (IsDialogMessageA(page, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (IsWindow(window)) DestroyWindow(window);
    return ok ? 0 : 2;
}
