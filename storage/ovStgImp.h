// The write side of the storage container: builds a new container file, and
// marks entries of an existing one deleted.
#pragma once

#include "ovStgDef.h"
#include "ovStream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct TStgCreateOptions {
    uint16_t Flags = 0;                 // stgPacked, stgScrambled, stgEncrypted, stgPassword, stgAutoCompact
    std::string Password;               // cut to 16 characters; the key of the Blowfish filter
    uint16_t Version = kStgVersion101;  // 0x0100, or 0x0101 with the extension below
    std::vector<uint8_t> Extension;     // stored after the header for version 0x0101
    std::string Description;            // empty: the standard text naming the attributes
    bool HasStorageId = false;          // false: a random identifier
    uint8_t StorageId[16] = {};
};

// The standard description: format version and the attributes Packed,
// Scrambled, Encrypted and AutoCompact with Yes or No, in CR LF-separated lines.
std::string StgStandardDescription(uint16_t flags);

// Writes a new container: the header (with the password check when
// stgPassword is set), each entry block through the write side of the
// pipeline, then the scrambled directory. Commit completes the file; a writer
// destroyed without Commit removes the partial file.
class TStgWriter {
public:
    // Creates (or truncates) the file. Raises EFCreateError.
    TStgWriter(const std::string& fileName, const TStgCreateOptions& options);
    ~TStgWriter();
    TStgWriter(const TStgWriter&) = delete;
    TStgWriter& operator=(const TStgWriter&) = delete;

    // Adds an entry with count bytes of content read from source (-1: to its
    // end), in pieces of 32,764 bytes. Names longer than 64 characters raise
    // EStreamError. Returns the entry's Id (1, 2, ... in order).
    int32_t AddEntry(const std::string& name, TStream& source, int64_t count = -1,
                     uint16_t attributes = stgAttrComponentFile);
    int32_t AddEntry(const std::string& name, const void* data, int32_t size,
                     uint16_t attributes = stgAttrComponentFile);
    // The directory record of the entry with this Id (to set Aux and Value fields before Commit).
    TStgEntry* Record(int32_t id);
    // Writes the directory and the final header, and closes the file.
    void Commit();

    const TStgHeader& Header() const { return FHeader; }
    int64_t HeaderSize() const { return FHeaderSize; }

private:
    void WriteHeader();

    std::string FileName;
    std::unique_ptr<TFileStream> Stream;
    TStgHeader FHeader;
    std::vector<uint8_t> Extension;
    int64_t FHeaderSize;
    std::string Password;
    uint8_t FilterFlags;
    int64_t DataEnd;
    std::vector<TStgEntry> Records;
    bool Committed = false;
};

// The password check block: the password (cut to 16 characters, zero-padded
// to 16 bytes) encrypted under itself.
void StgMakePasswordCheck(const std::string& password, uint8_t* check16);

// Marks every record named name (ignoring ASCII case) deleted: Attributes
// becomes stgAttrDeleted alone, so searches by mask no longer find it.
// Returns the number of records marked; raises on file errors, and
// EStreamError when the file is not a readable container.
int StgMarkDeleted(const std::string& fileName, const std::string& name);
