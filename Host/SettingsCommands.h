#pragma once
#include "DLL/props/KOVALTIX.h"

// "KOVALTIX save <file>" and "KOVALTIX load <file>"; each returns the program's exit status.
int SaveSettings(KOVALTIX& camera, const char* path);
int LoadSettings(KOVALTIX& camera, const char* path);
