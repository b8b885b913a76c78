#pragma once
// The property page's dialog procedure and its process-wide state. The page keeps no values of
// its own: its controls are bound to the property table, and every change goes through the
// Set_ methods of the KOVALTIX object that created it.
#include <windows.h>
#include "DLL/resources/PageIds.h"

// The power-line buttons in value order: Outdoor, 50 Hz, 60 Hz.
extern const int PowerLineButtonIds[3];

// True while the page changes its own controls (and from creation until WM_INITDIALOG ends):
// the notifications those changes cause are not user input, so WM_COMMAND is ignored.
extern bool PageBusy;

INT_PTR CALLBACK ExtensionPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
