// What the download dialog's events (main thread) and the download thread
// share besides the manager's own fields: the dialog window the thread talks
// to, the running thread object, and the pause that holds the thread at its
// next block boundary while the abort question is open.
#pragma once

#include <windows.h>

class TCompSetupManager;
class TDownloadThread;

struct TDownloadControl {
    HWND Window = nullptr;              // the download dialog, set before the thread starts
    TDownloadThread* Thread = nullptr;  // the thread object while its thread runs
    volatile LONG PauseRequested = 0;
    HANDLE ResumeEvent = nullptr;  // manual reset; set while the thread may run on
    volatile bool InDownloadMode = false;
};

// The process-wide control record (one download dialog at a time).
TDownloadControl& DownloadControl();

// Main thread: asks the thread to stop at its next block boundary, and lets
// it go on again.
void RequestDownloadPause();
void ReleaseDownloadPause();

// Download thread: waits while a pause is requested, then raises an error
// with an empty message when the thread's Terminated flag is set.
void CheckTerminated();

// Download thread: when the dialog's State is below 2, State 2, the progress
// controls and the first progress texts. Done once per download.
void SwitchToDownloadMode(TCompSetupManager& manager);

// Waits for the handle at most `timeout` ms while carrying out the window
// messages that other threads send to this one (the download thread's
// synchronous dialog updates), so neither side can block the other. True
// when the handle was signalled.
bool WaitServingSentMessages(HANDLE handle, DWORD timeout);
