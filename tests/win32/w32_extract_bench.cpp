// Throughput of the extractor's decode loop against plain zlib inflate of the
// same data. A benchmark, not a test: disabled by default, run by
// scripts/bench-install.sh with --gtest_also_run_disabled_tests. It prints
// one line "DECODE_BENCH mb=<MiB> zlib_mbs=<MiB/s> decode_mbs=<MiB/s> ratio=<r>",
// and one "CIPHER_BENCH mb=<MiB> decrypt_mbs=<MiB/s>" for the cipher that
// encrypted archives pass through before they are expanded.
#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include "ovBlowFish.h"
#include "ovsZIP.h"
#include "sxExtract.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

}  // namespace

// Mixed data (text-like runs and noise), 64 MiB, compressed at level 6.
TEST(ExtractBench, DISABLED_DecodeLoopAgainstPlainInflate)
{
    const size_t size = 64u << 20;
    std::vector<uint8_t> plain(size);
    uint32_t x = 12345;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        plain[i] = (i / 4096) % 3 ? static_cast<uint8_t>("setup archive text "[i % 19]) : static_cast<uint8_t>(x >> 24);
    }
    uLongf packedSize = compressBound(size);
    std::vector<uint8_t> packed(packedSize);
    ASSERT_EQ(Z_OK, compress2(packed.data(), &packedSize, plain.data(), size, 6));
    packed.resize(packedSize);

    double zlibBest = 1e9, decodeBest = 1e9;
    std::vector<uint8_t> out(SXOutputChunkSize);
    for (int round = 0; round < 3; ++round) {
        // Plain inflate into a 61,440-byte buffer, reused: the least any
        // streaming decoder has to do.
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        z_stream z = {};
        ASSERT_EQ(Z_OK, inflateInit(&z));
        z.next_in = packed.data();
        z.avail_in = static_cast<uInt>(packed.size());
        size_t total = 0;
        int rc;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            rc = inflate(&z, Z_NO_FLUSH);
            total += out.size() - z.avail_out;
        } while (rc == Z_OK);
        inflateEnd(&z);
        QueryPerformanceCounter(&t1);
        ASSERT_EQ(Z_STREAM_END, rc);
        ASSERT_EQ(size, total);
        zlibBest = std::min(zlibBest, Seconds(t0, t1));

        // The extractor's loop: a window over the archive memory, the
        // inflating stream, 61,440-byte chunks to the destination.
        TFileInfo entry;
        entry.Compressed = true;
        entry.Size = static_cast<int32_t>(size);
        entry.StoredSize = static_cast<int32_t>(packed.size());
        TReadOnlyMemoryStream source(packed.data(), packed.size());
        TNullStream sink;
        QueryPerformanceCounter(&t0);
        TSXExtractor::DecodeFile(source, sink, "", entry);
        QueryPerformanceCounter(&t1);
        ASSERT_EQ(static_cast<int64_t>(size), sink.Size);
        decodeBest = std::min(decodeBest, Seconds(t0, t1));
    }
    double mb = double(size) / (1 << 20);
    std::printf("DECODE_BENCH mb=%.0f zlib_mbs=%.1f decode_mbs=%.1f ratio=%.3f\n", mb, mb / zlibBest,
                mb / decodeBest, zlibBest / decodeBest);
}

// The cipher's chained decryption of 64 MiB in place, in 61,440-byte calls.
TEST(ExtractBench, DISABLED_CipherDecryption)
{
    const size_t size = 64u << 20;
    std::vector<uint8_t> data(size, 0x5A);
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        TBlowfish cipher;
        cipher.SetKey("benchmark key");
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        for (size_t at = 0; at < size; at += SXOutputChunkSize)
            cipher.Crypt(data.data() + at, static_cast<int32_t>(std::min<size_t>(SXOutputChunkSize, size - at)), false);
        QueryPerformanceCounter(&t1);
        best = std::min(best, Seconds(t0, t1));
    }
    double mb = double(size) / (1 << 20);
    std::printf("CIPHER_BENCH mb=%.0f decrypt_mbs=%.1f\n", mb, mb / best);
}
