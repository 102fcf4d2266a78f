#include "ovsZIP.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

const int kLevels[4] = {Z_NO_COMPRESSION, Z_BEST_SPEED, Z_DEFAULT_COMPRESSION, Z_BEST_COMPRESSION};

int CCheck(int code)
{
    if (code < 0)
        throw ECompressionError("error");
    return code;
}

int DCheck(int code)
{
    if (code < 0)
        throw EDecompressionError("error");
    return code;
}

}  // namespace

// ---- TCustomZlibStream ----

TCustomZlibStream::TCustomZlibStream(TStream& strm)
    : Strm(strm), StrmPos(strm.GetPosition()), ZStream(new z_stream_s), Buffer(new uint8_t[kBufferSize])
{
    std::memset(ZStream.get(), 0, sizeof(z_stream_s));
}

TCustomZlibStream::~TCustomZlibStream() = default;

// ---- TCompressionStream ----

TCompressionStream::TCompressionStream(int levelIndex, TStream& target) : TCustomZlibStream(target)
{
    if (levelIndex < 0 || levelIndex > 3)
        levelIndex = 2;
    ZStream->next_out = Buffer.get();
    ZStream->avail_out = kBufferSize;
    CCheck(deflateInit2_(ZStream.get(), kLevels[levelIndex], Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY, ZLIB_VERSION,
                         static_cast<int>(sizeof(z_stream_s))));
    Initialized = true;
}

TCompressionStream::~TCompressionStream()
{
    if (!Finished) {
        try {
            Finish();
        } catch (...) {
            // A destructor cannot report; Finish is the checked way.
        }
    }
    if (Initialized)
        deflateEnd(ZStream.get());
}

void TCompressionStream::FlushBuffer(int32_t count)
{
    if (count <= 0)
        return;
    Strm.Seek(StrmPos, soFromBeginning);
    Strm.WriteBuffer(Buffer.get(), count);
    StrmPos += count;
    TotalOut += count;
    ZStream->next_out = Buffer.get();
    ZStream->avail_out = kBufferSize;
    Progress();
}

int32_t TCompressionStream::Write(const void* buffer, int32_t count)
{
    if (Finished)
        throw ECompressionError("error");
    if (count <= 0)
        return 0;
    ZStream->next_in = static_cast<Bytef*>(const_cast<void*>(buffer));
    ZStream->avail_in = static_cast<uInt>(count);
    while (ZStream->avail_in > 0) {
        CCheck(deflate(ZStream.get(), Z_NO_FLUSH));
        if (ZStream->avail_out == 0)
            FlushBuffer(kBufferSize);
    }
    TotalIn += count;
    return count;
}

void TCompressionStream::Finish()
{
    if (Finished)
        return;
    Finished = true;
    ZStream->next_in = nullptr;
    ZStream->avail_in = 0;
    for (;;) {
        int code = CCheck(deflate(ZStream.get(), Z_FINISH));
        if (ZStream->avail_out == 0)
            FlushBuffer(kBufferSize);
        if (code == Z_STREAM_END)
            break;
    }
    FlushBuffer(kBufferSize - static_cast<int32_t>(ZStream->avail_out));
}

int32_t TCompressionStream::Read(void*, int32_t)
{
    throw ECompressionError("Invalid stream operation");
}

int64_t TCompressionStream::Seek(int64_t offset, int origin)
{
    if (offset == 0 && origin == soFromCurrent)
        return TotalIn;
    throw ECompressionError("Invalid stream operation");
}

void TCompressionStream::Discard()
{
    Finished = true;
}

double TCompressionStream::CompressionRate() const
{
    if (TotalIn == 0)
        return 0;
    return (1.0 - static_cast<double>(TotalOut) / static_cast<double>(TotalIn)) * 100.0;
}

// ---- TDecompressionStream ----

TDecompressionStream::TDecompressionStream(TStream& source) : TCustomZlibStream(source), StartPos(StrmPos)
{
    ZStream->next_in = Buffer.get();
    ZStream->avail_in = 0;
    DCheck(inflateInit_(ZStream.get(), ZLIB_VERSION, static_cast<int>(sizeof(z_stream_s))));
    Initialized = true;
}

TDecompressionStream::~TDecompressionStream()
{
    if (Initialized)
        inflateEnd(ZStream.get());
}

int32_t TDecompressionStream::Read(void* buffer, int32_t count)
{
    if (count <= 0 || Ended)
        return 0;
    ZStream->next_out = static_cast<Bytef*>(buffer);
    ZStream->avail_out = static_cast<uInt>(count);
    while (ZStream->avail_out > 0) {
        if (ZStream->avail_in == 0) {
            Strm.Seek(StrmPos, soFromBeginning);
            int32_t n = Strm.Read(Buffer.get(), kBufferSize);
            if (n <= 0)
                break;
            StrmPos += n;
            ZStream->next_in = Buffer.get();
            ZStream->avail_in = static_cast<uInt>(n);
            Progress();
        }
        int code = DCheck(inflate(ZStream.get(), Z_NO_FLUSH));
        if (code == Z_STREAM_END) {
            Ended = true;
            break;
        }
        if (code == Z_NEED_DICT)
            throw EDecompressionError("error");
    }
    int32_t produced = count - static_cast<int32_t>(ZStream->avail_out);
    TotalOut += produced;
    return produced;
}

int32_t TDecompressionStream::Write(const void*, int32_t)
{
    throw EDecompressionError("Invalid stream operation");
}

void TDecompressionStream::Skip(int64_t count)
{
    uint8_t scrap[4096];
    while (count > 0) {
        int32_t n = static_cast<int32_t>(std::min<int64_t>(count, sizeof(scrap)));
        ReadBuffer(scrap, n);
        count -= n;
    }
}

int64_t TDecompressionStream::Seek(int64_t offset, int origin)
{
    if (offset == 0 && origin == soFromBeginning) {
        DCheck(inflateReset(ZStream.get()));
        ZStream->next_in = Buffer.get();
        ZStream->avail_in = 0;
        StrmPos = StartPos;
        Strm.Seek(StrmPos, soFromBeginning);
        TotalOut = 0;
        Ended = false;
        return 0;
    }
    if (origin == soFromCurrent && offset >= 0) {
        Skip(offset);
        return TotalOut;
    }
    if (origin == soFromBeginning && offset >= TotalOut) {
        Skip(offset - TotalOut);
        return TotalOut;
    }
    throw EDecompressionError("Invalid stream operation");
}

// ---- TZipFilter ----

TZipFilter::TZipFilter(TDataFilter* inner) : TDataFilter(inner) {}

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
    else
        Compressor.reset(new TCompressionStream(kLevelIndex, *Memory));
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
    if (const TSourceFilter* source = dynamic_cast<const TSourceFilter*>(bottom)) {
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
                throw EDecompressionError("error");
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
            throw EDecompressionError("error");
    }
    return n;
}

void TZipFilter::Finish()
{
    TDataFilter::Finish();
    if (Compressor) {
        if (Compressor->GetPosition() > 0)
            Compressor->Finish();
        else
            Compressor->Discard();
        Compressor.reset();
    }
    if (Memory && Memory->Size() > 0) {
        StoredSize = static_cast<int32_t>(Memory->Size());
        if (InnerFilter)
            CopyRange(*Memory, *InnerFilter, 0, -1, Memory->Size());
        Memory->Clear();
    }
}
