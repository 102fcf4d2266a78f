// Owners for Win32 handles: one move-only type per handle kind, each with the
// kind's own "empty" value, explicit get()/release()/reset(), no implicit
// conversion to the raw handle, and GetLastError preserved across the close.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class TUniqueHandle {
public:
    using pointer = typename Traits::Type;

    TUniqueHandle() noexcept : Value(Traits::Empty()) {}
    explicit TUniqueHandle(pointer value) noexcept : Value(value) {}
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    TUniqueHandle(TUniqueHandle&& other) noexcept : Value(other.release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~TUniqueHandle() { reset(); }

    pointer get() const noexcept { return Value; }
    bool valid() const noexcept { return Value != Traits::Empty(); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    pointer release() noexcept
    {
        pointer v = Value;
        Value = Traits::Empty();
        return v;
    }
    // Closes the held handle (keeping GetLastError) and takes the new one.
    void reset(pointer value = Traits::Empty()) noexcept
    {
        if (Value != Traits::Empty()) {
            DWORD err = GetLastError();
            Traits::Close(Value);
            SetLastError(err);
        }
        Value = value;
    }
    // For out-parameters: closes the held handle and returns its address.
    pointer* put() noexcept
    {
        reset();
        return &Value;
    }

private:
    pointer Value;
};

// A file handle from CreateFile: empty is INVALID_HANDLE_VALUE.
struct TFileHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
// A kernel handle (process, thread, event, mutex): empty is null. Never -1,
// which is the current-process pseudo-handle.
struct TKernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};
struct TKeyHandleTraits {
    using Type = HKEY;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};
struct TModuleHandleTraits {
    using Type = HMODULE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
struct TFindHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};
struct TGlobalHandleTraits {
    using Type = HGLOBAL;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { GlobalFree(h); }
};

using TFileHandle = TUniqueHandle<TFileHandleTraits>;
using TKernelHandle = TUniqueHandle<TKernelHandleTraits>;
using TKeyHandle = TUniqueHandle<TKeyHandleTraits>;
using TModuleHandle = TUniqueHandle<TModuleHandleTraits>;
using TFindHandle = TUniqueHandle<TFindHandleTraits>;
using TGlobalHandle = TUniqueHandle<TGlobalHandleTraits>;

// Runs a callable when the scope ends unless dismissed (clean-up of partial output).
template <typename F>
class TScopeExit {
public:
    explicit TScopeExit(F f) : Func(std::move(f)) {}
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;
    ~TScopeExit()
    {
        if (Active)
            Func();
    }
    void Dismiss() { Active = false; }

private:
    F Func;
    bool Active = true;
};
template <typename F>
TScopeExit<F> MakeScopeExit(F f) { return TScopeExit<F>(std::move(f)); }
