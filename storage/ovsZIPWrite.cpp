// The compressing zlib stream (writers: the builder, the container writer).
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

}  // namespace

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

// ---- the zip filter's compressor ----

namespace {

TStream* CreateZipCompressor(TStream& target)
{
    return new TCompressionStream(TZipFilter::kLevelIndex, target);
}

void EndZipCompressor(TStream& compressor)
{
    auto& stream = static_cast<TCompressionStream&>(compressor);
    if (stream.GetPosition() > 0)
        stream.Finish();
    else
        stream.Discard();
}

const TZipFilter::TWriteHooks kZipWriteHooks = {CreateZipCompressor, EndZipCompressor};

}  // namespace

void EnableZipCompression()
{
    TZipFilter::WriteHooks = &kZipWriteHooks;
}
