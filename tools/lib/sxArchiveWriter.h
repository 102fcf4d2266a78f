// The writer of the setup archive: header, string table and the stored bytes
// of every file, produced the way the setup program decodes them:
//
//   stored = plain bytes, zlib-compressed (RFC 1950, window bits 15) when the
//            entry is Compressed; then, with a password, zero-padded to whole
//            8-byte blocks and Blowfish-CBC enciphered from a zero chain.
//   PlainSize = length before the padding (password archives), else 0.
//
// Files are compressed on all cores; their stored bytes still follow the
// header in entry order. Small files are read whole by worker threads, large
// ones are streamed in bounded chunks.
#pragma once

#include "sxTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One file to store: a source file on disk, or bytes in memory.
struct TArchiveSource {
    std::string Path;             // source file; empty when Data is used
    std::vector<uint8_t> Data;    // the bytes, when Path is empty
    std::string Name;             // stored (relative) name
    int32_t FolderIndex = -1;
    // Compress the file. With AutoStore, a file that does not shrink is
    // stored as it is (Compressed = false in its entry).
    bool Compress = true;
};

struct TArchiveOptions {
    std::string Password;  // empty: no password
    int Level = 6;         // zlib level 1..9
    bool AutoStore = true; // store files that compression does not shrink
    int Threads = 0;       // worker threads; 0 = one per core
    // Called on the calling thread: bytes of source data done, total, and
    // the files done of all.
    std::function<void(int64_t done, int64_t total, int filesDone, int fileCount)> Progress;
};

// Fills Header.CheckLength / CheckBlock for password (empty: no block) and
// sets or clears soPassword. Raises EStreamError when the password is longer
// than 127 bytes (its block must fit 128 bytes).
void MakePasswordCheck(TSXHeader& header, const std::string& password);

// Writes the complete archive to target (which must be seekable: the header
// is written first with zero sizes and rewritten once they are known). The
// header's Files are replaced by the entries made from sources; its other
// fields are written as they stand. Raises on any error (a missing source
// file names the file).
void WriteArchive(TSXHeader& header, const std::vector<std::string>& strings,
                  const std::vector<TArchiveSource>& sources, const TArchiveOptions& options, TStream& target);

// A complete zlib stream of the bytes (the form of the "DIALOGS" and
// "CLIENT_DLL" resources).
std::vector<uint8_t> ZlibCompress(const uint8_t* data, size_t size, int level = 9);
// Inflates a complete zlib stream; raises EStreamError when it is damaged,
// incomplete, followed by other bytes, or (limit >= 0) longer than limit
// bytes; inflating stops one byte after the limit.
std::vector<uint8_t> ZlibDecompress(const uint8_t* data, size_t size, int64_t limit = -1);

// Decodes one file's stored bytes (decipher when password is not empty, then
// inflate when Compressed): the reference reader of the tests and the dump.
// Raises EStreamError on damaged data or a size that does not match entry.Size.
std::vector<uint8_t> DecodeStoredData(const uint8_t* stored, size_t size, const TFileInfo& entry,
                                      const std::string& password);
