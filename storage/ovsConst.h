// Constants of the storage container and its data pipeline.
#pragma once

#include <cstdint>

// Container header magic and versions.
const uint16_t kStgMagic = 0x7777;
const uint16_t kStgVersion100 = 0x0100;
const uint16_t kStgVersion101 = 0x0101;  // header followed by a length-prefixed extension

// Container flags (header field Flags).
enum : uint16_t {
    stgPassword = 0x0001,     // Open checks the password
    stgEncrypted = 0x0002,    // entries pass the Blowfish filter
    stgPacked = 0x0004,       // entries pass the zip filter
    stgScrambled = 0x0008,    // entries pass the XOR scrambler filter
    stgAutoCompact = 0x0010,  // compact at open when the data area holds dead space
};

// Directory record attributes.
const uint16_t stgAttrDeleted = 0x0080;
// The attribute bit that the component installer searches with.
const uint16_t stgAttrComponentFile = 0x0200;

// Pipeline filter flags.
enum : uint8_t {
    pfZip = 1,
    pfBlowfish = 2,
    pfScramble = 4,
};

// Open modes of filters and pipelines: bit 0 set means reading.
const uint8_t kOpenRead = 1;
const uint8_t kOpenWrite = 14;

// Result codes of the container handle API.
enum : uint16_t {
    stgOk = 0,
    stgErrExtract = 1,      // extraction failed (entry data or target file)
    stgErrNoFile = 2,       // the container file does not exist
    stgErrHandle = 4,       // not a container handle
    stgErrPassword = 5,     // wrong password
    stgErrNotStorage = 7,   // not a container: header unreadable, wrong magic, EntryHeaderSize not
                            // matching the flags, extension or directory not fitting the file
    stgErrAlreadyOpen = 9,  // the container object is already open
    stgErrNotFound = 14,    // no directory record matches the filter
    stgErrNoId = 15,        // no directory record has that Id
};

// Fixed sizes of the stored format.
const int32_t kStgHeaderSize = 200;
const int32_t kStgEntrySize = 145;
const int32_t kStgNameMax = 64;
const int32_t kStgDescriptionMax = 149;
const int32_t kStgPasswordMax = 16;  // passwords are cut to this many characters

// Data moves through the pipeline in pieces of at most this many bytes
// (a multiple of 4, so the XOR scrambler's word rule holds across pieces).
const int32_t kStgCopyPiece = 32764;

// The XOR key of the scrambler: applied as a little-endian 32-bit word to the
// directory of every container and by every scrambler filter. Containers
// scrambled with another key read back as wrong data: never change it.
const uint32_t kStgScrambleKey = 0x5A17C3E9u;
