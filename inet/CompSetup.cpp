// The component setup manager. See CompSetup.h.
#include "CompSetup.h"

#include "DownloadThread.h"
#include "LogUtils.h"
#include "iNetDlg.h"
#include "ovSHA256.h"
#include "ovUtils.h"
#include "ovsMain.h"
#include "sxCompRules.h"
#include "sxFolderDlg.h"
#include "sxHandles.h"
#include "sxResIDs.h"
#include "sxUtils.h"
#include "sxVersionInfo.h"

#include <cstring>
#include <vector>

namespace {

const char* const QuestionText =
    "Lumara Ravudure Dudor detected that in order to use %s on your computer, you need to install additional "
    "system components.\\n\\nHow do you want to proceed?";
const char* const CorruptedText =
    "The component \"%s\" in \\n\"%s\" is corrupted. Please try to download it again.\r\n\r\nIf problem persists, "
    "please contact Lumara support service.";
const char* const BadDescriptionText =
    "The description of the component \"%s\" in this setup is corrupted.\\n\\nPlease contact the product vendor.";
const char* const NotFoundText = "Could not find file \"%s\"";
const char* const FolderTitle = "Please select folder containing required components...";
const char* const DialogText =
    "To download required component(s) from the Internet, please click the Download button. To abort setup, click "
    "the Abort button.\\n\\nNOTE: In case of failure you can repeat setup at any time and download component(s) "
    "either manually or automatically.";
const char* const PageQuestionText =
    "Setup will create on your Windows Desktop \\nthe HTML file \"%s\"\\nwith download instructions.\\n\\nDo you "
    "wish to proceed?";

const char* const ExtractTag = "Component Setup Extract Files Code 256";

// The "\n" markers of a stored text become line breaks first; the values
// (names, paths) go in afterwards and stay as they are.
std::string FormatStored(const char* stored, const std::string& a, const std::string& b = std::string())
{
    return FormatText(ConvertLineBreaks(stored).c_str(), a.c_str(), b.c_str());
}

// An error box like ShowError, for a text whose line breaks are already in
// place (a path such as C:\new must not be converted).
void ShowErrorText(const std::string& text)
{
    MessageBeep(MB_ICONHAND);
    MessageBoxA(nullptr, text.c_str(), ErrorCaption.c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

// A corrupted package or description: an error box, or in unattended mode the
// 256 entry (which ends the run).
void ReportCorrupted(const std::string& text)
{
    RouteMessage(svError, ExtractTag, text, [&] {
        ShowErrorText(text);
        return 0;
    });
}

// The version resource of a file; 0.0.0.0 when it has none.
TCompVersion ReadFileVersion(const std::string& path)
{
    TCompVersion version;
    std::vector<char> data;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!ReadVersionBlock(path, data) ||
        !QueryVersionValue(data, "\\", reinterpret_cast<void**>(&info), &length) ||
        length < sizeof(VS_FIXEDFILEINFO))
        return version;
    version.Major = HIWORD(info->dwFileVersionMS);
    version.Minor = LOWORD(info->dwFileVersionMS);
    version.Release = HIWORD(info->dwFileVersionLS);
    version.Build = LOWORD(info->dwFileVersionLS);
    return version;
}

// Opens a package for hashing: others may read it, nobody may write it.
HANDLE OpenForHash(const std::string& fileName)
{
    return CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// True when the file's bytes hash to the 64 hex digits of hexDigest. A
// digest that cannot be read matches nothing.
bool HashMatches(HANDLE file, const std::string& hexDigest)
{
    uint8_t wanted[TSHA256::DigestSize];
    if (!ParseSHA256Hex(hexDigest, wanted))
        return false;
    TSHA256 hash;
    std::vector<uint8_t> buffer(65536);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return false;
        if (got == 0)
            break;
        hash.Update(buffer.data(), got);
    }
    uint8_t digest[TSHA256::DigestSize];
    hash.Final(digest);
    return std::memcmp(digest, wanted, sizeof(digest)) == 0;
}

// One key of the INF file by the platform's INI rules; values up to 64 KiB.
std::string ReadIniText(const std::string& fileName, const std::string& section, const std::string& key)
{
    std::vector<char> buffer(4352);
    for (;;) {
        DWORD got = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(),
                                             static_cast<DWORD>(buffer.size()), fileName.c_str());
        if (got + 1 < buffer.size() || buffer.size() >= 65536)
            return std::string(buffer.data(), got);
        buffer.resize(buffer.size() * 2);
    }
}

int32_t ReadIniInt(const std::string& fileName, const std::string& section, const std::string& key)
{
    return static_cast<int32_t>(GetPrivateProfileIntA(section.c_str(), key.c_str(), 0, fileName.c_str()));
}

// The state of one showing of "NEED_DOWNLOAD_DLG".
struct TDownloadMethodDlg {
    std::string Text;
    int Choice = 1;
};

INT_PTR CALLBACK DownloadMethodProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        TDownloadMethodDlg* dlg = reinterpret_cast<TDownloadMethodDlg*>(lParam);
        CenterWindow(nullptr, window);
        SetDlgItemTextA(window, SXID_NEED_TEXT, ConvertLineBreaks(dlg->Text).c_str());
        CheckRadioButton(window, SXID_NEED_AUTO, SXID_NEED_LOCAL, SXID_NEED_AUTO);
        dlg->Choice = 1;
        return TRUE;
    }
    case WM_COMMAND: {
        TDownloadMethodDlg* dlg = reinterpret_cast<TDownloadMethodDlg*>(GetWindowLongPtrA(window, DWLP_USER));
        if (!dlg)
            return FALSE;
        int id = LOWORD(wParam);
        int code = HIWORD(wParam);
        if (id >= SXID_NEED_AUTO && id <= SXID_NEED_LOCAL) {
            if (code == BN_CLICKED || code == BN_DOUBLECLICKED)
                dlg->Choice = id - 100;
            if (code == BN_DOUBLECLICKED)
                EndDialog(window, dlg->Choice);
            return TRUE;
        }
        if (id == IDOK) {
            EndDialog(window, dlg->Choice);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(window, 0);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

}  // namespace

// ---- Files and components ---------------------------------------------------------

bool TCompSetupFile::IsInstalled()
{
    if (!Evaluated) {
        Installed = IsCompFileInstalled(
            Path, Version, [](const std::string& path) { return FileExists(path); }, ReadFileVersion);
        Evaluated = true;
    }
    return Installed;
}

bool TCompSetupComponent::NeedsDownload()
{
    if (!Evaluated) {
        bool needed = false;
        for (const auto& file : Files)
            if (!file->IsInstalled()) {
                needed = true;
                break;
            }
        Needed = needed;
        Evaluated = true;
    }
    return Needed;
}

// ---- The manager --------------------------------------------------------------------

TCompSetupManager& TCompSetupManager::Instance()
{
    static TCompSetupManager manager;
    return manager;
}

TCompSetupManager::~TCompSetupManager()
{
    DownloadThread.reset();  // waits for the thread's end
    Components.clear();
}

void TCompSetupManager::Reset()
{
    DownloadThread.reset();
    DialogInfo = nullptr;
    InternetHandle = nullptr;
    TempFolder.clear();
    Needed = false;
    Aborted = false;
    OnFileDownloaded = nullptr;
    OnFileDownloadedContext = nullptr;
    Status = csOK;
    ProductName.clear();
    Components.clear();
    TempNames = nullptr;
    TargetNames = nullptr;
}

bool TCompSetupManager::LoadComponents(const std::string& infFileName, const std::vector<std::string>& sectionNames)
{
    Logger().Add("START TCompSetupManager.LoadComponents");
    // Names first: a name that is not a plain file name would lead the
    // downloaded package out of the run's folder. Refused before anything is
    // looked at or asked.
    for (const std::string& name : sectionNames)
        if (!IsPlainComponentName(name)) {
            ReportCorrupted(FormatStored(BadDescriptionText, name));
            return false;
        }
    // infFileName is a full path: the INI functions would look a bare name
    // up in the Windows folder.
    for (const std::string& name : sectionNames) {
        std::unique_ptr<TCompSetupComponent> component(new TCompSetupComponent);
        component->Name = name;
        component->Description = ReadIniText(infFileName, name, "Description");
        component->WebAddress = ReadIniText(infFileName, name, "WebAddress");
        component->LocalAddress = ExpandMacros(ReadIniText(infFileName, name, "LocalAddress"));
        component->WebSize = ReadIniInt(infFileName, name, "WebSize");
        component->OnDoneInfFile = ExpandMacros(ReadIniText(infFileName, name, "OnDone.InfFile"));
        component->OnDoneParam = ReadIniText(infFileName, name, "OnDone.Param");
        component->OnDoneCommand = ExpandMacros(ReadIniText(infFileName, name, "OnDone.Command"));
        component->WebSHA256 = ReadIniText(infFileName, name, "WebSHA256");
        int32_t count = ReadIniInt(infFileName, name, "FileCount");
        // A count beyond any real component is damaged data, not a reason to
        // allocate without bound.
        if (count > MaxComponentFiles) {
            ReportCorrupted(FormatStored(BadDescriptionText, name));
            return false;
        }
        for (int32_t n = 1; n <= count; ++n) {
            std::string line = ReadIniText(infFileName, name, FormatText("File%ld", static_cast<long>(n)));
            std::unique_ptr<TCompSetupFile> file(new TCompSetupFile);
            size_t comma = line.find(',');
            file->Path = ExpandMacros(line.substr(0, comma));
            if (comma != std::string::npos)
                file->Version = line.substr(comma + 1, 4096);
            component->Files.push_back(std::move(file));
        }
        Components.push_back(std::move(component));
    }
    return true;
}

void TCompSetupManager::Execute()
{
    Logger().Add("START TCompSetupManager.Execute");
    ResolveLocalSetup(std::string());
    while (Status == csOK && NeedsDownload()) {
        std::string question = DownloadQuestion();
        switch (RouteMessage(svError, "Component Setup Code 255", ConvertLineBreaks(question),
                             [&] { return AskDownloadMethod(question); })) {
        case 1:
            PromptForDownload();
            break;
        case 2:
            CreateDownloadPage();
            break;
        case 3:
            SelectLocalFolder();
            break;
        default:
            Status = csCancelled;
            break;
        }
    }
    if (Status == csOK)
        for (const auto& component : Components)
            RunOnDoneCommand(*component);
}

std::string TCompSetupManager::DownloadQuestion() const
{
    return FormatText(QuestionText, ProductName.c_str());
}

bool TCompSetupManager::NeedsDownload()
{
    bool needed = false;
    for (const auto& component : Components)
        if (component->NeedsDownload()) {
            needed = true;
            break;
        }
    Needed = needed;
    return needed;
}

void TCompSetupManager::ResolveLocalSetup(const std::string& folder)
{
    for (const auto& item : Components) {
        TCompSetupComponent& component = *item;
        if (!component.NeedsDownload())
            continue;
        std::string path =
            folder.empty() ? component.LocalAddress : JoinPath(folder, ExtractFileName(component.LocalAddress));
        if (path.empty() || !FileExists(path)) {
            if (!folder.empty())
                ShowErrorText(FormatText(NotFoundText, path.c_str()));
            continue;
        }
        bool success = InstallFromPackage(component, path) && RunOnDoneInf(component);
        component.Needed = !success;
        if (!success) {
            Status = csCorrupted;
            ReportCorrupted(FormatStored(CorruptedText, component.Name, path));
        }
    }
}

bool TCompSetupManager::PackageMatchesHash(const TCompSetupComponent& component, const std::string& packageFile)
{
    if (component.WebSHA256.empty())
        return true;
    TFileHandle file(OpenForHash(packageFile));
    return file.valid() && HashMatches(file.get(), component.WebSHA256);
}

bool TCompSetupManager::InstallFromPackage(TCompSetupComponent& component, const std::string& packageFile)
{
    Logger().Add("START TCompSetupManager.InstallFromPackage");
    // A package that does not hash to the digest its description names is
    // never opened. The hashed handle stays open, denying writes, until the
    // extraction is over: the bytes extracted are the bytes hashed.
    TFileHandle hashed;
    if (!component.WebSHA256.empty()) {
        hashed.reset(OpenForHash(packageFile));
        if (!hashed.valid() || !HashMatches(hashed.get(), component.WebSHA256))
            return false;
    }
    // Read-only: a package on a CD or a read-only share installs; one that
    // cannot be opened at all counts as corrupted.
    TStgHandle handle = nullptr;
    try {
        if (StgOpenReadOnly(packageFile.c_str(), "", &handle) != stgOk)
            return false;
    } catch (const Exception&) {
        return false;
    }
    auto close = MakeScopeExit([handle] { StgClose(handle); });
    bool ok = true;
    for (const auto& item : component.Files) {
        if (!ok)
            break;
        TCompSetupFile& file = *item;
        // Setup scripts are always extracted; other files only when missing.
        if (!HasInfExtension(file.Path) && file.IsInstalled())
            continue;
        for (;;) {
            bool written = false;
            std::string name = ExtractFileName(file.Path);
            TStgSearchFilter filter;
            filter.Name = name;
            filter.Mask = stgAttrComponentFile;
            TStgSearchRec record;
            bool found = !name.empty() && StgFindFirst(handle, &filter, &record) == stgOk;
            int32_t id = record.Id;
            StgFindClose(handle, record);
            if (found) {
                ForceFolders(RemoveTrailingBackslash(ExtractFilePath(file.Path)));
                DeleteOrRedirect(file.Path, TempNames, TargetNames);
                try {
                    written = StgExtractFile(handle, id, file.Path.c_str(), 0) == stgOk;
                } catch (const Exception&) {
                    written = false;
                }
            }
            if (written)
                break;
            std::string text = FormatStored(SXCannotWriteText, file.Path);
            int answer = RouteMessage(svError, ExtractTag, text, [&] {
                return MessageBoxA(nullptr, text.c_str(), ErrorCaption.c_str(),
                                   MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_SETFOREGROUND);
            });
            if (answer == IDRETRY)
                continue;
            if (answer != IDIGNORE)
                ok = false;
            break;
        }
    }
    return ok;
}

bool TCompSetupManager::RunOnDoneInf(TCompSetupComponent& component)
{
    if (component.OnDoneInfFile.empty())
        return true;
    return component.InfScript.Execute(component.OnDoneInfFile);
}

bool TCompSetupManager::RunOnDoneCommand(TCompSetupComponent& component)
{
    if (component.OnDoneCommand.empty())
        return true;
    return RunAndWait(component.OnDoneCommand, component.OnDoneParam, SW_SHOW, false) == 0;
}

void TCompSetupManager::SelectLocalFolder()
{
    std::string folder;
    if (BrowseForFolder(nullptr, std::string(), FolderTitle, std::string(), std::string(), folder))
        ResolveLocalSetup(folder);
}

int TCompSetupManager::AskDownloadMethod(const std::string& text)
{
    TDownloadMethodDlg dlg;
    dlg.Text = text;
    // Always the program's own template, never one of a dialog library.
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), SX_DLG_NEED_DOWNLOAD, nullptr, DownloadMethodProc,
                                     reinterpret_cast<LPARAM>(&dlg));
    return result >= 0 && result <= 3 ? static_cast<int>(result) : 0;
}

void TCompSetupManager::PromptForDownload()
{
    Logger().Add("START TCompSetupManager.PromptForDownload");
    std::unique_ptr<TLVDialogInfoOV> info(new TLVDialogInfoOV);
    InitializeDialogInfo(*info);
    DialogInfo = info.get();
    ListViewDlgExecute(*info);
    DialogInfo = nullptr;
}

void TCompSetupManager::InitializeDialogInfo(TLVDialogInfoOV& info)
{
    info.AddColumn("Component To Download", 220);
    info.AddColumn("Size", 50);
    info.AddColumn("Web Location", 250);
    HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), SX_ICON_ITEM, IMAGE_ICON, 16, 16, 0));
    if (icon) {
        info.AddIcon(icon);  // the image list keeps its own copy
        DestroyIcon(icon);
    }
    FillDialogItems(info);
    info.OKText = "&Download";
    info.CancelText = "&Abort";
    info.OnOK = {[](void* context, TLVDialogInfoOV& dialog) {
                     static_cast<TCompSetupManager*>(context)->StartDownload(dialog);
                 },
                 this};
    info.OnCancel = {[](void* context, TLVDialogInfoOV& dialog) {
                         static_cast<TCompSetupManager*>(context)->ConfirmAbort(dialog);
                     },
                     this};
    info.OnDone = {[](void*, TLVDialogInfoOV& dialog) { EndDialog(dialog.Window, 7); }, this};
}

void TCompSetupManager::FillDialogItems(TLVDialogInfoOV& info)
{
    info.ClearItems();
    uint32_t total = 0;  // summed as signed 32-bit, wrapping like the sizes it adds
    for (const auto& component : Components) {
        if (!component->NeedsDownload())
            continue;
        TLVItemOV& item = info.AddItem();
        item.Caption = component->Name;
        item.ImageIndex = 0;
        item.Data = component->Description.c_str();
        item.SubItems = {FormatSize(component->WebSize), component->WebAddress};
        total += static_cast<uint32_t>(component->WebSize);
    }
    int32_t sum = static_cast<int32_t>(total);
    info.Text = ConvertLineBreaks(DialogText);
    info.StatusText = DownloadStatusText(FormatSize(sum), FormatDuration(DownloadSeconds(sum)));
}

void TCompSetupManager::CreateDownloadPage()
{
    if (!Confirm(FormatText(PageQuestionText, DownloadPageFileName)))
        return;
    std::string rows;
    for (const auto& component : Components)
        if (component->Needed)
            rows += DownloadPageRow(component->Name, FormatSize(component->WebSize), component->WebAddress);
    std::string fileName = JoinPath(GetSpecialFolderPath(0), DownloadPageFileName);
    SaveStringToFile(DownloadPageText(ProductName, rows), fileName);
    Status = csCancelled;
}
