#pragma once
// The settings file of "KOVALTIX save" and "KOVALTIX load": text a person can read and edit, one
// control per line as "Name = value". No platform calls: its bytes may come from anywhere.
#include <cstddef>
#include <string>
#include <vector>

// One control as the camera library reports it, in table order.
struct ControlInfo {
    const char* group;
    const char* name;  // its registry value name, as "KOVALTIX list" shows it
    long min;
    long max;
    long value;
    long def;
    bool offered;  // Enb != 0; the library skips a control that is not offered
};

// A control the file sets: its index in the control list, the value and where it was read.
struct FileSetting {
    int control;
    long value;
    int line;
};

struct FileProblem {
    int line;  // 0: the file as a whole
    std::string text;
};

// Longer lines (line end not counted) and larger files are refused, not read.
const std::size_t MaxSettingsLine = 512;
const std::size_t MaxSettingsFile = 1024 * 1024;
// Checking stops after this many problems.
const std::size_t MaxSettingsProblems = 20;

// Checks the whole text against the controls: every line must be blank, a comment, or name a
// known control once with a whole 32-bit number within its Min..Max (a control that is not
// offered has no range to check). Settings come in file order. A file with problems must not
// be applied at all.
void ParseSettings(const char* text, std::size_t length, const ControlInfo* controls, int count,
                   std::vector<FileSetting>* settings, std::vector<FileProblem>* problems);

// Every offered control with its value; the others as comments. ParseSettings takes it back.
std::string FormatSettings(const ControlInfo* controls, int count);

// A whole decimal 32-bit number: an optional sign, then digits only.
bool ParseWholeNumber(const char* text, std::size_t length, long* value);
