#include "DLL/props/PropertyTable.h"

PROPDATA ExtensionPropertyTable[PropertyCount];
HMODULE KovaltixModule;
UINT UpdateMessage;
