// The extractor core: the steps that every setup shares (choosing the module
// that holds the archive, loading the archive, the welcome question, the
// password prompt, the target folder and the extraction of all files with the
// per-file decoding), and the program's run from start to exit code.
//
// Every step is a virtual operation; the full setup (sxExtractSL.h) refines
// single steps and defines the sequence Execute. A step answers false to stop
// the setup quietly; hard failures are exceptions, and EAbort is the silent
// abort of the whole run.
#pragma once

#include "sxHandles.h"
#include "sxTypes.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TProgressDlg;

// Length of the output chunks in which a file's decoded data is written.
constexpr int32_t SXOutputChunkSize = 61440;

// The archive resource and its type (RCDATA).
extern const char* const SXStorageResourceName;  // "SX_STORAGE"

class TSXExtractor {
public:
    TSXExtractor();
    virtual ~TSXExtractor();
    TSXExtractor(const TSXExtractor&) = delete;
    TSXExtractor& operator=(const TSXExtractor&) = delete;

    TStream* Stream = nullptr;  // the archive stream given to Load (not owned)
    std::string Password;       // the password that passed CheckPassword
    std::vector<std::string> Strings;  // the archive's string table
    std::string TargetFolder;   // ends with a backslash once chosen by the dialog
    bool OwnsModule = false;    // Module was loaded by Initialize
    std::string SourceFile;     // the argument given to Initialize
    std::unique_ptr<TSXHeader> Header;  // made by CreateHeader
    HMODULE Module = nullptr;   // the module whose resources hold the archive
    std::vector<std::string> TempFiles;  // files deleted at the end of the run

    // Virtual steps, in slot order.

    // False: skip this file (its data is passed over). Base: creates the
    // folder of path; true whatever that answers.
    virtual bool PrepareFile(std::string& path, const TFileInfo& entry);
    // Makes room for the file about to be written (may change path).
    // Base: clears the read-only attribute of an existing file.
    virtual void PrepareTarget(std::string& path);
    // Called after a file was written (or skipped by PrepareFile). A written
    // file is still open then, in Written, so that its times can be set on
    // the open file; it is closed right after.
    virtual void FileExtracted(const std::string& path, const TFileInfo& entry);
    virtual TSXHeader* CreateHeader();
    // The extraction loop; progress is the progress dialog or null.
    virtual void DoExtract(TProgressDlg* progress);
    // The destination of file i.
    virtual void GetFilePath(int i, std::string& path);
    // Chooses Module: the program itself for an empty argument, else the file
    // it names loaded as a data file. False when that file cannot be loaded.
    virtual bool Initialize(const std::string& argument);
    // Reads the header and the string table; false (after the invalid-format
    // report) when the archive is unreadable.
    virtual bool Load(TStream& stream);
    virtual bool Welcome();
    virtual bool LoadHeader();
    virtual bool GetPassword();
    virtual bool GetTargetFolder();
    virtual bool ExtractFiles();
    virtual bool Execute() = 0;

    // Line i of the string table; the empty text for a line it lacks.
    std::string GetString(int i) const;
    // True (and Password := typed) when typed deciphers the check block.
    bool CheckPassword(const std::string& typed);

    // The number of file entries (0 when FileCount is 0 or less).
    int FileCount() const;

    // Decodes a file's stored bytes from source to destination: decipher
    // (with a password), inflate (when Compressed), write in 61,440-byte
    // chunks. Raises on damaged data: a zlib stream that is corrupt or ends
    // early, and, when checkSize is set, a decoded length other than Size.
    // Returns the number of bytes written.
    static int64_t DecodeFile(TStream& source, TStream& destination, const std::string& password,
                              const TFileInfo& entry, bool checkSize = true);
    // Decodes the RCDATA resource name of module into the file path (created
    // or replaced); false when the resource is missing or damaged or the
    // file cannot be written (a partly written file is removed). The length
    // check does not apply: library resources have entries of all zeros.
    static bool ExtractResourceFile(HMODULE module, const std::string& name, const std::string& path,
                                    const TFileInfo& entry, const std::string& password);

    // The memory of the RCDATA resource name of module, or false when the
    // module lacks it. The memory belongs to the module.
    static bool FindResourceData(HMODULE module, const char* name, const void*& data, DWORD& size);

protected:
    // Passes over the stored data of a file that is not written.
    void SkipFileData(const TFileInfo& entry);
    // Extracts file i to path (PrepareTarget, create, decode; the file stays
    // open in Written). Sets
    // dataRead once the file's stored bytes have been taken from the archive.
    void ExtractOneFile(const TFileInfo& entry, std::string& path, bool& dataRead);
    // Shows (or logs) the cannot-write message; returns the button pressed.
    int ReportCannotWrite(const std::string& path, bool dataRead);

    // The file ExtractOneFile wrote, still open until its step is over (null
    // when the file was skipped). A cancelled step closes it unstamped.
    std::unique_ptr<TFileStream> Written;

    TModuleHandle OwnedModule;  // holds Module when OwnsModule
    // The folder the previous file was written to: it exists, so the next
    // file of the same folder needs no folder checks (one lookup less per
    // file in archives of thousands of files).
    std::string KnownFolder;
};

// The end of a run: in unattended mode, writes RunLog (when not empty) to
// logFile and returns the exit code; interactive runs return 0.
// completed: Execute ran to its end and answered true.
int FinishRun(bool completed, const std::string& logFile);

// The whole run of the program: creates the extractor through make,
// Initialize(argument), opens "SX_STORAGE" of the chosen module, Load,
// Welcome, Execute; absorbs every error (in unattended mode an error other
// than the silent abort is logged as "Unexpected Error Code 264" once the
// header was read); then FinishRun. Returns the exit code.
int RunSetup(const std::function<std::unique_ptr<TSXExtractor>()>& make, const std::string& argument,
             const std::string& logFile);

// "C:\" + the program's file name with its extension replaced by ".log".
std::string RunLogFileName(const std::string& programFile);
