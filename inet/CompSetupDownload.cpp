// The download side of the component setup manager: the dialog's Download
// and Abort events (main thread), and the transfer and installation of the
// missing packages (download thread).
#include <memory>
#include <string>

#include "CompSetup.h"
#include "DownloadControl.h"
#include "DownloadText.h"
#include "DownloadThread.h"
#include "WinInetDyn.h"
#include "iNetDlg.h"
#include "ovClass.h"
#include "ovUtils.h"
#include "sxHandles.h"
#include "sxResIDs.h"
#include "sxUtils.h"

namespace {

const char kAgent[] = "Lumara Ravudure Dudor";
const char kAcceptHeader[] = "Accept: */*";
constexpr DWORD kReadBlock = 4097;
constexpr DWORD kAbortWait = 5000;

const char kPreparingText[] =
    "Lumara Ravudure Dudor now is preparing to download the required component(s). Please wait...\r\n\r\n"
    "To terminate the setup at any time, click the Abort button. You can continue the interrupted downloading "
    "later.";
const char kAbortQuestion[] =
    "This will terminate the setup. You can continue it later.\r\n\r\nAre you sure you want to exit setup?";
const char kTerminatingText[] = "Terminating. Please wait...";

// Every notification of the Internet library, whatever its kind, means the
// transfer has begun.
void CALLBACK InternetStatus(HINTERNET, DWORD_PTR context, DWORD, LPVOID, DWORD)
{
    try {
        if (context)
            SwitchToDownloadMode(*reinterpret_cast<TCompSetupManager*>(context));
    } catch (...) {
        // Nothing may unwind into the library; the next block shows the controls.
    }
}

// A fresh private folder under the system's temporary folder, for a run
// that did not name one. Empty when none can be made.
std::string MakePrivateFolder()
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = MakeTempName(GetTempDir(), std::string());
        if (CreateDirectoryA(name.c_str(), nullptr))
            return name + "\\";
    }
    return std::string();
}

}  // namespace

void TCompSetupManager::StartDownload(TLVDialogInfoOV& info)
{
    if (info.State != 0)
        return;
    EnableWindow(GetDlgItem(info.Window, SXID_OK), FALSE);
    info.State = 1;
    SetMainText(info.Window, kPreparingText);
    TDownloadControl& control = DownloadControl();
    control.Window = info.Window;
    control.InDownloadMode = false;
    ReleaseDownloadPause();
    DownloadThread.reset();  // an earlier one has ended; its destruction waits for that
    DownloadThread.reset(new TDownloadThread(*this));
}

void TCompSetupManager::ConfirmAbort(TLVDialogInfoOV& info)
{
    HWND window = info.Window;
    EnableWindow(GetDlgItem(window, SXID_CANCEL), FALSE);
    TDownloadThread* thread = DownloadThread.get();
    if (thread)
        RequestDownloadPause();

    // The confirmed abort: the thread stops at its next check, or is left
    // behind after five seconds (it then ends on its own and posts nothing).
    auto abort = [&] {
        Aborted = true;
        info.State = 3;
        SetTerminatingText(window, kTerminatingText);
        if (thread) {
            thread->Terminate();
            ReleaseDownloadPause();
            WaitServingSentMessages(thread->Handle, kAbortWait);
        }
        Status = csCancelled;
        EndDialog(window, 7);
    };

    int answer = IDNO;
    try {
        answer = RouteMessage(svError, "Component Setup Aborted Code 257", kAbortQuestion, [&] {
            return MessageBoxA(window, kAbortQuestion, "Confirmation",
                               MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION | MB_SETFOREGROUND);
        });
    } catch (...) {
        // Logging the question ends an unattended run: stop the thread first,
        // so nothing waits for a pause that no answer will lift.
        abort();
        throw;
    }
    if (answer != IDYES) {
        EnableWindow(GetDlgItem(window, SXID_CANCEL), TRUE);
        if (thread)
            ReleaseDownloadPause();
        return;
    }
    abort();
}

bool TCompSetupManager::DownloadAll()
{
    bool ok = false;
    if (!Needed)
        return false;
    // The run names its private folder; a run that did not gets a fresh one,
    // never a predictable name in the shared temporary folder.
    if (TempFolder.empty())
        TempFolder = MakePrivateFolder();
    if (TempFolder.empty())
        return false;
    if (TempFolder.back() != '\\')
        TempFolder += '\\';

    TWinetLib& library = SharedWinetLib();
    HINTERNET root = library.InternetOpen(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!root) {
        Needed = true;
        return false;
    }
    InternetHandle = root;
    auto closeRoot = MakeScopeExit([&] {
        library.InternetCloseHandle(root);
        InternetHandle = nullptr;
    });
    CheckTerminated();

    for (auto& component : Components) {
        if (!component->NeedsDownload())
            continue;
        // A name that could reach outside the folder is never downloaded.
        const std::string packageFile = PackageFileName(TempFolder, component->Name, component->WebAddress);
        ok = !packageFile.empty();
        if (ok) {
            const std::string progressText = "Downloading " + component->Name + " ...";
            ok = DownloadFile(component->WebAddress, packageFile, progressText, component->WebSize) > 0 &&
                 Status == csOK;
        }
        CheckTerminated();
        // A package that does not hash to its WebSHA256 is never opened.
        if (ok)
            ok = PackageMatchesHash(*component, packageFile);
        if (ok)
            ok = InstallFromPackage(*component, packageFile) && RunOnDoneInf(*component);
        if (!ok)
            return false;  // Needed stays as it was
        component->Needed = false;
        // The list view reads the items when it paints: refill them on the
        // dialog's thread.
        RunOnDialogThread(
            DownloadControl().Window,
            [](void* context) {
                auto& manager = *static_cast<TCompSetupManager*>(context);
                if (TLVDialogInfoOV* info = DialogInfoOf(DownloadControl().Window)) {
                    manager.FillDialogItems(*info);
                    RefreshItems(info->Window);
                }
            },
            this);
    }
    Needed = !ok;
    return ok;
}

int64_t TCompSetupManager::DownloadFile(const std::string& url, const std::string& fileName,
                                        const std::string& progressText, int32_t size)
{
    int64_t total = 0;
    if (size <= 0)
        return 0;
    HWND window = DownloadControl().Window;
    SetProgressText(window, progressText, std::string(), 0);

    TWinetLib& library = SharedWinetLib();
    HINTERNET request = library.InternetOpenUrl(static_cast<HINTERNET>(InternetHandle), url.c_str(), kAcceptHeader,
                                                sizeof(kAcceptHeader) - 1, 0, reinterpret_cast<DWORD_PTR>(this));
    auto closeRequest = MakeScopeExit([&] {
        if (request)
            library.InternetCloseHandle(request);
    });
    CheckTerminated();
    if (!request)
        return 0;
    // An error page is not a package: nothing is written for it.
    DWORD httpStatus = 0;
    if (library.QueryStatusCode(request, &httpStatus) && (httpStatus < 200 || httpStatus > 299))
        return 0;
    library.InternetSetStatusCallback(request, InternetStatus);

    TFileHandle file(CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    if (!file)
        throw EFCreateError(FormatText("Cannot create file %s", fileName.c_str()));
    // Closed and reported on every way out, before the request is closed.
    auto report = MakeScopeExit([&] {
        file.reset();
        try {
            if (OnFileDownloaded)
                OnFileDownloaded(OnFileDownloadedContext, fileName);
        } catch (...) {
            // A report that fails leaves the file where it is; the folder goes at the end of the run.
        }
    });

    char buffer[kReadBlock];
    bool normalEnd = true;
    int32_t shownPercent = -1;
    std::string shownText;
    for (;;) {
        DWORD bytesRead = 0;
        if (!library.InternetReadFile(request, buffer, kReadBlock, &bytesRead) || bytesRead == 0)
            break;
        CheckTerminated();
        DWORD bytesWritten = 0;
        if (!WriteFile(file.get(), buffer, bytesRead, &bytesWritten, nullptr))
            bytesWritten = 0;
        CheckTerminated();
        if (bytesWritten < bytesRead) {
            Status = csWriteFailed;
            normalEnd = false;
            break;
        }
        total += bytesWritten;
        const int32_t percent = DownloadPercent(total, size);
        SwitchToDownloadMode(*this);
        // The dialog is told whenever what it shows changes; a block that
        // changes neither the percent nor the size text shows nothing new.
        std::string doneText = DownloadDoneText(percent, FormatSizeLarge(total));
        if (percent != shownPercent || doneText != shownText) {
            SetProgressText(window, progressText, doneText, percent);
            shownPercent = percent;
            shownText.swap(doneText);
        }
    }
    if (normalEnd)
        Status = csOK;
    return total;
}
