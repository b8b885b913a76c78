// Child processes of the test program under given system locales.
// Wine takes the system language and the ANSI code page from LC_ALL when a process starts, but a
// Windows child keeps its parent's locale whatever its environment block says; so the child is
// started through the Wine loader, a Unix program, which does get the block's LC_ALL.
#pragma once

#include <string>
#include <vector>

struct LocaleRun {
    std::string Locale;    // an LC_ALL value, e.g. "ja_JP.UTF-8"
    std::string Argument;  // handed to the child, see ChildArgument
    bool Reported = false;
    std::string Report;
};

// Runs the disabled test `testName` ("Suite.DISABLED_Name") of this program once per run, all in
// parallel, and collects what each child wrote with WriteChildReport. False with `error` set
// when the children could not be started.
bool RunInLocales(std::vector<LocaleRun>& runs, const char* testName, std::string& error);

// In a child: its argument; empty when not running as a child.
std::string ChildArgument();

bool WriteChildReport(const std::string& text);
