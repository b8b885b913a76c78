#pragma once
// The acceptance host's checks, by phase, and what they share: the camera as the platform and
// the virtual hardware show it.
#include <windows.h>

#include "BRALIMOND.h"
#include "KOVALTIX.h"

// Each phase reads the import slots itself: one compiler inlined imported addresses across
// phases before, and the live objects must come from this process's own start-up.
#define PHASE __declspec(noinline)

extern const char Abi[];

// ---- The camera as the platform shows it (Camera.cpp) ----

// The key of the camera's driver, found through the platform's device installation records
// rather than the library's own lookup; null when there is none.
HKEY OpenCameraDriverKey(REGSAM access);
HKEY OpenCameraSettings();
bool StoredSetting(HKEY settings, const char* name, long* value);
bool CaptureInterfacePresent();
// What the camera's device node says of its drivers: the function service and the upper
// filters (the first of them); empty when it has none; and its device characteristics (0 when
// not given). False when the camera is not there.
bool CameraDrivers(char (&service)[64], char (&filter)[64], DWORD* characteristics = nullptr);
// The camera's capture interfaces as camera applications find them: listed under each category
// the class driver serves, with reference string GLOBAL, and what the interface's key says.
void InterfaceChecks();
// The platform's stack over the camera: requests not the library's pass the filter unchanged to
// the class driver, and the filter carries nothing but the library's own writes.
void StackChecks();

// ---- The camera as the virtual hardware shows it (Camera.cpp) ----

// What the camera itself holds for a selector.
bool CameraHolds(unsigned short selector, unsigned long* value);
// Pulls the camera out or puts it back, and waits until the platform has taken the change in (a
// camera put back: until its drivers have started it). False on a time-out.
bool PlugCamera(bool in);
// Waits until the platform has taken in a camera pulled out or put back; false on a time-out.
bool AwaitCamera(bool in);
// The camera is pulled out `ms` later, while the caller goes on.
bool PullCameraLater(unsigned long ms);
// A camera that holds every vendor request until its sender cancels it, or one that answers.
bool HoldRequests(bool hold);
// The class driver idles the camera (selective suspend), or brings it back to full power.
bool IdleCamera(bool idle);
// Requests that reached the camera while it was below full power, as the bus counted them.
unsigned long RequestsBelowFullPower();

struct Control {
    const char* name;
    unsigned short selector;
};
// The record's value, the stored one and the camera's all equal `expected` (the camera holds
// its low 16 bits).
void ExpectControl(HKEY settings, const char* check, const PROPDATA& record, const Control& c,
                   long expected);

// ---- Phases ----

void Inert(const char* when, HWND parent);  // LiveChecks.cpp
PHASE void Live(HWND parent);               // LiveChecks.cpp
// The library over a camera pulled out and put back, and over one that answers nothing.
PHASE void Replug(HWND parent);  // Camera.cpp
void PumpMessages();
