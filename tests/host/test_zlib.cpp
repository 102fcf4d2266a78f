// The zlib streams: round trips at every level, the stream header, corrupt
// and truncated data, the end-of-stream flag and the seek rules.
#include <gtest/gtest.h>

#include "ovBlowFish.h"
#include "ovsZIP.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Compressible(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = static_cast<uint8_t>("abcdefgh"[(seed >> 16) & 7]);
    }
    return v;
}

std::unique_ptr<TMemoryStream> Compress(const std::vector<uint8_t>& data, int level)
{
    std::unique_ptr<TMemoryStream> result(new TMemoryStream);
    TMemoryStream& out = *result;
    TCompressionStream z(level, out);
    if (!data.empty())
        z.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(static_cast<int64_t>(data.size()), z.GetPosition());
    z.Finish();
    return result;
}

std::vector<uint8_t> Expand(TStream& src, size_t want, int32_t piece, bool* ended = nullptr)
{
    src.SetPosition(0);
    TDecompressionStream z(src);
    std::vector<uint8_t> got(want + 100);
    size_t done = 0;
    for (;;) {
        int32_t n = z.Read(got.data() + done, static_cast<int32_t>(std::min<size_t>(piece, got.size() - done)));
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    got.resize(done);
    if (ended)
        *ended = z.StreamEnded();
    return got;
}

}  // namespace

// Every level round-trips, in pieces smaller and larger than the 64 KB buffer.
TEST(Zlib, RoundTripAllLevels)
{
    std::vector<uint8_t> data = Compressible(300000, 1);
    for (int level = 0; level < 4; ++level) {
        SCOPED_TRACE(level);
        auto packed = Compress(data, level);
        bool ended = false;
        EXPECT_EQ(data, Expand(*packed, data.size(), 1000, &ended));
        EXPECT_TRUE(ended);
        EXPECT_EQ(data, Expand(*packed, data.size(), 200000));
    }
}

// Default level starts with 78 9C; an empty input still makes a complete stream.
TEST(Zlib, HeaderAndEmptyInput)
{
    auto packed = Compress(Compressible(100, 2), 2);
    ASSERT_GT(packed->Size(), 2);
    EXPECT_EQ(0x78, packed->Memory()[0]);
    EXPECT_EQ(0x9C, packed->Memory()[1]);

    auto empty = Compress({}, 2);
    EXPECT_GT(empty->Size(), 0);
    bool ended = false;
    EXPECT_TRUE(Expand(*empty, 0, 10, &ended).empty());
    EXPECT_TRUE(ended);
}

// A flipped byte in the deflate data or the checksum raises EDecompressionError "error".
TEST(Zlib, CorruptDataRaises)
{
    std::vector<uint8_t> data = Compressible(5000, 3);
    auto good = Compress(data, 2);
    for (int64_t at : {int64_t(0), good->Size() / 2, good->Size() - 1}) {
        SCOPED_TRACE(at);
        TMemoryStream bad;
        bad.WriteBuffer(good->Memory(), static_cast<int32_t>(good->Size()));
        bad.Memory()[at] ^= 0x55;
        bad.SetPosition(0);
        TDecompressionStream z(bad);
        std::vector<uint8_t> got(6000);
        try {
            int32_t n = z.Read(got.data(), 6000);
            // A flip that keeps the deflate data valid cannot pass the checksum.
            ADD_FAILURE() << "read " << n << " bytes without an error";
        } catch (const EDecompressionError& e) {
            EXPECT_EQ("error", e.message());
        }
    }
}

// Truncated data yields fewer bytes and no stream end; bytes after the end are ignored.
TEST(Zlib, TruncatedAndTrailingData)
{
    std::vector<uint8_t> data = Compressible(100000, 4);
    auto good = Compress(data, 2);
    TMemoryStream cut;
    cut.WriteBuffer(good->Memory(), static_cast<int32_t>(good->Size() / 2));
    bool ended = true;
    std::vector<uint8_t> got = Expand(cut, data.size(), 4096, &ended);
    EXPECT_LT(got.size(), data.size());
    EXPECT_FALSE(ended);
    EXPECT_EQ(0, std::memcmp(got.data(), data.data(), got.size()));

    TMemoryStream longer;
    longer.WriteBuffer(good->Memory(), static_cast<int32_t>(good->Size()));
    longer.WriteBuffer("trailing garbage", 16);
    got = Expand(longer, data.size(), 4096, &ended);
    EXPECT_EQ(data, got);
    EXPECT_TRUE(ended);
}

// Seek: restart from the start, forward skips, position; everything else is refused.
TEST(Zlib, SeekRules)
{
    std::vector<uint8_t> data = Compressible(20000, 5);
    auto packed = Compress(data, 1);
    packed->SetPosition(0);
    TDecompressionStream z(*packed);
    uint8_t buf[100];
    EXPECT_EQ(100, z.Read(buf, 100));
    EXPECT_EQ(100, z.GetPosition());
    EXPECT_EQ(10100, z.Seek(10000, soFromCurrent));
    EXPECT_EQ(100, z.Read(buf, 100));
    EXPECT_EQ(0, std::memcmp(buf, data.data() + 10100, 100));
    EXPECT_EQ(0, z.Seek(0, soFromBeginning));
    EXPECT_EQ(15000, z.Seek(15000, soFromBeginning));
    EXPECT_EQ(100, z.Read(buf, 100));
    EXPECT_EQ(0, std::memcmp(buf, data.data() + 15000, 100));
    EXPECT_THROW(z.Seek(5, soFromBeginning), EStreamError);
    EXPECT_THROW(z.Seek(0, soFromEnd), EStreamError);
    EXPECT_THROW(z.Write(buf, 1), EStreamError);

    TMemoryStream sink;
    TCompressionStream c(2, sink);
    EXPECT_THROW(c.Read(buf, 1), EStreamError);
    EXPECT_THROW(c.Seek(0, soFromBeginning), EStreamError);
}

// The setup program's chain: inflate reading through the decrypting stream
// (65,536-byte reads, carried remainders) gives the data back; a cut cipher
// text raises instead of ending quietly.
TEST(Zlib, ExpandThroughDecryptingStream)
{
    std::vector<uint8_t> data = Compressible(200001, 6);
    auto packed = Compress(data, 2);
    const int32_t plainSize = static_cast<int32_t>(packed->Size());
    std::vector<uint8_t> cipher(packed->Memory(), packed->Memory() + plainSize);
    cipher.resize((cipher.size() + 7) / 8 * 8, 0);
    EncryptBuffer(cipher.data(), static_cast<int32_t>(cipher.size()), "setup password");

    for (size_t keep : {cipher.size(), cipher.size() - 8, cipher.size() / 2}) {
        SCOPED_TRACE(keep);
        TReadOnlyMemoryStream source(cipher.data(), static_cast<int64_t>(keep));
        std::unique_ptr<TBlowfish> bf(new TBlowfish);
        bf->SetKey("setup password");
        TDeCryptStream decrypt(std::move(bf), source, plainSize);
        TDecompressionStream inflate(decrypt);
        std::vector<uint8_t> got(data.size() + 10);
        auto readAll = [&] {
            size_t done = 0;
            for (int32_t n; (n = inflate.Read(got.data() + done, 7777)) > 0;)
                done += static_cast<size_t>(n);
            return done;
        };
        if (keep == cipher.size()) {
            EXPECT_EQ(data.size(), readAll());
            EXPECT_TRUE(inflate.StreamEnded());
            got.resize(data.size());
            EXPECT_EQ(data, got);
        } else {
            EXPECT_THROW(readAll(), EReadError);
        }
    }
}
