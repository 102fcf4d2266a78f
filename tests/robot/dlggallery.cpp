// dlggallery: shows one of the setup's dialogs with sample texts, chosen on
// the command line, and prints what it returned. The robot's tests drive it,
// and the documentation's screenshots are taken of it.
//
//   dlggallery password|progress|message|confirm|license|folder|msgbox|inetsetup|needdownload [--caption TEXT] [--seconds N]
//
// inetsetup: the component download list; OK switches it to its progress
// look (progress texts, bar and animation), Cancel ends it (result=false),
// the command 200 ends it with 7 (result=true); prints "ended=N".
//
// Prints "result=true" or "result=false" (and "folder=PATH", "tried=TEXT",
// "cancelled=1", "answer=ID" or "choice=N" where they apply); the exit code is 0 for true, 1 for false,
// 2 for a usage error.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "CompSetup.h"
#include "iNetDlg.h"
#include "sxDialogs.h"
#include "sxFolderDlg.h"
#include "sxResIDs.h"
#include "sxUtils.h"

namespace {

const char kLicense[] =
    "END-USER LICENSE AGREEMENT\r\n"
    "\r\n"
    "Please read this agreement carefully before you install the product.\r\n"
    "\r\n"
    "1. Grant. You may install and use one copy of the product on one computer.\r\n"
    "2. Restrictions. You may not rent, lease or lend the product.\r\n"
    "3. No warranty. The product is provided \"as is\" without warranty of any kind.\r\n"
    "4. Limitation of liability. In no event shall the maker be liable for any damages.\r\n"
    "\r\n"
    "By choosing Yes you accept these terms.";

std::string Option(int argc, char** argv, const char* name, const std::string& fallback)
{
    for (int i = 2; i + 1 < argc; ++i)
        if (std::string(argv[i]) == name)
            return argv[i + 1];
    return fallback;
}

// The download list as the component setup fills it, with two packages.
int ShowInetSetup()
{
    TLVDialogInfoOV info;
    info.AddColumn("Component To Download", 220);
    info.AddColumn("Size", 50);
    info.AddColumn("Web Location", 250);
    info.AddIcon(LoadIconA(GetModuleHandleA(nullptr), SX_ICON_ITEM));
    const char* rows[][3] = {{"Acme Runtime", "1.5M", "http://downloads.example.com/acme/runtime.stg"},
                             {"Acme Graphics", "640K", "http://downloads.example.com/acme/graphics.stg"}};
    for (auto& row : rows) {
        TLVItemOV& item = info.AddItem();
        item.Caption = row[0];
        item.SubItems = {row[1], row[2]};
    }
    info.Text =
        "To download required component(s) from the Internet, please click the Download button. To abort setup, "
        "click the Abort button.\r\n\r\nNOTE: In case of failure you can repeat setup at any time and download "
        "component(s) either manually or automatically.";
    info.StatusText = "The total size is 2.2M. Download time for 28.8 BPS modem is 10 min 25 sec";
    info.OKText = "&Download";
    info.CancelText = "&Abort";
    info.OnOK.Proc = [](void*, TLVDialogInfoOV& dialog) {
        EnableWindow(GetDlgItem(dialog.Window, SXID_OK), FALSE);
        dialog.State = 2;
        ShowProgressControls(dialog.Window);
        SetProgressText(dialog.Window, "Downloading Acme Runtime ...", "%42 Done (645K)", 42);
    };
    info.OnCancel.Proc = [](void*, TLVDialogInfoOV& dialog) { EndDialog(dialog.Window, 2); };
    info.OnDone.Proc = [](void*, TLVDialogInfoOV& dialog) { EndDialog(dialog.Window, 7); };
    return ListViewDlgExecute(info);
}

bool Report(bool result)
{
    std::printf("result=%s\n", result ? "true" : "false");
    std::fflush(stdout);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: dlggallery password|progress|message|confirm|license|folder [--caption TEXT]\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string which = argv[1];
    const std::string caption = Option(argc, argv, "--caption", "Acme Viewer Setup");
    bool result = false;
    if (which == "password") {
        std::string last;
        result = AskPassword(caption, "Please enter the password to decrypt the files:",
                             "The password is not correct. Please try again.", "OK", "Cancel",
                             [&](const std::string& p) {
                                 last = p;
                                 std::printf("tried=%s\n", p.c_str());
                                 std::fflush(stdout);
                                 return p == "secret";
                             });
    } else if (which == "progress") {
        const int seconds = std::atoi(Option(argc, argv, "--seconds", "30").c_str());
        bool cancelled = false;
        result = RunProgressDialog(caption, "Extracting the files of Acme Viewer to\r\nC:\\Program Files\\Acme Viewer",
                                   "Cancel", [&](TProgressDlg& dialog) {
                                       // Reaches 40 percent quickly, then creeps, so a screenshot finds the bar moving.
                                       const DWORD start = GetTickCount();
                                       for (;;) {
                                           DWORD elapsed = GetTickCount() - start;
                                           int position = static_cast<int>(elapsed * 100 / (seconds * 1000 + 1));
                                           if (position > 100)
                                               position = 100;
                                           if (!dialog.SetProgress(position < 40 ? 40 : position)) {
                                               cancelled = true;
                                               break;
                                           }
                                           if (position >= 100)
                                               break;
                                           Delay(50, [] { PumpMessage(); });
                                       }
                                       dialog.Close(!cancelled);
                                   });
        if (cancelled)
            std::printf("cancelled=1\n");
    } else if (which == "message") {
        result = ShowMessageDialog(caption, "Acme Viewer has been installed successfully.\r\n\r\nClick OK to finish.", "OK");
    } else if (which == "confirm") {
        result = AskConfirmation(caption,
                                 "Do you want setup to remove existing Acme Viewer 1.0 from your system before "
                                 "continue? (recommended)",
                                 "&Yes", "&No");
    } else if (which == "license") {
        result = AskLicenseAcceptance(kLicense);
    } else if (which == "folder") {
        std::string folder = "C:\\unchanged";
        result = BrowseForFolder(nullptr, caption, "Choose the folder where Acme Viewer will be installed:", "OK",
                                 "Cancel", folder);
        std::printf("folder=%s\n", folder.c_str());
    } else if (which == "msgbox") {
        // A system message box as the setup shows its errors: Abort, Retry, Ignore.
        int answer = MessageBoxA(nullptr, "Cannot create file C:\\Program Files\\Acme Viewer\\viewer.exe.",
                                 Option(argc, argv, "--caption", "Error").c_str(), MB_ABORTRETRYIGNORE | MB_ICONERROR);
        std::printf("answer=%d\n", answer);
        result = answer == IDIGNORE;
    } else if (which == "inetsetup") {
        const int ended = ShowInetSetup();
        std::printf("ended=%d\n", ended);
        result = ended == 7;
    } else if (which == "needdownload") {
        // The component setup's download-method question.
        TCompSetupManager& manager = TCompSetupManager::Instance();
        manager.ProductName = "Acme Viewer";
        int choice = manager.AskDownloadMethod(manager.DownloadQuestion());
        std::printf("choice=%d\n", choice);
        result = choice != 0;
    } else {
        std::fprintf(stderr, "dlggallery: unknown dialog %s\n", which.c_str());
        return 2;
    }
    return Report(result) ? 0 : 1;
}
