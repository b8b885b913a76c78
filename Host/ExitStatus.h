#pragma once

// KOVALTIX.exe's exit statuses; scripts rely on them, so each keeps its number.
enum ExitStatus {
    ExitOk = 0,
    CameraRefused = 1,    // the camera (or the registry) did not take every value of a group
    ExitUsage = 2,        // the command line was not understood
    ExitWindow = 3,       // window mode: the page could not be shown, or its picture not saved
    ExitNoCamera = 4,     // save, load: the library found no camera, so it holds no settings
    ExitBadSettings = 5,  // load: the file's content was refused; nothing was applied
    ExitFileError = 6,    // save, load: the file could not be written or read
};
