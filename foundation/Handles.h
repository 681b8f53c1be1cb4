// Move-only holders for Win32 handles, so that no path leaks one. Each kind names its own
// invalid value and close function.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

template <typename Traits>
struct HandleHolder {
    using Type = typename Traits::Type;

    HandleHolder() = default;
    explicit HandleHolder(Type value) : handle(value) {}
    ~HandleHolder() { Close(); }
    HandleHolder(const HandleHolder&) = delete;
    HandleHolder& operator=(const HandleHolder&) = delete;
    HandleHolder(HandleHolder&& other) noexcept : handle(other.Release()) {}
    HandleHolder& operator=(HandleHolder&& other) noexcept
    {
        if (this != &other) {
            Close();
            handle = other.Release();
        }
        return *this;
    }

    bool Valid() const { return handle != Traits::Invalid(); }
    Type Get() const { return handle; }
    Type* Put() { Close(); return &handle; }  // for out-parameters of the opening call
    Type Release() { Type value = handle; handle = Traits::Invalid(); return value; }
    void Close()
    {
        if (Valid())
            Traits::CloseIt(handle);
        handle = Traits::Invalid();
    }
    void Reset(Type value) { Close(); handle = value; }

    Type handle = Traits::Invalid();
};

struct KernelHandleTraits {  // process, thread, file mapping, event: null when invalid
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type h) { CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFile: INVALID_HANDLE_VALUE when invalid
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void CloseIt(Type h) { CloseHandle(h); }
};
struct FindHandleTraits {  // FindFirstFile
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void CloseIt(Type h) { FindClose(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type h) { RegCloseKey(h); }
};
struct ServiceHandleTraits {  // service manager and service handles
    using Type = SC_HANDLE;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type h) { CloseServiceHandle(h); }
};
struct MappedViewTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type p) { UnmapViewOfFile(p); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type h) { FreeLibrary(h); }
};
struct StdioFileTraits {
    using Type = FILE*;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type f) { fclose(f); }
};
struct HeapBlockTraits {  // blocks from malloc
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type p) { free(p); }
};
struct LocalBlockTraits {  // blocks the system allocates for its caller (security descriptors)
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type p) { LocalFree(p); }
};
struct CoTaskMemBlockTraits {  // blocks the shell allocates for its caller (known folder paths)
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type p) { CoTaskMemFree(p); }
};

struct WindowTraits {  // a window and, with it, its child windows
    using Type = HWND;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type h) { DestroyWindow(h); }
};
struct GdiObjectTraits {  // fonts, brushes, bitmaps
    using Type = HGDIOBJ;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type h) { DeleteObject(h); }
};
struct ScreenDcTraits {  // GetDC(nullptr): the screen's device context
    using Type = HDC;
    static Type Invalid() { return nullptr; }
    static void CloseIt(Type h) { ReleaseDC(nullptr, h); }
};
struct ActivationContextTraits {  // CreateActCtx
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void CloseIt(Type h) { ReleaseActCtx(h); }
};

using KernelHandle = HandleHolder<KernelHandleTraits>;
using FileHandle = HandleHolder<FileHandleTraits>;
using FindHandle = HandleHolder<FindHandleTraits>;
using RegKey = HandleHolder<RegKeyTraits>;
using ServiceHandle = HandleHolder<ServiceHandleTraits>;
using MappedView = HandleHolder<MappedViewTraits>;
using LoadedModule = HandleHolder<ModuleTraits>;
using StdioFile = HandleHolder<StdioFileTraits>;
using HeapBlock = HandleHolder<HeapBlockTraits>;
using LocalBlock = HandleHolder<LocalBlockTraits>;
using CoTaskMemBlock = HandleHolder<CoTaskMemBlockTraits>;
using WindowHandle = HandleHolder<WindowTraits>;
using GdiObject = HandleHolder<GdiObjectTraits>;
using ScreenDc = HandleHolder<ScreenDcTraits>;
using ActivationContext = HandleHolder<ActivationContextTraits>;
