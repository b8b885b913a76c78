#pragma once
// The platform's kinds of handles, each with its "none" and its release, for Scoped.
#include <windows.h>
#include <unknwn.h>

#include "Common/Scoped.h"

// Kernel objects whose "none" is null: mutexes, events, processes, threads.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return nullptr; }
    static void Close(Value handle) { CloseHandle(handle); }
};
using KernelHandle = Scoped<KernelHandleTraits>;

// Files and devices opened with CreateFileA, whose "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value handle) { CloseHandle(handle); }
};
using FileHandle = Scoped<FileHandleTraits>;

struct FindHandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value handle) { FindClose(handle); }
};
using FindHandle = Scoped<FindHandleTraits>;

struct RegistryKeyTraits {
    using Value = HKEY;
    static Value Invalid() { return nullptr; }
    static void Close(Value key) { RegCloseKey(key); }
};
using RegistryKey = Scoped<RegistryKeyTraits>;

struct LibraryTraits {
    using Value = HMODULE;
    static Value Invalid() { return nullptr; }
    static void Close(Value module) { FreeLibrary(module); }
};
using Library = Scoped<LibraryTraits>;

template <typename Interface>
struct ComTraits {
    using Value = Interface*;
    static Value Invalid() { return nullptr; }
    static void Close(Value object) { object->Release(); }
};
template <typename Interface>
using ComPtr = Scoped<ComTraits<Interface>>;

// A successful CoInitialize on this thread, balanced when the owner goes.
struct ComApartmentTraits {
    using Value = bool;
    static Value Invalid() { return false; }
    static void Close(Value) { CoUninitialize(); }
};
using ComApartment = Scoped<ComApartmentTraits>;
