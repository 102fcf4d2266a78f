// The full setup extractor. See sxExtractSL.h.
#include "sxExtractSL.h"

#include "ovRegistry.h"
#include "ovUtils.h"
#include "sxDialogObj.h"
#include "sxDialogs.h"
#include "sxShell.h"
#include "sxUtils.h"
#include "sxUninstRules.h"
#include "sxVersionInfo.h"

#include <exception>

const char* const SXDialogLibraryFile = "ResLib.Dll";
const char* const SXClientLibraryFile = "ovseClient.Dll";

namespace {

const char* const LockedFilesText =
    "Files were extracted successfully.\\n\\nSome files are locked by system, they will \\nbe updated after you "
    "restart your machine.\\n";

}  // namespace

TSXExtractorSL::TSXExtractorSL()
    : ClientDll(new TClientDll), Uninstall(new TUninstallINF), SetupScript(new TSetupInfFile)
{
    Header.reset(CreateHeader());
    HeaderSL = static_cast<TSXHeaderSL*>(Header.get());
    HeaderSL->MacroExpander = ExpandMacros;
    SetupScript->Uninstall = Uninstall.get();
}

TSXExtractorSL::~TSXExtractorSL()
{
    SetupScript.reset();
    ClientDll.reset();  // unloads the client library
    if (DialogLibLoaded) {
        DialogModule = GetModuleHandleA(nullptr);
        DialogLib.reset();
        DialogLibLoaded = false;
    }
    if (!DialogLibPath.empty())
        DeleteFileA(DialogLibPath.c_str());
    if (!ClientDllPath.empty())
        DeleteFileA(ClientDllPath.c_str());
    if (!LibraryFolder.empty())
        RemoveDirectoryA(RemoveTrailingBackslash(LibraryFolder).c_str());
}

TSXHeader* TSXExtractorSL::CreateHeader()
{
    return new TSXHeaderSL;
}

bool TSXExtractorSL::CallHook(const char* name)
{
    return ClientDll->CallHook(name);
}

std::string TSXExtractorSL::ReplaceTextMacros(const std::string& text) const
{
    return ReplaceAll(ReplaceAll(text, "<ProductName>", GetString(sxsProductName)), "<SetupName>",
                      GetString(sxsSetupName));
}

bool TSXExtractorSL::IsRegistered(const TFileInfo& entry) const
{
    int index = entry.FolderIndex;
    return !HeaderSL->Folders.empty() && index >= 0 && index < 32 &&
           static_cast<size_t>(index) < HeaderSL->Folders.size() && ((HeaderSL->RegisteredFolders >> index) & 1u);
}

bool TSXExtractorSL::MakeLibraryFolder()
{
    if (!LibraryFolder.empty())
        return true;
    // A folder that did not exist before: nothing planted in the temporary
    // folder beforehand can be loaded in place of the archive's libraries.
    std::string base = GetTempDir();
    for (unsigned n = 0; n < 100000; ++n) {
        std::string folder = base + FormatText("sx~%lu.%05u", GetCurrentProcessId(), n);
        if (CreateDirectoryA(folder.c_str(), nullptr)) {
            LibraryFolder = folder + "\\";
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool TSXExtractorSL::Load(TStream& stream)
{
    if (!TSXExtractor::Load(stream))
        return false;
    // The two library resources are zlib streams, not enciphered.
    TFileInfo library;
    library.Compressed = true;
    bool ok = true;
    if (HeaderSL->Options & (soDialogLibrary | soClientLibrary))
        ok = MakeLibraryFolder();
    if (ok && (HeaderSL->Options & soDialogLibrary)) {
        DialogLibPath = LibraryFolder + SXDialogLibraryFile;
        TempFiles.push_back(DialogLibPath);
        ok = ExtractResourceFile(Module, "DIALOGS", DialogLibPath, library, std::string());
        if (ok) {
            // Resources only: loaded as a data file, none of its code runs.
            DialogLib.reset(LoadLibraryExA(DialogLibPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
            ok = DialogLib.valid();
            if (ok) {
                DialogModule = DialogLib.get();
                DialogLibLoaded = true;
            }
        }
    }
    if (ok && (HeaderSL->Options & soClientLibrary)) {
        ClientDllPath = LibraryFolder + SXClientLibraryFile;
        ok = ExtractResourceFile(Module, "CLIENT_DLL", ClientDllPath, library, std::string()) &&
             ClientDll->Load(ClientDllPath);
    }
    return ok;
}

bool TSXExtractorSL::Welcome()
{
    std::string text = ConvertLineBreaks(GetString(sxsWelcomeText));
    if (text.empty())
        return true;
    text = ReplaceTextMacros(text);
    std::string caption = ReplaceTextMacros(GetString(sxsWelcomeCaption));
    return RouteMessage(svInformation, "Welcome Message Code 262", text, [&] {
        return AskConfirmation(caption, text, GetString(sxsYes), GetString(sxsNo));
    }, true);
}

bool TSXExtractorSL::GetTargetFolder()
{
    if (HeaderSL->Options & soDefaultFolder) {
        TargetFolder = ExpandMacros(HeaderSL->DefaultFolder);
        if (TargetFolder.find(':') == std::string::npos)
            TargetFolder = JoinPath(ExtractFilePath(GetThisFile()), TargetFolder);
        MakeTargetFolders(TargetFolder);
    }
    return TSXExtractor::GetTargetFolder();
}

void TSXExtractorSL::GetFilePath(int i, std::string& path)
{
    const TFileInfo& entry = Header->Files[i];
    if (!HeaderSL->Folders.empty() && entry.FolderIndex != -1) {
        if (entry.FolderIndex < 0 || static_cast<size_t>(entry.FolderIndex) >= HeaderSL->Folders.size())
            throw EReadError(FormatText("File %s names folder %ld, which the archive lacks", entry.Name.c_str(),
                                        static_cast<long>(entry.FolderIndex)));
        path = JoinPath(HeaderSL->Folders[entry.FolderIndex], entry.Name);
    } else {
        path = JoinPath(TargetFolder, entry.Name);
    }
}

bool TSXExtractorSL::PrepareFile(std::string& path, const TFileInfo& entry)
{
    FileSkipped = false;
    if ((HeaderSL->Options & soClientLibrary) && !ClientDll->FileNameHook(path)) {
        FileSkipped = true;
        return false;
    }
    // The file's own folder, with every missing parent: a name that holds
    // subfolders needs more than the listed folder.
    std::string folder = RemoveTrailingBackslash(ExtractFilePath(path));
    if (folder.empty() || folder == KnownFolder)
        return true;
    bool made;
    if (IsRegistered(entry))
        made = ForceFoldersEx(folder, &Uninstall->Folders);
    else if (HeaderSL->TempFolderIndex != -1 && entry.FolderIndex == HeaderSL->TempFolderIndex &&
             !HeaderSL->Folders.empty())
        made = ForceFoldersEx(folder, &TempFoldersMade) || ForceFolders(folder);
    else if (entry.FolderIndex == -1 || HeaderSL->Folders.empty())
        made = MakeTargetFolders(folder);
    else
        made = ForceFolders(folder);
    if (!made)
        throw EAbort();
    KnownFolder = folder;
    return true;
}

void TSXExtractorSL::PrepareTarget(std::string& path)
{
    // Whether the shared uninstaller was there before decides how it is counted.
    if (SameText(path, SharedUninstallerFile()))
        Uninstall->SharedUninstallerExisted = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    DeleteOrRedirect(path, &LockedTemp, &LockedTarget);
}

void TSXExtractorSL::FileExtracted(const std::string& path, const TFileInfo& entry)
{
    // A file the client library told us to pass over was not written: it is
    // neither recorded (its uninstall would delete someone else's file) nor
    // stamped.
    if (FileSkipped) {
        FileSkipped = false;
        return;
    }
    // A locked file written under a temporary name becomes its target at
    // the next restart: the target is what an uninstall removes.
    std::string recorded = path;
    if (!LockedTemp.empty() && LockedTemp.back() == path)
        recorded = LockedTarget.back();
    const std::string& sharedUninstaller = SharedUninstallerFile();
    int folderIndex = HeaderSL->Folders.empty() ? -1 : entry.FolderIndex;
    if (CountsTowardsSize(folderIndex, HeaderSL->TempFolderIndex, recorded, sharedUninstaller))
        ExtractedBytes += entry.Size;
    else if (SameText(recorded, sharedUninstaller))
        Uninstall->SharedUninstaller = recorded;
    if (IsRegistered(entry))
        Uninstall->Files.push_back(recorded);
    // On the file still open from writing it (a file that reaches this point
    // was written: a skipped one returned above).
    if (HeaderSL->StampDate && Written)
        SetFileTimesOnHandle(reinterpret_cast<HANDLE>(Written->NativeHandle()), HeaderSL->FileDate, 0,
                             HeaderSL->FileDate);
}

bool TSXExtractorSL::AcceptLicense()
{
    CallHook("BeforeAcceptLicense");
    bool result = true;
    std::string text = GetString(sxsLicenseText);
    if (!text.empty())
        result = RouteMessage(svInformation, "Accept License Code 263", "License Accepted",
                              [&] { return AskLicenseAcceptance(ConvertLineBreaks(text)); }, true);
    CallHook("AfterAcceptLicense");
    return result;
}

bool TSXExtractorSL::PrepareUninstall()
{
    if (!(HeaderSL->Options & soUninstall))
        return true;
    Uninstall->ProgramName = GetString(sxsProductName);
    Uninstall->IconFile = HeaderSL->UninstallIcon;
    Uninstall->AfterUninstall = ExpandMacros(HeaderSL->AfterUninstall);
    Uninstall->AfterUninstallParamString = ExpandMacros(HeaderSL->AfterUninstallParamString);
    UninstallInfPath = JoinPath(ExpandMacros(HeaderSL->UninstallFolder), GetString(sxsProductName) + ".del");
    return true;
}

bool TSXExtractorSL::RemovePrevious()
{
    for (const std::string& product : HeaderSL->PreviousProducts) {
        std::string name = ReplaceAll(product, "<ProductName>", GetString(sxsProductName));
        std::string command = Uninstall->GetUninstallCommand(name);
        if (!command.empty()) {
            std::string message = FormatText(
                "Do you want setup to remove existing %s from your system before continue? (recommended)",
                name.c_str());
            if (RouteMessage(svError, "Setup Message Code 262", message, [&] {
                    return AskConfirmation(GetString(sxsSetupName), message, GetString(sxsYes), GetString(sxsNo));
                })) {
                PumpMessage();
                RunAndWait(std::string(), command, SW_SHOWNORMAL, false);
            }
        }
        PumpMessage();
    }
    return true;
}

bool TSXExtractorSL::InstallComponents()
{
    return true;
}

bool TSXExtractorSL::RunSetupScript()
{
    if (HeaderSL->ScriptFileIndex == -1)
        return true;
    if (HeaderSL->ScriptFileIndex < 0 || HeaderSL->ScriptFileIndex >= FileCount())
        throw EReadError("The setup script names a file the archive lacks");
    std::string path;
    GetFilePath(HeaderSL->ScriptFileIndex, path);
    return SetupScript->Execute(path);
}

bool TSXExtractorSL::ExecuteCommand()
{
    bool ok = CallHook("BeforeExecuteCommand");
    if (!LockedTemp.empty()) {
        ScheduleReplacements(LockedTemp, &LockedTarget);
        std::string text = ConvertLineBreaks(LockedFilesText);
        RouteMessage(svInformation, "Locked Files Code 260", text,
                     [&] { return ShowMessageDialog(InformationCaption, text, GetString(sxsOK)); });
    } else if (ok && (HeaderSL->Options & soRunCommand)) {
        std::string command = ExpandMacros(HeaderSL->Command);
        std::string parameters = ExpandMacros(HeaderSL->Parameters);
        if (HeaderSL->Options & soWaitForCommand)
            RunAndWait(command, parameters, SW_SHOWNORMAL, false);
        else
            ShellOpen(command, parameters);
    }
    return ok && CallHook("AfterExecuteCommand");
}

bool TSXExtractorSL::DeleteTempFiles()
{
    CallHook("BeforeDeleteTempFiles");
    if ((HeaderSL->Options & soDeleteTempFiles) && HeaderSL->TempFolderIndex != -1) {
        for (int i = 0; i < FileCount(); ++i) {
            if (Header->Files[i].FolderIndex != HeaderSL->TempFolderIndex)
                continue;
            std::string path;
            try {
                GetFilePath(i, path);
            } catch (const EStreamError&) {
                continue;
            }
            TempFiles.push_back(path);
        }
    }
    for (const std::string& file : TempFiles)
        DeleteFileA(file.c_str());
    // The folders this run made for them go too, when nothing else is in
    // them (innermost first).
    if (HeaderSL->Options & soDeleteTempFiles)
        for (auto it = TempFoldersMade.rbegin(); it != TempFoldersMade.rend(); ++it)
            RemoveDirectoryA(it->c_str());
    CallHook("AfterDeleteTempFiles");
    return true;
}

const std::string& TSXExtractorSL::SharedUninstallerFile()
{
    if (SharedUninstallerPath.empty())
        SharedUninstallerPath = ExpandMacros(UninstallerPath);
    return SharedUninstallerPath;
}

bool TSXExtractorSL::MakeTargetFolders(const std::string& folder)
{
    if (!(HeaderSL->Options & soUninstall))
        return ForceFolders(folder);
    // A path of another form (relative, a bare share) is made unrecorded.
    return ForceFoldersEx(folder, &Uninstall->Folders) || ForceFolders(folder);
}

void TSXExtractorSL::ReadEntryVersion()
{
    std::string self = GetThisFile();
    std::vector<char> block;
    if (!ReadVersionBlock(self, block))
        return;
    // The first translation names the string table; the builder writes
    // 0409/04E4.
    std::string table = "040904E4";
    void* data = nullptr;
    UINT length = 0;
    if (QueryVersionValue(block, "\\VarFileInfo\\Translation", &data, &length) && length >= 4) {
        const WORD* pair = static_cast<const WORD*>(data);
        table = FormatText("%04X%04X", pair[0], pair[1]);
    }
    TVersionStrings strings;
    for (const char* name : {"CompanyName", "FileDescription", "InternalName", "ProductVersion", "URLInfoAbout"}) {
        std::string query = "\\StringFileInfo\\" + table + "\\" + name;
        data = nullptr;
        length = 0;
        if (QueryVersionValue(block, query.c_str(), &data, &length)) {
            const char* text = static_cast<const char*>(data);
            strings.emplace_back(name, std::string(text, strnlen(text, length)));
        }
    }
    TEntryVersion v = EntryValuesFromVersion(strings);
    Uninstall->DisplayVersion = v.DisplayVersion;
    Uninstall->Publisher = v.Publisher;
    Uninstall->URLInfoAbout = v.URLInfoAbout;
}

void TSXExtractorSL::KeepSetupCopy()
{
    try {
        HeaderSL->CopyPath = ExpandMacros(ReplaceAll(HeaderSL->CopyPath, "<ProductName>", GetString(sxsProductName)));
        HeaderSL->CopyKey = ReplaceAll(HeaderSL->CopyKey, "<ProductName>", GetString(sxsProductName));
        ForceFolders(ExtractFilePath(HeaderSL->CopyPath));
        if (CopyFileData(GetThisFile(), HeaderSL->CopyPath) > 0) {
            SetFileTimes(HeaderSL->CopyPath, HeaderSL->FileDate, 0, HeaderSL->FileDate);
            TRegistry registry;
            registry.RootKey = HKEY_CURRENT_USER;
            if (registry.OpenKey(HeaderSL->CopyKey, true))
                registry.WriteString("", HeaderSL->CopyPath);
        }
    } catch (...) {
        // The kept copy is a convenience: its failure never ends the setup.
    }
}

bool TSXExtractorSL::RunSteps()
{
    bool ok = CallHook("BeforeExecute") && CallHook("BeforeGetPassword") && GetPassword() &&
              CallHook("AfterGetPassword") && AcceptLicense() && PrepareUninstall() && RemovePrevious();
    if (ok) {
        ClientDll->SetHookBufferText(TargetFolder);
        CallHook("BeforeGetTargetFolder");
        std::string chosen = ClientDll->GetHookBufferText();
        if (!chosen.empty())
            TargetFolder = chosen;  // verbatim: no dialog, no backslash, no numbering
        else
            ok = GetTargetFolder();
        if (ok)
            ok = CallHook("AfterGetTargetFolder") && CallHook("BeforeExtractFiles") && ExtractFiles() &&
                 CallHook("AfterExtractFiles") && InstallComponents() && RunSetupScript() && ExecuteCommand() &&
                 CallHook("AfterExecute");
    }
    return ok;
}

void TSXExtractorSL::Cleanup()
{
    CallHook("BeforeDeleteTempFiles");
    DeleteTempFiles();
    CallHook("AfterDeleteTempFiles");
    CallHook("BeforeTerminate");
}

bool TSXExtractorSL::Execute()
{
    bool ok = false;
    try {
        ok = RunSteps();
    } catch (const EAbort&) {
        throw;  // a veto or an error entry: no cleanup, no final message
    } catch (...) {
        // Any other error still removes the temporary files before it goes
        // on to the entry.
        std::exception_ptr error = std::current_exception();
        Cleanup();
        std::rethrow_exception(error);
    }
    Cleanup();

    if (ok && (HeaderSL->Options & soUninstall)) {
        Uninstall->InstallLocation = TargetFolder;
        if (Uninstall->InstallLocation.empty() && !HeaderSL->Folders.empty())
            Uninstall->InstallLocation = HeaderSL->Folders.front();
        Uninstall->EstimatedBytes = ExtractedBytes;
        ReadEntryVersion();
        Uninstall->WriteUninstallInfo(UninstallInfPath);
    }
    if (HeaderSL->KeepCopy)
        KeepSetupCopy();
    if (HeaderSL->Options & soNoFinalMessage)
        return ok;
    std::string message = ok ? "Setup completed." : "Setup aborted.";
    RouteMessage(svInformation, "Setup Message Code 261", message,
                 [&] { return ShowMessageDialog(InformationCaption, message, GetString(sxsOK)); });
    return ok;
}
