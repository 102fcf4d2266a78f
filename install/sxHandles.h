// Owners for Win32 handles: one move-only type per handle kind (the generic
// owner and the scope guard are the portable core's, in ovOwner.h), each with
// the kind's own "empty" value, and GetLastError preserved across the close.
#pragma once

#include <windows.h>

#include "ovHandlesWin32.h"

// A kernel handle (process, thread, event, mutex): empty is null. Never -1,
// which is the current-process pseudo-handle.
struct TKernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CloseKeepingLastError(CloseHandle, h); }
};
struct TKeyHandleTraits {
    using Type = HKEY;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CloseKeepingLastError(RegCloseKey, h); }
};
struct TModuleHandleTraits {
    using Type = HMODULE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CloseKeepingLastError(FreeLibrary, h); }
};
struct TFindHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseKeepingLastError(FindClose, h); }
};
struct TGlobalHandleTraits {
    using Type = HGLOBAL;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CloseKeepingLastError(GlobalFree, h); }
};

using TKernelHandle = TUniqueHandle<TKernelHandleTraits>;
using TKeyHandle = TUniqueHandle<TKeyHandleTraits>;
using TModuleHandle = TUniqueHandle<TModuleHandleTraits>;
using TFindHandle = TUniqueHandle<TFindHandleTraits>;
using TGlobalHandle = TUniqueHandle<TGlobalHandleTraits>;
