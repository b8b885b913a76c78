#include <new>

#include "DLL/props/KOVALTIX.h"

// Hosts built with Microsoft's compiler take a new object's address from the constructor's
// return value; GCC's constructor returns nothing. The constructor's MSVC name is exported as
// this function (the generated export list), with the member calling convention.
#if defined(__i386__)
#define MSVC_MEMBER_CALL __attribute__((thiscall))
#else
#define MSVC_MEMBER_CALL
#endif

extern "C" KOVALTIX* MSVC_MEMBER_CALL KovaltixConstructForMsvc(KOVALTIX* self) {
    return ::new (static_cast<void*>(self)) KOVALTIX;
}
