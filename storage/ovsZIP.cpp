// The zlib streams: the expanding stream (which the setup program reads its
// files through) and the base they share. The compressing stream and the zip
// filter live in files of their own, so that a program that only expands
// data does not carry the compressor.
#include "ovsZIP.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

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
