// The full setup extractor: the setup sequence Execute with the client
// library hooks, the dialog library, per-file destination folders,
// locked-file replacement, the license step, removal of earlier products,
// the setup script, the command run afterwards, temporary-file cleanup,
// uninstall registration, the kept copy of the setup and the final message.
#pragma once

#include "sxExtract.h"

#include "ovINFFiles.h"
#include "ovUninstInt.h"
#include "sxClientDll.h"

#include <memory>
#include <string>
#include <vector>

// File names of the two libraries carried in the archive's module.
extern const char* const SXDialogLibraryFile;  // "ResLib.Dll"
extern const char* const SXClientLibraryFile;  // "ovseClient.Dll"

class TSXExtractorSL : public TSXExtractor {
public:
    TSXExtractorSL();
    // Unloads the libraries and removes them with their run folder.
    ~TSXExtractorSL() override;

    TSXHeaderSL* HeaderSL = nullptr;  // the same object as Header
    std::string ClientDllPath;        // extracted client library; empty when none
    std::string DialogLibPath;        // extracted dialog library
    std::string UninstallInfPath;     // the uninstall record to write
    bool DialogLibLoaded = false;     // the dialog library is DialogModule
    std::unique_ptr<TClientDll> ClientDll;
    std::unique_ptr<TUninstallINF> Uninstall;
    std::unique_ptr<TSetupInfFile> SetupScript;
    std::vector<std::string> LockedTemp;    // temporary names of locked files
    std::vector<std::string> LockedTarget;  // their real targets, same order

    // Virtual steps added, in slot order.
    virtual bool ExecuteCommand();
    virtual bool DeleteTempFiles();
    virtual bool AcceptLicense();
    virtual bool RunSetupScript();
    virtual bool PrepareUninstall();
    virtual bool RemovePrevious();
    virtual bool InstallComponents();

    bool PrepareFile(std::string& path, const TFileInfo& entry) override;
    void PrepareTarget(std::string& path) override;
    void FileExtracted(const std::string& path, const TFileInfo& entry) override;
    TSXHeader* CreateHeader() override;
    void GetFilePath(int i, std::string& path) override;
    bool Load(TStream& stream) override;
    bool Welcome() override;
    bool GetTargetFolder() override;
    bool Execute() override;

    // Copies the running setup program to CopyPath and records it under
    // HKEY_CURRENT_USER\CopyKey. Never reports an error.
    void KeepSetupCopy();

    // The client hook name with the shared buffer; a veto raises EAbort.
    bool CallHook(const char* name);
    // "<ProductName>" and "<SetupName>" replaced by strings 1 and 0.
    std::string ReplaceTextMacros(const std::string& text) const;
    // The folder of this run inside the temporary folder that holds the
    // libraries ("" until one is needed).
    const std::string& RunFolder() const { return LibraryFolder; }

    // Bytes of the product's own files written so far (the uninstall
    // entry's size): neither temporary files nor the shared uninstaller.
    int64_t ExtractedBytes = 0;
    // Folders of the temporary files that this run created, outermost
    // first; removed at the end of the run when empty.
    std::vector<std::string> TempFoldersMade;

protected:
    // True when file entry's folder is recorded for uninstall.
    bool IsRegistered(const TFileInfo& entry) const;
    // Makes the fresh folder of this run for the libraries.
    bool MakeLibraryFolder();
    // Creates folder and its missing parents; with uninstall registration on,
    // every folder so created is recorded (created on the way to the target).
    bool MakeTargetFolders(const std::string& folder);
    // The version information of the running setup -> the entry's values.
    void ReadEntryVersion();
    // Where the shared uninstaller goes (expanded once per run).
    const std::string& SharedUninstallerFile();

private:
    TModuleHandle DialogLib;
    std::string LibraryFolder;
    bool FileSkipped = false;  // PrepareFile answered false for the current file
    std::string SharedUninstallerPath;  // see SharedUninstallerFile
    // Runs the steps that follow the extraction's start; see Execute.
    bool RunSteps();
    void Cleanup();
};
