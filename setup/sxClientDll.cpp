// The client library and its hooks.
#include "sxClientDll.h"

#include "ovClass.h"
#include "sxShell.h"

#include <cstring>

const char* const ClientHookNames[ClientHookCount] = {
    "BeforeExecute",         "BeforeGetPassword",     "AfterGetPassword",      "BeforeAcceptLicense",
    "AfterAcceptLicense",    "BeforeGetTargetFolder", "AfterGetTargetFolder",  "BeforeExtractFiles",
    "AfterExtractFiles",     "BeforeExecuteCommand",  "AfterExecuteCommand",   "BeforeDeleteTempFiles",
    "AfterDeleteTempFiles",  "AfterExecute",          "BeforeTerminate",       "GetExtarctedFileName",
};

namespace {

int HookIndex(const char* name)
{
    if (!name)
        return -1;
    for (int i = 0; i < ClientHookCount; ++i)
        if (std::strcmp(ClientHookNames[i], name) == 0)
            return i;
    return -1;
}

const int FileNameHookIndex = ClientHookCount - 1;

}  // namespace

TClientDll::TClientDll()
{
    std::memset(HookBuffer, 0, sizeof(HookBuffer));
    for (auto& hook : Hooks)
        hook = nullptr;
}

TClientDll::~TClientDll()
{
    // The module owner unloads the library.
}

bool TClientDll::Load(const std::string& path)
{
    Module.reset();
    IsLoaded = false;
    for (auto& hook : Hooks)
        hook = nullptr;
    if (path.empty())
        return false;
    // A full path: the library's own dependencies are looked up in its folder
    // and the system folder. A bare name is looked up where every library of
    // the program is (the system folder).
    bool fullPath = path.find('\\') != std::string::npos || path.find('/') != std::string::npos;
    HMODULE module = fullPath ? LoadLibraryByPath(path) : LoadLibraryExA(path.c_str(), nullptr, 0);
    if (!module)
        return false;
    Module.reset(module);
    IsLoaded = true;
    for (int i = 0; i < ClientHookCount; ++i)
        Hooks[i] = reinterpret_cast<THookProc>(GetProcAddress(module, ClientHookNames[i]));
    return true;
}

bool TClientDll::Invoke(THookProc proc, char* buffer)
{
    buffer[HookBufferLength] = '\0';
    unsigned char answer = proc(buffer);
    // The library may have filled the whole buffer without a terminator.
    buffer[HookBufferLength] = '\0';
    return answer != 0;
}

bool TClientDll::CallHook(const char* exportName)
{
    if (!IsLoaded)
        return true;
    int index = HookIndex(exportName);
    if (index < 0 || !Hooks[index])
        return true;
    if (!Invoke(Hooks[index], HookBuffer))
        throw EAbort();
    return true;
}

bool TClientDll::FileNameHook(std::string& path)
{
    if (!IsLoaded || !Hooks[FileNameHookIndex])
        return true;
    char buffer[HookBufferLength + 1];
    std::memset(buffer, 0, sizeof(buffer));
    std::size_t length = path.size() < HookBufferLength ? path.size() : HookBufferLength;
    std::memcpy(buffer, path.data(), length);
    if (!Invoke(Hooks[FileNameHookIndex], buffer))
        return false;
    path = buffer;
    return true;
}

std::string TClientDll::GetHookBufferText() const
{
    return std::string(HookBuffer, strnlen(HookBuffer, HookBufferLength));
}

void TClientDll::SetHookBufferText(const std::string& text)
{
    std::memset(HookBuffer, 0, sizeof(HookBuffer));
    std::size_t length = text.size() < HookBufferLength ? text.size() : HookBufferLength;
    std::memcpy(HookBuffer, text.data(), length);
}
