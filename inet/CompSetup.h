// The component setup: decides from file versions which shared components a
// product needs are missing, lets the user choose how to get their packages
// (download with progress, a download page for the browser, or a folder of
// packages already on disk), extracts each component's files from its
// package, runs its setup script and finally its completion command.
//
// One manager exists per process (Instance). The component-aware extractor
// fills it (LoadComponents) and runs it (Execute); Status tells the outcome.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ovINFFiles.h"

class TLVDialogInfoOV;
class TDownloadThread;

// Status values of the manager.
enum : uint8_t {
    csOK = 0,              // no failure (yet)
    csCancelled = 1,       // cancelled, aborted, page written, or an error in the download thread
    csWriteFailed = 2,     // a downloaded block could not be written; passes into csFailed
    csCorrupted = 3,       // a package on disk could not be installed
    csFailed = 5,          // a download or the installation from a downloaded package failed
};

// One file of a component.
class TCompSetupFile {
public:
    bool Evaluated = false;
    bool Installed = false;
    std::string Path;     // target path, macros expanded
    std::string Version;  // required version, or empty

    // Worked out once, then answered from Installed. Raises EConvertError for
    // a version text whose parts are not decimal numbers.
    bool IsInstalled();
};

// One component, read from its section of the component INF text.
class TCompSetupComponent {
public:
    TSetupInfFile InfScript;  // runs OnDoneInfFile
    bool Evaluated = false;
    bool Needed = false;
    std::string Name;
    std::string Description;
    std::string WebAddress;
    std::string LocalAddress;
    int32_t WebSize = 0;
    std::string OnDoneInfFile;
    std::string OnDoneParam;
    std::string OnDoneCommand;
    std::string WebSHA256;  // optional: 64 hex digits the package must hash to
    std::vector<std::unique_ptr<TCompSetupFile>> Files;

    // Worked out once, then answered from Needed.
    bool NeedsDownload();
};

class TCompSetupManager {
public:
    static TCompSetupManager& Instance();
    ~TCompSetupManager();

    std::unique_ptr<TDownloadThread> DownloadThread;
    TLVDialogInfoOV* DialogInfo = nullptr;  // while the download dialog is shown
    void* InternetHandle = nullptr;         // HINTERNET while the download thread runs
    std::string TempFolder;                 // folder of downloaded packages (ends with a backslash)
    bool Needed = false;
    volatile bool Aborted = false;
    // Told of every package file a download has written.
    void (*OnFileDownloaded)(void* context, const std::string& fileName) = nullptr;
    void* OnFileDownloadedContext = nullptr;
    volatile uint8_t Status = csOK;
    std::string ProductName;
    std::vector<std::unique_ptr<TCompSetupComponent>> Components;
    std::vector<std::string>* TempNames = nullptr;    // locked-file lists, not owned
    std::vector<std::string>* TargetNames = nullptr;

    // Reads one component per section name from the INF file. False when a
    // component cannot be accepted (a name that is not a plain file name).
    bool LoadComponents(const std::string& infFileName, const std::vector<std::string>& sectionNames);
    // The whole component setup; the outcome is in Status.
    void Execute();

    bool NeedsDownload();
    void ResolveLocalSetup(const std::string& folder);
    void PromptForDownload();
    void InitializeDialogInfo(TLVDialogInfoOV& info);
    // Fills the dialog model's items and texts from the components still
    // needed. Touches the item list: call on the dialog's thread.
    void FillDialogItems(TLVDialogInfoOV& info);
    void CreateDownloadPage();
    void SelectLocalFolder();
    bool InstallFromPackage(TCompSetupComponent& component, const std::string& packageFile);
    bool RunOnDoneInf(TCompSetupComponent& component);
    bool RunOnDoneCommand(TCompSetupComponent& component);
    int AskDownloadMethod(const std::string& text);
    // The download-method question for ProductName, as stored ("\n" markers).
    std::string DownloadQuestion() const;
    // True when the component names no WebSHA256 or the file hashes to it.
    bool PackageMatchesHash(const TCompSetupComponent& component, const std::string& packageFile);

    // The download (download thread and Internet access).
    void StartDownload(TLVDialogInfoOV& info);  // the dialog's OK event, main thread
    void ConfirmAbort(TLVDialogInfoOV& info);   // the dialog's Cancel event, main thread
    bool DownloadAll();                         // download thread
    // Download thread: fetches url into fileName; returns the bytes written.
    int64_t DownloadFile(const std::string& url, const std::string& fileName, const std::string& progressText,
                         int32_t size);

    // Forgets everything of a run (tests).
    void Reset();

private:
    TCompSetupManager() = default;
};
