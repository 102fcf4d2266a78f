// The client library: an optional library that travels in the setup archive
// ("CLIENT_DLL", extracted as "ovseClient.Dll") and is called before and after
// the setup steps. Each of its entry points is optional, takes the address of
// a text buffer of 260 characters plus the terminating zero and answers a
// byte-sized boolean (zero = false). The entry points use the stdcall
// convention and are exported under their plain, undecorated names:
//
//   unsigned char __stdcall BeforeExecute(char* buffer);
#pragma once

#include "sxHandles.h"

#include <cstddef>
#include <string>

// The exports looked up in a client library, in the order of the setup run.
// "GetExtarctedFileName" is spelled as the libraries export it.
enum { ClientHookCount = 16 };
extern const char* const ClientHookNames[ClientHookCount];

class TClientDll {
public:
    // Characters of a hook buffer, without the terminating zero.
    static constexpr std::size_t HookBufferLength = 260;

    TClientDll();
    ~TClientDll();  // unloads the library
    TClientDll(const TClientDll&) = delete;
    TClientDll& operator=(const TClientDll&) = delete;

    // Loads the library at path (a full path: its own dependencies are then
    // looked up in its folder first) and looks up the hooks. Returns false,
    // leaving the object unloaded, when the library cannot be loaded. A
    // library exporting none of the hooks is loaded and behaves as none.
    bool Load(const std::string& path);
    bool Loaded() const { return IsLoaded; }

    // Calls the hook exportName with the shared hook buffer. Returns true when
    // no library is loaded or it lacks that export (or the name is not one of
    // the hooks). A false answer raises EAbort, the silent abort of the run.
    bool CallHook(const char* exportName);

    // GetExtarctedFileName with a buffer of its own that holds path (cut to
    // 260 characters). True when there is no such hook; otherwise its answer,
    // and on true path becomes the buffer's text. False means: skip the file.
    // Never raises EAbort.
    bool FileNameHook(std::string& path);

    // The shared hook buffer as text (at most 260 characters).
    std::string GetHookBufferText() const;
    // Sets the shared hook buffer; a longer text is cut to 260 characters.
    void SetHookBufferText(const std::string& text);

private:
    typedef unsigned char(__stdcall* THookProc)(char* buffer);

    // Calls proc on buffer (HookBufferLength + 1 bytes) and terminates the
    // buffer again after the call, whatever the library left in it.
    static bool Invoke(THookProc proc, char* buffer);

    TModuleHandle Module;
    bool IsLoaded = false;
    char HookBuffer[HookBufferLength + 1];
    THookProc Hooks[ClientHookCount];
};
