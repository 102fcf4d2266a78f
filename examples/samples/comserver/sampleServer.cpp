// A tiny COM server library: it serves no objects, but its registration
// entry points leave a trace that tests can see.
//
// DllRegisterServer:   creates HKEY_CURRENT_USER\Software\Orvale Systems\SampleServer
//                      with the string value "Module" = this library's full path
//                      and a DWORD "Registrations" counting the calls.
// DllUnregisterServer: deletes that key (and anything below it).
// Both return S_OK, or a failure HRESULT when the registry refuses.
// When the environment variable SX_SAMPLE_SERVER_FAIL is set to 1, both
// return E_FAIL without touching the registry.
#include <windows.h>

#include <string>

namespace {

const char* const TraceKey = "Software\\Orvale Systems\\SampleServer";
HMODULE ThisModule = nullptr;

bool ForcedFailure()
{
    char value[8];
    DWORD n = GetEnvironmentVariableA("SX_SAMPLE_SERVER_FAIL", value, sizeof(value));
    return n == 1 && value[0] == '1';
}

LONG DeleteTree(HKEY parent, const char* name)
{
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    for (;;) {
        char sub[256];
        DWORD size = sizeof(sub);
        if (RegEnumKeyExA(key, 0, sub, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (DeleteTree(key, sub) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    return RegDeleteKeyA(parent, name);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        ThisModule = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
    if (ForcedFailure())
        return E_FAIL;
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, TraceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    char path[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameA(ThisModule, path, sizeof(path) - 1);
    rc = RegSetValueExA(key, "Module", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), n + 1);
    DWORD count = 0, size = sizeof(count), type = 0;
    if (RegQueryValueExA(key, "Registrations", nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        count = 0;
    ++count;
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExA(key, "Registrations", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                            sizeof(count));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    if (ForcedFailure())
        return E_FAIL;
    LONG rc = DeleteTree(HKEY_CURRENT_USER, TraceKey);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}
