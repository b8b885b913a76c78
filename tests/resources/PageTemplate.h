// Reading dialog 103 and string 103 back from the built library.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TemplateControl {
    DWORD HelpId = 0;
    DWORD ExStyle = 0;
    DWORD Style = 0;
    short X = 0, Y = 0, Cx = 0, Cy = 0;
    int Id = 0;
    std::string Class;  // upper case; ordinal classes spelled out
    std::wstring Text;
    WORD CreationBytes = 0;
};

struct PageTemplate {
    WORD Version = 0;
    WORD Signature = 0;
    DWORD HelpId = 0;
    DWORD ExStyle = 0;
    DWORD Style = 0;
    short X = 0, Y = 0, Cx = 0, Cy = 0;
    std::wstring Menu, WindowClass, Caption;
    WORD PointSize = 0, Weight = 0;
    BYTE Italic = 0, Charset = 0;
    std::wstring Font;
    std::vector<TemplateControl> Controls;
};

// Parses an extended dialog template; false when it is malformed or runs past `size`.
bool ParsePageTemplate(const void* data, DWORD size, PageTemplate& out);

// The built KOVALTIX.dll next to the test program, loaded for its resources only.
class ResourceModule {
public:
    explicit ResourceModule(const std::string& path);
    ~ResourceModule();
    ResourceModule(const ResourceModule&) = delete;
    ResourceModule& operator=(const ResourceModule&) = delete;
    HMODULE Handle() const { return module; }

private:
    HMODULE module;
};

std::string BuiltLibraryPath();

// The raw bytes of one resource in one language; empty when it is missing.
std::vector<BYTE> ResourceBytes(HMODULE module, int type, int name, WORD langid);

// Languages in which a resource exists, in enumeration order.
std::vector<WORD> ResourceLanguages(HMODULE module, int type, int name);

// String 103 (the page title) as it lies in its block in one language; empty when missing.
std::wstring PageTitleIn(HMODULE module, WORD langid);

// The ANSI code page that the platform gives a language; 0 when it knows none.
UINT PlatformCodePage(WORD langid);

std::string WideToCodePage(const std::wstring& text, UINT codePage);
// True when every character of `text` has its own byte form in the code page.
bool ConvertsExactly(const std::wstring& text, UINT codePage);
