// PLACEHOLDER, replaced at the merge by inet/CompSetupDownload.cpp (the
// download thread and the Internet access, built on another branch). It only
// lets this branch link: nothing here downloads anything. Delete this file
// when CompSetupDownload.cpp arrives.
#include "CompSetup.h"

#include "DownloadThread.h"
#include "iNetDlg.h"

TDownloadThread::TDownloadThread(TCompSetupManager& manager) : Manager(manager) {}

TDownloadThread::~TDownloadThread()
{
    if (Handle) {
        WaitForSingleObject(Handle, INFINITE);
        CloseHandle(Handle);
    }
}

// Placeholder: no download starts.
void TCompSetupManager::StartDownload(TLVDialogInfoOV&) {}

// Placeholder: ends the dialog as an abort would.
void TCompSetupManager::ConfirmAbort(TLVDialogInfoOV& info)
{
    Aborted = true;
    Status = csCancelled;
    if (info.Window)
        EndDialog(info.Window, 7);
}

// Placeholder: nothing is fetched.
bool TCompSetupManager::DownloadAll()
{
    return false;
}

// Placeholder: nothing is fetched.
int64_t TCompSetupManager::DownloadFile(const std::string&, const std::string&, const std::string&, int32_t)
{
    return 0;
}
