// The pipeline base: window stream, filter headers and data start, source
// filter limits, the FIFO buffer's chunk arithmetic and the range copy; the
// block-cipher filter's FIFO use and the zip filter's stored form.
#include <gtest/gtest.h>

#include "ovsClass.h"
#include "ovsPipe.h"
#include "ovsZIP.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

int32_t LE32(const uint8_t* p)
{
    return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24));
}

// Writes content through a pipeline with the given flags into a memory block
// at offset 5 (so that the window's base offset matters); returns the stream.
std::unique_ptr<TMemoryStream> WriteEntry(uint8_t flags, const std::vector<uint8_t>& content, int32_t piece,
                                          int32_t* dataStart = nullptr)
{
    std::unique_ptr<TMemoryStream> file(new TMemoryStream);
    file->WriteBuffer("HEAD!\xEE\xEE", 7);  // 5 bytes before the block, then its 2 untouched bytes
    TConnectedStream window(*file, 5);
    TPipeline pipe(&window, flags);
    if (flags & pfBlowfish)
        pipe.AddPasswordFilter<TBlowFishFilter>("pw");
    if (flags & pfScramble)
        pipe.AddFilter<TXORScramblerFilter>();
    if (flags & pfZip) {
        EnableZipCompression();
        pipe.AddFilter<TZipFilter>();
    }
    if (dataStart)
        *dataStart = pipe.DataStart();
    pipe.Open(kOpenWrite);
    for (size_t done = 0; done < content.size();) {
        int32_t n = static_cast<int32_t>(std::min<size_t>(piece, content.size() - done));
        pipe.TopFilter()->Write(content.data() + done, n);
        done += static_cast<size_t>(n);
    }
    pipe.Close();
    return file;
}

std::vector<uint8_t> ReadEntry(TMemoryStream& file, uint8_t flags)
{
    TConnectedStream window(file, 5);
    TPipeline pipe(&window, flags);
    if (flags & pfBlowfish)
        pipe.AddPasswordFilter<TBlowFishFilter>("pw");
    if (flags & pfScramble)
        pipe.AddFilter<TXORScramblerFilter>();
    if (flags & pfZip)
        pipe.AddFilter<TZipFilter>();
    pipe.Open(kOpenRead);
    TMemoryStream out;
    pipe.SaveToStream(out);
    pipe.Close();
    return out.Bytes();
}

}  // namespace

// Data start is 2 + 8 x filters; header i sits at 2 + 8i; the first 2 bytes stay untouched.
TEST(Pipeline, DataStartAndHeaderPlaces)
{
    struct Row {
        uint8_t flags;
        int32_t start;
    } rows[] = {{0, 10}, {pfZip, 18}, {pfBlowfish, 18}, {pfScramble, 18}, {pfZip | pfScramble, 26},
                {pfZip | pfScramble | pfBlowfish, 34}};
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.flags));
        std::vector<uint8_t> content = Pattern(13, row.flags);
        int32_t start = 0;
        auto file = WriteEntry(row.flags, content, 13, &start);
        EXPECT_EQ(row.start, start);
        const uint8_t* block = file->Memory() + 5;
        EXPECT_EQ(0xEE, block[0]);
        EXPECT_EQ(0xEE, block[1]);
        // Source header: DataSize = StoredSize = the data bytes after data start.
        int32_t stored = LE32(block + 2);
        EXPECT_EQ(stored, LE32(block + 6));
        EXPECT_EQ(5 + start + stored, file->Size());
        // The top filter's DataSize is the content length.
        EXPECT_EQ(13, LE32(block + start - 8));
        EXPECT_EQ(content, ReadEntry(*file, row.flags));
    }
}

// Source only: the content is stored as it is right after the 10-byte header block.
TEST(Pipeline, SourceOnlyStoresPlainBytesAndEmptyEntry)
{
    std::vector<uint8_t> content = Pattern(100, 3);
    auto file = WriteEntry(0, content, 7);
    EXPECT_EQ(0, std::memcmp(file->Memory() + 15, content.data(), 100));
    EXPECT_EQ(100, LE32(file->Memory() + 7));

    auto empty = WriteEntry(pfZip | pfScramble | pfBlowfish, {}, 1);
    EXPECT_EQ(5 + 34, empty->Size());
    EXPECT_TRUE(ReadEntry(*empty, pfZip | pfScramble | pfBlowfish).empty());
}

// A source filter with StoredSize 100 that has read 90 bytes returns 10, then 0.
TEST(Pipeline, SourceFilterNeverReadsPastStoredSize)
{
    std::vector<uint8_t> content = Pattern(100, 4);
    auto file = WriteEntry(0, content, 100);
    file->WriteBuffer("more bytes after the block", 26);
    TConnectedStream window(*file, 5);
    TPipeline pipe(&window, 0);
    pipe.Open(kOpenRead);
    uint8_t buf[200];
    EXPECT_EQ(90, pipe.TopFilter()->Read(buf, 90));
    EXPECT_EQ(10, pipe.TopFilter()->Read(buf, 50));
    EXPECT_EQ(0, std::memcmp(buf, content.data() + 90, 10));
    EXPECT_EQ(0, pipe.TopFilter()->Read(buf, 50));

    TSourceFilter orphan;
    EXPECT_THROW(orphan.Read(buf, 1), EAbort);
}

// A block whose data is cut short is an error, not short content.
TEST(Pipeline, TruncatedBlockRaises)
{
    for (uint8_t flags : {uint8_t(0), uint8_t(pfBlowfish), uint8_t(pfZip | pfScramble | pfBlowfish)}) {
        SCOPED_TRACE(int(flags));
        auto file = WriteEntry(flags, Pattern(5000, 5), 5000);
        file->SetSize(file->Size() - 20);
        EXPECT_THROW(ReadEntry(*file, flags), EStreamError);
        file->SetSize(5 + 6);  // not even the headers
        EXPECT_THROW(ReadEntry(*file, flags), EStreamError);
    }
}

// Window: position 0 is the base offset; size and seeks are relative to it.
TEST(ConnectedStream, WindowArithmetic)
{
    TMemoryStream under;
    under.WriteBuffer("0123456789", 10);
    TConnectedStream w(under, 4);
    EXPECT_EQ(4, under.GetPosition());
    EXPECT_EQ(6, w.GetSize());
    EXPECT_EQ(0, w.GetPosition());
    char c;
    w.SetPosition(2);
    w.ReadBuffer(&c, 1);
    EXPECT_EQ('6', c);
    EXPECT_EQ(5, w.Seek(-1, soFromEnd));
    EXPECT_EQ(7, under.GetPosition() - 2);
}

// FIFO sizes at creation, the chunk arithmetic of a 40,000-byte write, and recycling.
TEST(FIFOBuffer, ChunkArithmetic)
{
    TFIFOBuffer defaults(0, 0, 0);
    EXPECT_EQ(255, defaults.MinChunk());
    EXPECT_EQ(65535, defaults.MaxChunk());
    TFIFOBuffer inverted(1000, 0, 500);
    EXPECT_EQ(255, inverted.MinChunk());
    EXPECT_EQ(65535, inverted.MaxChunk());
    TFIFOBuffer tooBig(0x40001, 0, 0x50000);
    EXPECT_EQ(255, tooBig.MinChunk());
    TFIFOBuffer fixed(100, 2, 5000);
    EXPECT_EQ(100, fixed.MaxChunk());

    TFIFOBuffer fifo(0x8000, 3, 0x8000);
    std::vector<uint8_t> data = Pattern(40000, 6);
    fifo.Write(data.data(), 40000);
    ASSERT_EQ(2, fifo.ChunkCount());
    EXPECT_EQ(32768, fifo.ChunkSize(0));
    EXPECT_EQ(32768, fifo.ChunkSize(1));
    EXPECT_EQ(65536, fifo.Capacity());
    std::vector<uint8_t> got(40000);
    fifo.Read(got.data(), 33000);  // head moves into the second chunk: the first is recycled
    EXPECT_EQ(232, fifo.Head());
    EXPECT_EQ(7000, fifo.Count());
    EXPECT_EQ(2, fifo.ChunkCount());
    fifo.Write(data.data(), 30000);  // fits in the recycled chunk: no growth
    EXPECT_EQ(65536, fifo.Capacity());
    fifo.Read(got.data() + 33000, 7000);
    EXPECT_EQ(data, got);
    std::vector<uint8_t> tail(30000);
    fifo.Read(tail.data(), 30000);
    EXPECT_EQ(0, std::memcmp(tail.data(), data.data(), 30000));
    EXPECT_EQ(0, fifo.Count());
    EXPECT_EQ(0, fifo.Head());
}

// Reading one byte more than stored raises and consumes nothing; release frees chunks.
TEST(FIFOBuffer, OverreadAndRelease)
{
    TFIFOBuffer fifo(16, 4, 64);
    fifo.Write("abcdefghij", 10);
    char buf[16] = {};
    try {
        fifo.Read(buf, 11);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ("Read beyond end of FIFO buffer", e.message());
    }
    EXPECT_EQ(10, fifo.Count());
    fifo.Read(buf, 10);
    EXPECT_EQ(std::string("abcdefghij"), std::string(buf, 10));
    EXPECT_EQ(0, fifo.ChunkCount());
    EXPECT_EQ(0, fifo.Capacity());
    fifo.Write("x", 1);  // a small write gets a MinChunk chunk
    EXPECT_EQ(16, fifo.Capacity());
}

// Range copy: positions, count -1, pieces, and short sources.
TEST(CopyRange, PositionsAndShortSource)
{
    std::vector<uint8_t> data = Pattern(100000, 7);
    TReadOnlyMemoryStream src(data.data(), 100000);
    TMemoryStream dst;
    dst.WriteBuffer("xyz", 3);
    EXPECT_EQ(99990, CopyRange(src, dst, 10, 1, -1));
    EXPECT_EQ(99991, dst.Size());
    EXPECT_EQ('x', dst.Memory()[0]);
    EXPECT_EQ(0, std::memcmp(dst.Memory() + 1, data.data() + 10, 99990));
    EXPECT_EQ(0, CopyRange(src, dst, 0, -1, 0));
    EXPECT_THROW(CopyRange(src, dst, 99990, -1, 20), EReadError);
}

// Block-cipher filter: 13 bytes stored as 16; 40,004 in one piece pushes 32,760 then 7,248.
TEST(BlowFishFilter, PaddingAndFifoUse)
{
    int32_t start = 0;
    auto file = WriteEntry(pfBlowfish, Pattern(13, 8), 13, &start);
    const uint8_t* block = file->Memory() + 5;
    EXPECT_EQ(16, LE32(block + 2));   // source
    EXPECT_EQ(13, LE32(block + 10));  // Blowfish DataSize
    EXPECT_EQ(16, LE32(block + 14));  // Blowfish StoredSize
    EXPECT_EQ(5 + start + 16, file->Size());

    TMemoryStream sink;
    TConnectedStream window(sink, 0);
    TPipeline pipe(&window, pfBlowfish);
    TBlowFishFilter* bf = pipe.AddPasswordFilter<TBlowFishFilter>("");
    pipe.Open(kOpenWrite);
    std::vector<uint8_t> big = Pattern(40004, 9);
    EXPECT_EQ(32760, bf->Write(big.data(), 40004));
    EXPECT_EQ(7244, bf->FIFO().Count());
    EXPECT_EQ(7240, bf->Write(big.data(), 3));  // 7,247 buffered: the whole blocks go down
    EXPECT_EQ(7, bf->FIFO().Count());
    EXPECT_EQ(8, bf->Write(big.data(), 1));  // 8 buffered: one block goes down
    EXPECT_EQ(0, bf->FIFO().Count());
    EXPECT_EQ(0, bf->Write(big.data(), 3));  // less than a block: kept back until the flush
    EXPECT_EQ(3, bf->FIFO().Count());
    pipe.Close();
    EXPECT_EQ(40011, bf->GetDataSize());
    EXPECT_EQ(40016, bf->GetStoredSize());

    TMemoryStream sink2;
    TConnectedStream window2(sink2, 0);
    TPipeline pipe2(&window2, pfBlowfish);
    TBlowFishFilter* bf2 = pipe2.AddPasswordFilter<TBlowFishFilter>("k");
    pipe2.Open(kOpenWrite);
    std::vector<uint8_t> even = Pattern(40000, 10), copy = even;
    EXPECT_EQ(40000, bf2->Write(even.data(), 40000));  // a whole number of blocks bypasses the FIFO
    EXPECT_EQ(0, bf2->FIFO().Count());
    EXPECT_EQ(copy, even);  // the caller's buffer is not changed
    pipe2.Close();
    EXPECT_EQ(40000, bf2->GetStoredSize());
}

// Reading the same encrypted entry in odd pieces gives what one read gives.
TEST(BlowFishFilter, ReadPiecesMatchWholeRead)
{
    std::vector<uint8_t> content = Pattern(70001, 11);
    auto file = WriteEntry(pfBlowfish, content, 32764);
    TConnectedStream window(*file, 5);
    TPipeline pipe(&window, pfBlowfish);
    pipe.AddPasswordFilter<TBlowFishFilter>("pw");
    pipe.Open(kOpenRead);
    std::vector<uint8_t> got(content.size());
    size_t done = 0, step = 5;
    while (done < got.size()) {
        int32_t n = static_cast<int32_t>(std::min(step, got.size() - done));
        ASSERT_EQ(n, pipe.TopFilter()->Read(got.data() + done, n));
        done += static_cast<size_t>(n);
        step = step * 7 % 40000 + 3;
    }
    EXPECT_EQ(content, got);
}

// Zip filter: two headers (source, zip) then a zlib stream starting 78 9C.
TEST(ZipFilter, PackedOnlyBlock)
{
    std::string text;
    for (int i = 0; text.size() < 50000; ++i)
        text += FormatText("line %d of the sample text, value %d\r\n", i, i * 7919 % 1000);
    std::vector<uint8_t> content(text.begin(), text.begin() + 50000);
    auto file = WriteEntry(pfZip, content, 4096);
    const uint8_t* block = file->Memory() + 5;
    int32_t stored = LE32(block + 2);
    EXPECT_EQ(stored, LE32(block + 6));
    EXPECT_EQ(50000, LE32(block + 10));
    EXPECT_EQ(stored, LE32(block + 14));
    EXPECT_LT(stored, 25000);
    EXPECT_EQ(0x78, block[18]);
    EXPECT_EQ(0x9C, block[19]);
    EXPECT_EQ(content, ReadEntry(*file, pfZip));

    // A flipped bit in the compressed data is an error, never wrong content.
    file->Memory()[5 + 18 + stored / 2] ^= 0x10;
    EXPECT_THROW(ReadEntry(*file, pfZip), EStreamError);
}

// A zip header that claims fewer bytes than the stream holds is refused.
TEST(ZipFilter, LengthMustMatchStreamEnd)
{
    std::vector<uint8_t> content = Pattern(3000, 12);
    auto file = WriteEntry(pfZip, content, 3000);
    uint8_t* zipHeader = file->Memory() + 5 + 10;
    zipHeader[0] = static_cast<uint8_t>(2999 & 0xFF);
    zipHeader[1] = static_cast<uint8_t>(2999 >> 8);
    EXPECT_THROW(ReadEntry(*file, pfZip), EDecompressionError);
    zipHeader[0] = static_cast<uint8_t>(3001 & 0xFF);
    zipHeader[1] = static_cast<uint8_t>(3001 >> 8);
    EXPECT_THROW(ReadEntry(*file, pfZip), EStreamError);
}

// A program that never enabled the compressor (the setup program) can read
// packed entries but not write them: opening for writing fails cleanly.
TEST(ZipFilter, WritingNeedsTheCompressorEnabled)
{
    const TZipFilter::TWriteHooks* saved = TZipFilter::WriteHooks;
    TZipFilter::WriteHooks = nullptr;
    {
        TMemoryStream file;
        TConnectedStream window(file, 0);
        TPipeline pipe(&window, pfZip);
        pipe.AddFilter<TZipFilter>();
        EXPECT_THROW(pipe.Open(kOpenWrite), ECompressionError);
    }
    TZipFilter::WriteHooks = saved;
    EnableZipCompression();
    auto file = WriteEntry(pfZip, {1, 2, 3}, 3);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), ReadEntry(*file, pfZip));
}
