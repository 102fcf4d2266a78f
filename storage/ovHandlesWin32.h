// Owners of the Win32 handle kinds that the portable core's Win32 files use
// too. Closing a handle keeps GetLastError, so that an error read after an
// owner went out of scope is still the error of the call that failed.
#pragma once

#include <windows.h>

#include "ovOwner.h"

// Calls close(h) and gives the thread back the last error it had before.
// Plain statements, no guard object: an object with a destructor around a
// call the compiler cannot see into costs an unwinding entry per handle kind.
template <class Close, class Handle>
inline void CloseKeepingLastError(Close close, Handle h)
{
    const DWORD saved = GetLastError();
    close(h);
    SetLastError(saved);
}

// A file handle from CreateFile: empty is INVALID_HANDLE_VALUE.
struct TFileHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseKeepingLastError(CloseHandle, h); }
};

using TFileHandle = TUniqueHandle<TFileHandleTraits>;
