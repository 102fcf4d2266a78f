// Generic owners: TUniqueHandle, a move-only owner of any handle kind
// described by a traits class (its Type, its "empty" value and how to close
// it), with explicit get()/release()/reset() and no implicit conversion to
// the raw handle; and TScopeExit, the scope guard. Portable: the traits of
// the Win32 handle kinds are in ovHandlesWin32.h and the installer's
// sxHandles.h.
#pragma once

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
    // Closes the held handle and takes the new one.
    void reset(pointer value = Traits::Empty()) noexcept
    {
        if (Value != Traits::Empty())
            Traits::Close(Value);
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
