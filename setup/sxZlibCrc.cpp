// The CRC-32 that zlib's expander calls, linked into setup.exe in place of
// zlib's own. The expander needs it only for gzip streams, which a setup never
// reads (its archives hold zlib streams, checked with Adler-32), yet zlib's
// version brings 8 KB of tables and unrolled code into every setup. This one
// computes the same value bit by bit: slow, but never on a setup's path.
#include <zlib.h>

extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len)
{
    if (buf == Z_NULL)
        return 0;  // zlib's initial value
    crc = ~crc & 0xFFFFFFFFUL;
    while (len-- > 0) {
        crc ^= *buf++;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320UL & (0UL - (crc & 1)));
    }
    return ~crc & 0xFFFFFFFFUL;
}
