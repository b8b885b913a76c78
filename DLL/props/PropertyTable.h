#pragma once
#include <windows.h>
#include "DLL/props/ControlTable.h"
#include "DLL/props/KOVALTIX.h"

// Shared by every object and the page, without locking; all zeros until start-up loads it.
extern PROPDATA ExtensionPropertyTable[PropertyCount];

// Left by start-up for the page: the library's module (resources) and the reload message.
extern HMODULE KovaltixModule;
extern UINT UpdateMessage;

// Request code of every vendor control write.
constexpr unsigned char XuSetRequestCode = XU_SET_REQUEST_CODE;

// Process-attach and process-detach handling of the library.
void StartUp(HMODULE module);
void ShutDown();
// The records' values loaded again from the Settings key, by the start-up rule with the loaded
// defaults; ranges, defaults and enabled flags stay as loaded.
void ReloadStoredValues();

// Posts the reload message to the page this process shows, if it shows one.
void RefreshShownPage();
