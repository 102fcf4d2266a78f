#include "DownloadThread.h"

#include "CompSetup.h"
#include "DownloadControl.h"
#include "WinInetDyn.h"
#include "iNetDlg.h"
#include "ovClass.h"
#include "sxResIDs.h"

namespace {

TDownloadControl Control;

// The thread's top function: the one place where its errors end.
DWORD WINAPI DownloadThreadMain(void* parameter)
{
    TDownloadThread& thread = *static_cast<TDownloadThread*>(parameter);
    TCompSetupManager& manager = thread.Manager;
    try {
        SharedWinetLib();  // may end the process when the library is missing
        CheckTerminated();
        if (!manager.DownloadAll())
            manager.Status = csFailed;
    } catch (...) {
        manager.Status = csCancelled;
    }
    if (!manager.Aborted && Control.Window)
        PostMessageA(Control.Window, WM_COMMAND, SXID_LV_DONE, 0);
    return 0;
}

}  // namespace

TDownloadControl& DownloadControl()
{
    if (!Control.ResumeEvent)
        Control.ResumeEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    return Control;
}

void RequestDownloadPause()
{
    TDownloadControl& control = DownloadControl();
    InterlockedExchange(&control.PauseRequested, 1);
    if (control.ResumeEvent)
        ResetEvent(control.ResumeEvent);
}

void ReleaseDownloadPause()
{
    TDownloadControl& control = DownloadControl();
    InterlockedExchange(&control.PauseRequested, 0);
    if (control.ResumeEvent)
        SetEvent(control.ResumeEvent);
}

void CheckTerminated()
{
    TDownloadControl& control = DownloadControl();
    while (control.PauseRequested && control.ResumeEvent)
        WaitForSingleObject(control.ResumeEvent, INFINITE);
    if (control.Thread && control.Thread->Terminated)
        throw Exception(std::string());
}

void SwitchToDownloadMode(TCompSetupManager&)
{
    TDownloadControl& control = DownloadControl();
    if (control.InDownloadMode)
        return;
    RunOnDialogThread(
        control.Window,
        [](void*) {
            HWND window = Control.Window;
            TLVDialogInfoOV* info = DialogInfoOf(window);
            if (!info || info->State >= 2)
                return;
            info->State = 2;
            ShowProgressControls(window);
            SetProgressText(window, "Preparing to download component(s)", "Connecting to the Internet...", 0);
        },
        nullptr);
    control.InDownloadMode = true;
}

bool WaitServingSentMessages(HANDLE handle, DWORD timeout)
{
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        const DWORD left = elapsed >= timeout ? 0 : timeout - elapsed;
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result != WAIT_OBJECT_0 + 1)
            return false;  // timed out or failed
        // Carries out the sent messages; posted ones stay queued.
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

TDownloadThread::TDownloadThread(TCompSetupManager& manager) : Manager(manager)
{
    DownloadControl().Thread = this;
    DWORD id = 0;
    // Created suspended so that the priority holds from its first step.
    Handle = CreateThread(nullptr, 0, DownloadThreadMain, this, CREATE_SUSPENDED, &id);
    if (!Handle) {
        Control.Thread = nullptr;
        throw Exception(FormatText("Cannot start the download thread (error %lu)", GetLastError()));
    }
    SetThreadPriority(Handle, THREAD_PRIORITY_BELOW_NORMAL);
    ResumeThread(Handle);
}

TDownloadThread::~TDownloadThread()
{
    if (Handle) {
        // A thread held by a pause that nobody lifts would never end.
        if (Terminated)
            ReleaseDownloadPause();
        WaitServingSentMessages(Handle, INFINITE);
        CloseHandle(Handle);
    }
    if (Control.Thread == this)
        Control.Thread = nullptr;
}
