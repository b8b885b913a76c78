#pragma once
#include "DLL/props/KOVALTIX.h"

// Shows the camera's page in a top-level window of its own and runs the message loop until
// the window is closed. With snapshotPath, saves the rendered page as a PNG and closes instead.
// Returns the program's exit status.
int RunPageWindow(KOVALTIX& camera, const char* snapshotPath);
