// The download thread: fetches the missing packages and installs them.
#pragma once
#include <windows.h>
class TCompSetupManager;
class TDownloadThread {
public:
    explicit TDownloadThread(TCompSetupManager& manager);
    // Waits for the thread's end.
    ~TDownloadThread();
    TCompSetupManager& Manager;
    HANDLE Handle = nullptr;
    volatile bool Terminated = false;
    void Terminate() { Terminated = true; }
};
