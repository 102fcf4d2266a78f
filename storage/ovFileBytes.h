// Reading a file whole into memory, with an upper bound on what that may
// allocate: a hostile or mistaken huge file is refused before any buffer is
// made for it.
#pragma once

#include "ovStream.h"

#include <cstdint>
#include <string>

// The most one whole-file read takes, whatever bound the caller names: what
// one ReadBuffer call can transfer.
constexpr int64_t kWholeFileLimit = 0x7FFFFFFF;

// Reads the file at path into out (a std::string or a std::vector<uint8_t>),
// opened for reading with shareMode. A file larger than maxSize bytes (or
// than kWholeFileLimit) is not read: the answer is false and out is left
// empty, so that each caller reports it in its own words. Open and read
// failures raise the file stream's EStreamError.
template <class TBuffer>
bool ReadWholeFile(const std::string& path, int64_t maxSize, TBuffer& out, uint32_t shareMode = fmShareDenyWrite);

// Reads the file at path into out, cut after its first maxSize bytes (for
// logs and other text that is shown, not processed). Failures as above.
template <class TBuffer>
void ReadFileStart(const std::string& path, int64_t maxSize, TBuffer& out, uint32_t shareMode = fmShareDenyWrite);

namespace ovFileBytesDetail {
template <class TBuffer>
bool Read(const std::string& path, int64_t maxSize, TBuffer& out, uint32_t shareMode, bool cut)
{
    if (maxSize > kWholeFileLimit)
        maxSize = kWholeFileLimit;
    if (maxSize < 0)
        maxSize = 0;
    TFileStream file(path, fmOpenRead | shareMode);
    int64_t size = file.GetSize();
    if (size > maxSize) {
        if (!cut) {
            out.clear();
            return false;
        }
        size = maxSize;
    }
    out.resize(static_cast<size_t>(size));
    if (size)
        file.ReadBuffer(&out[0], static_cast<int32_t>(size));
    return true;
}
}  // namespace ovFileBytesDetail

template <class TBuffer>
bool ReadWholeFile(const std::string& path, int64_t maxSize, TBuffer& out, uint32_t shareMode)
{
    return ovFileBytesDetail::Read(path, maxSize, out, shareMode, false);
}

template <class TBuffer>
void ReadFileStart(const std::string& path, int64_t maxSize, TBuffer& out, uint32_t shareMode)
{
    ovFileBytesDetail::Read(path, maxSize, out, shareMode, true);
}
