#pragma once

// Saves a picture as a compressed PNG through the platform's imaging component.
// bgr holds height rows of width * 3 bytes (blue, green, red), top row first.
// Uses COM on the calling thread, initialising it for the call's duration.
bool WritePngFile(const char* path, int width, int height, const unsigned char* bgr);
