// Little-endian integers in byte buffers: the one set of readers and writers
// behind the container format, the archive fields, the PE writer and the
// resource builder. Nothing is read or written as a struct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline uint16_t GetLE16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t GetLE64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
inline void PutLE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void PutLE64(uint8_t* p, uint64_t v)
{
    PutLE32(p, uint32_t(v));
    PutLE32(p + 4, uint32_t(v >> 32));
}

// True when bytes [offset, offset + count) lie inside a buffer of size bytes
// (no overflow for offsets near the top of size_t).
inline bool BytesInside(size_t size, size_t offset, size_t count)
{
    return offset <= size && count <= size - offset;
}

// Writing at an offset of a buffer the caller has already sized.
inline void PutLE16(std::vector<uint8_t>& b, size_t offset, uint16_t v) { PutLE16(&b[offset], v); }
inline void PutLE32(std::vector<uint8_t>& b, size_t offset, uint32_t v) { PutLE32(&b[offset], v); }

// Appending to a growing buffer.
inline void AppendLE16(std::vector<uint8_t>& b, uint16_t v)
{
    uint8_t bytes[2];
    PutLE16(bytes, v);
    b.insert(b.end(), bytes, bytes + 2);
}
inline void AppendLE32(std::vector<uint8_t>& b, uint32_t v)
{
    uint8_t bytes[4];
    PutLE32(bytes, v);
    b.insert(b.end(), bytes, bytes + 4);
}
