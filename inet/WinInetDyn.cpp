#include "WinInetDyn.h"

#include <memory>
#include <string>

const char* const TWinetLib::LibraryName = "wininet.dll";

namespace {

using TInternetOpenUrlA = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR);
using TInternetSetStatusCallback = INTERNET_STATUS_CALLBACK(WINAPI*)(HINTERNET, INTERNET_STATUS_CALLBACK);
using TInternetReadFile = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);
using TInternetCloseHandle = BOOL(WINAPI*)(HINTERNET);
using TInternetOpenA = HINTERNET(WINAPI*)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
using THttpQueryInfoA = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);

// The entry points, filled by the first binding that loads the library.
struct TWinetEntries {
    TInternetOpenUrlA InternetOpenUrlA = nullptr;
    TInternetSetStatusCallback InternetSetStatusCallback = nullptr;
    TInternetReadFile InternetReadFile = nullptr;
    TInternetCloseHandle InternetCloseHandle = nullptr;
    TInternetOpenA InternetOpenA = nullptr;
    FARPROC HttpOpenRequestA = nullptr;
    FARPROC HttpSendRequestA = nullptr;
    FARPROC InternetConnectA = nullptr;
    FARPROC InternetAutodial = nullptr;
    FARPROC InternetAutodialHangup = nullptr;
    FARPROC InternetDial = nullptr;
    THttpQueryInfoA HttpQueryInfoA = nullptr;
};

TWinetEntries Entries;
LONG LiveBindings = 0;
std::unique_ptr<TWinetLib> SharedBinding;

template <typename T>
T Lookup(HMODULE module, const char* name)
{
    return reinterpret_cast<T>(GetProcAddress(module, name));
}

std::string SystemLibraryPath(const char* name)
{
    char buffer[MAX_PATH + 1];
    UINT length = GetSystemDirectoryA(buffer, sizeof(buffer));
    if (length == 0 || length >= sizeof(buffer))
        return std::string();  // never fall back to the search path
    std::string path(buffer, length);
    if (path.back() != '\\')
        path += '\\';
    return path + name;
}

}  // namespace

TWinetLib::TWinetLib()
{
    const std::string path = SystemLibraryPath(LibraryName);
    HMODULE module = path.empty() ? nullptr : LoadLibraryA(path.c_str());
    Loaded = reinterpret_cast<UINT_PTR>(module) > 32;
    if (Loaded) {
        TWinetEntries e;
        e.InternetOpenUrlA = Lookup<TInternetOpenUrlA>(module, "InternetOpenUrlA");
        e.InternetSetStatusCallback = Lookup<TInternetSetStatusCallback>(module, "InternetSetStatusCallback");
        e.InternetReadFile = Lookup<TInternetReadFile>(module, "InternetReadFile");
        e.InternetCloseHandle = Lookup<TInternetCloseHandle>(module, "InternetCloseHandle");
        e.InternetOpenA = Lookup<TInternetOpenA>(module, "InternetOpenA");
        e.HttpOpenRequestA = GetProcAddress(module, "HttpOpenRequestA");
        e.HttpSendRequestA = GetProcAddress(module, "HttpSendRequestA");
        e.InternetConnectA = GetProcAddress(module, "InternetConnectA");
        e.InternetAutodial = GetProcAddress(module, "InternetAutodial");
        e.InternetAutodialHangup = GetProcAddress(module, "InternetAutodialHangup");
        e.InternetDial = GetProcAddress(module, "InternetDial");
        e.HttpQueryInfoA = Lookup<THttpQueryInfoA>(module, "HttpQueryInfoA");
        Loaded = e.InternetOpenUrlA && e.InternetSetStatusCallback && e.InternetReadFile && e.InternetCloseHandle &&
                 e.InternetOpenA && e.HttpOpenRequestA && e.HttpSendRequestA && e.InternetConnectA;
        if (Loaded)
            Entries = e;
    }
    if (Loaded) {
        LibraryHandle = module;
        InterlockedIncrement(&LiveBindings);
        return;
    }
    if (module)
        FreeLibrary(module);
    MessageBeep(0);
    MessageBoxA(nullptr, "Failed to load Windows Internet subsystem (wininet.dll)", "Fatal Error",
                MB_OK | MB_SETFOREGROUND);
    ExitProcess(8);
}

TWinetLib::~TWinetLib()
{
    if (!Loaded)
        return;
    if (InterlockedDecrement(&LiveBindings) == 0) {
        Entries = TWinetEntries();
    }
    // Each binding loaded the library once, so it frees it once; the system
    // unloads it with the last reference.
    FreeLibrary(LibraryHandle);
    LibraryHandle = nullptr;
}

HINTERNET TWinetLib::InternetOpen(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                                  DWORD flags)
{
    return Entries.InternetOpenA(agent, accessType, proxy, proxyBypass, flags);
}

HINTERNET TWinetLib::InternetOpenUrl(HINTERNET internet, const char* url, const char* headers, DWORD headersLength,
                                     DWORD flags, DWORD_PTR context)
{
    return Entries.InternetOpenUrlA(internet, url, headers, headersLength, flags, context);
}

INTERNET_STATUS_CALLBACK TWinetLib::InternetSetStatusCallback(HINTERNET internet, INTERNET_STATUS_CALLBACK callback)
{
    return Entries.InternetSetStatusCallback(internet, callback);
}

BOOL TWinetLib::InternetReadFile(HINTERNET file, void* buffer, DWORD bytesToRead, DWORD* bytesRead)
{
    return Entries.InternetReadFile(file, buffer, bytesToRead, bytesRead);
}

BOOL TWinetLib::InternetCloseHandle(HINTERNET internet)
{
    return Entries.InternetCloseHandle(internet);
}

bool TWinetLib::QueryStatusCode(HINTERNET request, DWORD* status)
{
    if (!Entries.HttpQueryInfoA)
        return false;
    DWORD value = 0;
    DWORD length = sizeof(value);
    if (!Entries.HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr))
        return false;
    *status = value;
    return true;
}

TWinetLib& SharedWinetLib()
{
    if (!SharedBinding)
        SharedBinding.reset(new TWinetLib());
    return *SharedBinding;
}
