// setup.exe links its own CRC-32 in place of zlib's (setup/sxZlibCrc.cpp).
// This program links it the same way, so zlib's expander and compressor below
// call it: the check values must be zlib's, and a gzip stream made elsewhere
// must still pass the expander's check of its trailer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

uLong Crc(const std::string& text, uLong start = 0)
{
    return crc32(start, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
}

TEST(ZlibCrc, ValuesAreZlibsOwn)
{
    EXPECT_EQ(crc32(12345, Z_NULL, 0), 0u);
    EXPECT_EQ(Crc(""), 0u);
    EXPECT_EQ(Crc("123456789"), 0xCBF43926u);  // the published check value
    EXPECT_EQ(Crc("a"), 0xE8B7BE43u);
    EXPECT_EQ(Crc(std::string("\0\0\0\0", 4)), 0x2144DF1Cu);
    // Continuing from an earlier value gives the value of the whole.
    EXPECT_EQ(Crc("56789", Crc("1234")), 0xCBF43926u);
}

// "Setup data, gzip wrapped.\n" three times, gzip-compressed by another
// program (mtime 0); its trailer holds the CRC-32 of those 78 bytes.
const unsigned char kGzip[] = {
    0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0xff, 0x0b, 0x4e, 0x2d, 0x29, 0x2d, 0x50,
    0x48, 0x49, 0x2c, 0x49, 0xd4, 0x51, 0x48, 0xaf, 0xca, 0x2c, 0x50, 0x28, 0x2f, 0x4a, 0x2c, 0x28,
    0x48, 0x4d, 0xd1, 0xe3, 0x0a, 0x26, 0x43, 0x06, 0x00, 0xe0, 0x56, 0x5c, 0x3f, 0x4e, 0x00, 0x00,
    0x00};

int Gunzip(std::vector<unsigned char> input, std::string& out)
{
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return Z_STREAM_ERROR;
    char buffer[256];
    z.next_in = input.data();
    z.avail_in = static_cast<uInt>(input.size());
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    int result = inflate(&z, Z_FINISH);
    out.assign(buffer, sizeof buffer - z.avail_out);
    inflateEnd(&z);
    return result;
}

TEST(ZlibCrc, ExpanderChecksGzipTrailers)
{
    std::vector<unsigned char> gzip(kGzip, kGzip + sizeof kGzip);
    std::string out;
    ASSERT_EQ(Gunzip(gzip, out), Z_STREAM_END);
    std::string line = "Setup data, gzip wrapped.\n";
    EXPECT_EQ(out, line + line + line);

    gzip[gzip.size() - 8] ^= 1;  // the stored CRC-32 no longer matches
    EXPECT_EQ(Gunzip(gzip, out), Z_DATA_ERROR);
}

}  // namespace
