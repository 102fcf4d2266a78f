// The binding to the system's Internet library, loaded on first use by its
// full path in the system folder. The download counts on eight entry points;
// without any of them the program cannot go on (a fatal box, exit code 8).
#pragma once

#include <windows.h>
#include <wininet.h>

class TWinetLib {
public:
    // Loads the library and looks up its entry points. When the library or
    // one of the eight required entry points is missing: default beep, the
    // box "Failed to load Windows Internet subsystem (wininet.dll)" and the
    // end of the process with exit code 8.
    TWinetLib();
    // Frees the library when the last live binding goes.
    ~TWinetLib();
    TWinetLib(const TWinetLib&) = delete;
    TWinetLib& operator=(const TWinetLib&) = delete;

    HMODULE LibraryHandle = nullptr;
    bool Loaded = false;

    // Each passes its arguments unchanged to the entry point.
    HINTERNET InternetOpen(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                           DWORD flags);
    HINTERNET InternetOpenUrl(HINTERNET internet, const char* url, const char* headers, DWORD headersLength,
                              DWORD flags, DWORD_PTR context);
    INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET internet, INTERNET_STATUS_CALLBACK callback);
    BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD bytesToRead, DWORD* bytesRead);
    BOOL InternetCloseHandle(HINTERNET internet);
    // The numeric HTTP status of an answer: true and *status when the
    // library has HttpQueryInfoA (optional) and the handle is an HTTP one.
    bool QueryStatusCode(HINTERNET request, DWORD* status);

    // Where the library is looked for: <system folder>\wininet.dll.
    static const char* const LibraryName;
};

// The process-wide binding, created by the download thread the first time
// it runs (which may end the process) and freed at program end.
TWinetLib& SharedWinetLib();
