// The storage container (TovFileStg) and one entry opened through its
// pipeline of filters (TPipedFile).
//
// Damaged containers: a header that cannot be read, a wrong magic (version
// 0x0101 and above), an EntryHeaderSize that is not 2 + 8 x the filters the
// flags name, an extension or a directory that does not fit in the file give
// code 7 at Open. An entry block that lies outside the file, filter
// headers that do not agree with each other or with the directory record, a
// short read anywhere in the chain, and zlib data that is corrupt or ends
// before the entry's length give code 1 at extraction; the partly written
// target file is then removed. The reader never reads outside its buffers.
#pragma once

#include "ovStgDef.h"
#include "ovsPipe.h"
#include "ovStream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TovFileStg;

// One container entry opened through a pipeline over a window onto the file.
// Chain, bottom to top: source, Blowfish (pfBlowfish), XOR scrambler
// (pfScramble), zip (pfZip).
class TPipedFile {
public:
    // window: the entry block's window onto the container file.
    TPipedFile(TovFileStg* container, std::unique_ptr<TStream> window, uint8_t filterFlags,
               const std::string& password);
    ~TPipedFile();
    TPipedFile(const TPipedFile&) = delete;
    TPipedFile& operator=(const TPipedFile&) = delete;

    void Open(uint8_t mode);
    void OpenRead() { Open(kOpenRead); }
    void OpenWrite() { Open(kOpenWrite); }
    void Close();
    // The pipeline's data start: 2 + 8 x the number of filters.
    int32_t HeaderSize() const { return Pipeline->DataStart(); }
    // Writes the entry's content (writing mode) into the top filter.
    void Write(const void* buffer, int32_t count);
    // Reading: raises EReadError when the filter headers do not agree with
    // each other or with storedSize (the directory record's), or when the
    // data would reach beyond limit bytes of the window.
    void CheckHeaders(int32_t storedSize, int64_t limit) const;
    // Copies the entry to the stream (reading mode).
    void SaveToStream(TStream& target) { Pipeline->SaveToStream(target); }
    // Creates the file afresh (an existing one first gets its read-only
    // attribute cleared) and copies the entry into it. On failure the
    // partly written file is removed and the error raised.
    void SaveToFile(const std::string& fileName);

    TPipeline& GetPipeline() { return *Pipeline; }
    bool IsOpen() const { return OpenFlag; }
    TovFileStg* Container() const { return FContainer; }

private:
    std::unique_ptr<TStream> Window;
    std::unique_ptr<TPipeline> Pipeline;
    uint8_t Mode = 0;
    bool OpenFlag = false;
    TovFileStg* FContainer;
};

class TovFileStg {
public:
    TovFileStg() = default;
    ~TovFileStg();
    TovFileStg(const TovFileStg&) = delete;
    TovFileStg& operator=(const TovFileStg&) = delete;

    // 0, 5 (wrong password), 7 (not a container, or damaged beyond use),
    // 9 (already open). A file that cannot be opened for reading and writing
    // raises EFOpenError "Cannot open file %s"; a failure while compacting
    // raises too (the container is then closed and its file left as it was).
    // readOnly: the file is opened for reading only (others may read it too)
    // and never written: no compaction, so a package on read-only media or
    // a read-only share can be extracted.
    uint16_t Open(const std::string& fileName, const std::string& password, bool readOnly = false);
    // Closes the file; if the directory was written, sets the file's date to now.
    void Close();
    // 0 and a filled search record, or 14. The record's context is attached
    // in both cases; FindClose releases it (the container releases what is
    // left when it is destroyed).
    uint16_t FindFirst(const TStgSearchFilter* filter, TStgSearchRec& rec);
    void FindClose(TStgSearchRec& rec);
    // 0, 1 (extraction failed), 15 (no record has that Id).
    uint16_t ExtractEntry(int32_t id, const std::string& fileName);
    // The same into a stream (the tools' check and listing use it).
    uint16_t ExtractEntryToStream(int32_t id, TStream& target);

    bool IsOpen() const { return OpenFlag; }
    bool Compacted() const { return CompactedFlag; }
    bool Modified() const { return ModifiedFlag; }
    const TStgHeader& Header() const { return FHeader; }
    // H: where the data area starts.
    int64_t HeaderSize() const;
    const std::vector<std::pair<std::string, TStgEntry>>& Directory() const { return FDirectory; }
    const std::string& FileName() const { return FFileName; }
    uint8_t FilterFlags() const { return FFilterFlags; }
    // The message of the last extraction failure (empty after a success).
    const std::string& LastError() const { return FLastError; }
    // The system's error code of that failure, or 0.
    uint32_t LastSystemCode() const { return FLastSystemCode; }

    // True when the password (cut to 16 characters) matches the header's check block.
    static bool CheckPassword(const TStgHeader& header, const std::string& password);
    // The filter flags of the header's stg flags.
    static uint8_t FilterFlagsOf(uint16_t stgFlags);
    // Entry header size for these filter flags: 2 + 8 x filters.
    static int32_t EntryHeaderSizeOf(uint8_t filterFlags);

private:
    uint16_t ReadHeader();
    uint16_t ReadDirectory();
    void Compact();
    void WriteDirectory(TStream& target, int64_t at);
    int FindIndexById(int32_t id) const;
    uint16_t Extract(int32_t id, const std::string* fileName, TStream* target);

    TStgHeader FHeader;
    int32_t ExtensionLength = 0;
    std::vector<uint8_t> Extension;
    std::vector<std::pair<std::string, TStgEntry>> FDirectory;
    bool OpenFlag = false;
    bool CompactedFlag = false;
    bool ModifiedFlag = false;
    std::string Password;
    std::string FFileName;
    std::string TempFileName;
    std::vector<std::unique_ptr<TPipedFile>> OpenEntries;
    // The search contexts handed out and not yet released: FindClose frees
    // only these, so a second FindClose of the same record does nothing.
    std::vector<std::unique_ptr<TStgSearchContext>> Searches;
    uint8_t FFilterFlags = 0;
    std::unique_ptr<TFileStream> Stream;
    int64_t FileSize = 0;
    std::string FLastError;
    uint32_t FLastSystemCode = 0;
};

// Platform helpers of the container (ovsFilePosix.cpp / ovsFileWin32.cpp).
// Clears a read-only attribute: the file keeps only the archive attribute.
bool StgSetFileArchiveOnly(const std::string& fileName);
// True when the name is a symbolic link (on Windows, any reparse point):
// extraction never writes through one.
bool StgIsLink(const std::string& fileName);
// Sets the file's modification date to the current time.
bool StgSetFileDateNow(const std::string& fileName);
// A fresh, not yet existing file name in folder (empty: the current folder)
// with the given extension (".tmp").
std::string StgMakeTempFileName(const std::string& folder, const std::string& extension);
bool StgDeleteFile(const std::string& fileName);
bool StgRenameFile(const std::string& oldName, const std::string& newName);
// The folder part of a path (up to and including the last '\' or '/'), or "".
std::string StgExtractFilePath(const std::string& fileName);
