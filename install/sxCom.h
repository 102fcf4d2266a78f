// Owners for COM: the thread's COM initialisation and interface pointers.
#pragma once

#include <windows.h>
#include <objbase.h>

// COM for the calling thread for the life of the object, balanced only when
// this object's call initialised it (a thread that already has COM keeps it).
class TComScope {
public:
    TComScope() : Initialized(SUCCEEDED(CoInitialize(nullptr))) {}
    ~TComScope()
    {
        if (Initialized)
            CoUninitialize();
    }
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;

private:
    bool Initialized;
};

// Holds one COM interface pointer and releases it.
template <typename T>
class TComPtr {
public:
    TComPtr() = default;
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;
    ~TComPtr() { reset(); }
    T* get() const { return Ptr; }
    T* operator->() const { return Ptr; }
    void reset()
    {
        if (Ptr)
            Ptr->Release();
        Ptr = nullptr;
    }
    // For out-parameters of CoCreateInstance and QueryInterface.
    void** put()
    {
        reset();
        return reinterpret_cast<void**>(&Ptr);
    }

private:
    T* Ptr = nullptr;
};
