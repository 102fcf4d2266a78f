// The zip filter of container entries: compresses on the way in, expands
// on the way out.
#include "ovsZIP.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

// ---- TZipFilter ----

const TZipFilter::TWriteHooks* TZipFilter::WriteHooks = nullptr;

TZipFilter::TZipFilter() = default;

TZipFilter::~TZipFilter()
{
    CloseQuietly();
    // The zlib streams work on the memory stream: release them first.
    Compressor.reset();
    Decompressor.reset();
}

void TZipFilter::Open(uint8_t mode)
{
    Compressor.reset();
    Decompressor.reset();
    Memory.reset(new TMemoryStream);
    if (mode == kOpenRead)
        Decompressor.reset(new TDecompressionStream(*Memory));
    else if (WriteHooks)
        Compressor.reset(WriteHooks->Create(*Memory));
    else
        throw ECompressionError("compression is not available in this program");
    Delivered = 0;
    TDataFilter::Open(mode);
}

int32_t TZipFilter::Write(const void* buffer, int32_t count)
{
    if (!Compressor)
        throw ECompressionError("error");
    int32_t n = Compressor->Write(buffer, count);
    DataSize += count;
    return n;
}

void TZipFilter::PullStoredData()
{
    // Room for what the entry block can really hold (a damaged header may
    // claim more), so that the copy does not grow the block piece by piece.
    int64_t expect = StoredSize;
    const TDataFilter* bottom = this;
    while (bottom->Inner())
        bottom = bottom->Inner();
    if (const TSourceFilter* source = bottom->AsSource()) {
        expect = std::min<int64_t>(expect, source->GetStoredSize() + 8);
        if (source->GetWindow())
            expect = std::min<int64_t>(expect, source->GetWindow()->GetSize());
    }
    std::vector<uint8_t>& bytes = Memory->Bytes();
    bytes.reserve(static_cast<size_t>(std::max<int64_t>(0, expect)));
    // The same 32,764-byte pieces as the range copy, read straight into the block.
    int32_t done = 0;
    while (done < StoredSize) {
        int32_t n = std::min(StoredSize - done, kStgCopyPiece);
        bytes.resize(static_cast<size_t>(done) + static_cast<size_t>(n));
        if (InnerFilter->Read(bytes.data() + done, n) != n)
            throw EReadError("Stream read error");
        done += n;
    }
    Memory->SetPosition(0);
}

int32_t TZipFilter::Read(void* buffer, int32_t count)
{
    if (!Decompressor)
        return 0;
    if (count <= 0) {
        // An entry announced as empty that has stored data: that data must be
        // a zlib stream of nothing.
        if (DataSize == 0 && StoredSize > 0 && InnerFilter) {
            if (Memory->Size() == 0)
                PullStoredData();
            uint8_t probe;
            if (Decompressor->Read(&probe, 1) != 0 || !Decompressor->StreamEnded())
                throw EDecompressionError("the compressed data of an empty entry are not empty");
        }
        return 0;
    }
    if (Memory->Size() == 0 && StoredSize > 0 && InnerFilter)
        PullStoredData();
    int32_t n = Decompressor->Read(buffer, count);
    Delivered += n;
    if (Delivered >= DataSize && DataSize > 0) {
        // All announced bytes are out: the zlib stream must end here, so that
        // its checksum is verified and no data is left over.
        uint8_t probe;
        if (Decompressor->Read(&probe, 1) != 0 || !Decompressor->StreamEnded())
            throw EDecompressionError(FormatText("the compressed data do not end at the %d bytes the entry declares",
                                                 DataSize));
    }
    return n;
}

void TZipFilter::Finish()
{
    TDataFilter::Finish();
    if (Compressor) {
        WriteHooks->End(*Compressor);
        Compressor.reset();
    }
    if (Memory && Memory->Size() > 0) {
        StoredSize = static_cast<int32_t>(Memory->Size());
        if (InnerFilter)
            CopyRange(*Memory, *InnerFilter, 0, -1, Memory->Size());
        Memory->Clear();
    }
}
