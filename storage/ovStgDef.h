// The stored format of a storage container, and the records of its API.
//
// File layout (all integers little-endian):
//   0        TStgHeader, 200 bytes
//   200      version 0x0101 only: int32 extension length L, then L opaque bytes
//            header size H = 204 + L for version 0x0101, 200 for any other
//   H        data area: DataSize bytes of entry blocks, back to back
//   H+DataSize  directory: int32 record count N, then N TStgEntry records of
//            145 bytes. The count (one 4-byte piece) and each record (one
//            145-byte piece) are XOR-scrambled separately, whatever the
//            container's flags; by the scrambler's tail rule the last byte of
//            every record is stored as it is.
//
// Entry block at a record's DataOffset: 2 bytes (written as zero, never
// read), one 8-byte header (DataSize, StoredSize) per filter of the chain,
// bottom first (source, Blowfish, scrambler, zip as present), then
// StoredSize bytes of data as the source filter wrote them.
#pragma once

#include "ovBytes.h"
#include "ovsConst.h"

#include <cstdint>
#include <cstring>
#include <string>

// The container's fields are signed 32- and 64-bit integers.
inline uint16_t StgGetLE16(const uint8_t* p) { return GetLE16(p); }
inline int32_t StgGetLE32(const uint8_t* p) { return static_cast<int32_t>(GetLE32(p)); }
inline int64_t StgGetLE64(const uint8_t* p) { return static_cast<int64_t>(GetLE64(p)); }
inline void StgPutLE16(uint8_t* p, uint16_t v) { PutLE16(p, v); }
inline void StgPutLE32(uint8_t* p, int32_t v) { PutLE32(p, static_cast<uint32_t>(v)); }
inline void StgPutLE64(uint8_t* p, int64_t v) { PutLE64(p, static_cast<uint64_t>(v)); }

// A length-prefixed text field of fieldSize bytes (1 length byte, then up to
// fieldSize - 1 characters). A stored length beyond the field is cut.
std::string StgGetText(const uint8_t* field, int fieldSize);
void StgPutText(uint8_t* field, int fieldSize, const std::string& text);

// The 200-byte container header. Description and the other opaque parts are
// kept as read, so a rewrite stores them unchanged.
struct TStgHeader {
    uint16_t Magic = kStgMagic;                     // offset 0
    uint8_t Description[150] = {};                  // offset 2: length-prefixed text, up to 149 characters
    uint8_t StorageId[16] = {};                     // offset 152: identifier (a GUID); not interpreted
    uint16_t Version = kStgVersion101;              // offset 168: 0x0100 or 0x0101
    uint16_t Flags = 0;                             // offset 170: stg... flags
    uint8_t PasswordCheck[16] = {};                 // offset 172: the password encrypted under itself
    int32_t EntryCount = 0;                         // offset 188: kept by the writer; not used by the reader
    int32_t DataSize = 0;                           // offset 192: size of the data area
    int32_t EntryHeaderSize = 0;                    // offset 196: 2 + 8 x filters in the chain

    void Load(const uint8_t* p);                    // from kStgHeaderSize bytes
    void Store(uint8_t* p) const;                   // into kStgHeaderSize bytes
    std::string GetDescription() const { return StgGetText(Description, sizeof(Description)); }
    void SetDescription(const std::string& text) { StgPutText(Description, sizeof(Description), text); }
    // The header size H: 204 + extension length for version 0x0101, else 200.
    bool HasExtension() const { return Version == kStgVersion101; }
};

// One 145-byte directory record.
struct TStgEntry {
    uint8_t Name[65] = {};    // offset 0: length-prefixed text, up to 64 characters
    int32_t Id = 0;           // offset 65: extraction addresses entries by it
    int32_t DataOffset = 0;   // offset 69: absolute file offset of the entry block
    int32_t Aux1 = 0;         // offset 73: copied into search results
    int32_t StoredSize = 0;   // offset 77: stored data bytes after the block's header
    uint16_t Aux2 = 0;        // offset 81: copied into search results
    uint16_t Attributes = 0;  // offset 83: stgAttrDeleted, search mask bits
    int64_t Value1 = 0;       // offset 85
    int64_t Value2 = 0;       // offset 93
    int64_t Value3 = 0;       // offset 101
    uint8_t Reserved[36] = {};  // offset 109: kept as read

    void Load(const uint8_t* p);   // from kStgEntrySize bytes
    void Store(uint8_t* p) const;  // into kStgEntrySize bytes
    std::string GetName() const { return StgGetText(Name, sizeof(Name)); }
    void SetName(const std::string& name) { StgPutText(Name, sizeof(Name), name); }
};

struct TStgSearchContext;

// Search filter: Name (empty = any name; compared whole, ignoring ASCII
// case) and Mask (a record matches when Attributes AND Mask is not zero).
struct TStgSearchFilter {
    std::string Name;       // up to 64 characters
    uint16_t Mask = 0;
    uint16_t Reserved = 0;  // copied with the filter, not used
};

// Search result, filled from a directory record.
struct TStgSearchRec {
    std::string Name;  // cut to 64 characters
    int32_t Id = 0;
    uint16_t Attributes = 0;
    uint16_t Aux2 = 0;
    int32_t Aux1 = 0;
    int32_t StoredSize = 0;
    int64_t Value2 = 0;
    int64_t Value1 = 0;
    int64_t Value3 = 0;
    TStgSearchContext* Context = nullptr;  // released by FindClose
};

// The context of one search: the directory index of the match (-1: none
// yet) and an owned copy of the filter, if one was given.
struct TStgSearchContext {
    int32_t Index = -1;
    bool HasFilter = false;
    TStgSearchFilter Filter;
};

// The scrambling of the directory pieces (the XOR scrambler over one piece).
void StgScramblePiece(uint8_t* piece, int32_t count);
