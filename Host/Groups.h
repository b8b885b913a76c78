#pragma once
#include "DLL/props/KOVALTIX.h"

// The control groups of the exported class, as the command line names them.
struct ControlGroup {
    const char* name;
    int count;               // records in the group, also the number of Set_ arguments
    const char* records[4];  // the records' registry names, in argument order
    bool (*get)(KOVALTIX& camera, PROPDATA* records);
    bool (*set)(KOVALTIX& camera, const long* values);
    bool (*reset)(KOVALTIX& camera);
};

const ControlGroup* ControlGroups();
int ControlGroupCount();
// Case-insensitive; null for an unknown name.
const ControlGroup* FindControlGroup(const char* name);

// A whole decimal 32-bit number, optional sign, nothing else.
bool ParseLong(const char* text, long* value);
