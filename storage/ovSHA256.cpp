// SHA-256. See ovSHA256.h.
#include "ovSHA256.h"
#include "ovText.h"

#include <cstring>

namespace {

const uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t Rotr(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}


}  // namespace

void TSHA256::Reset()
{
    static const uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(H, initial, sizeof(H));
    Buffered = 0;
    Length = 0;
}

void TSHA256::Block(const uint8_t* p)
{
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (uint32_t(p[4 * i]) << 24) | (uint32_t(p[4 * i + 1]) << 16) | (uint32_t(p[4 * i + 2]) << 8) |
               uint32_t(p[4 * i + 3]);
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = H[0], b = H[1], c = H[2], d = H[3], e = H[4], f = H[5], g = H[6], h = H[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
        uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    H[0] += a;
    H[1] += b;
    H[2] += c;
    H[3] += d;
    H[4] += e;
    H[5] += f;
    H[6] += g;
    H[7] += h;
}

void TSHA256::Update(const void* data, size_t count)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    Length += count;
    if (Buffered) {
        size_t take = 64 - Buffered < count ? 64 - Buffered : count;
        std::memcpy(Buffer + Buffered, p, take);
        Buffered += take;
        p += take;
        count -= take;
        if (Buffered < 64)
            return;
        Block(Buffer);
        Buffered = 0;
    }
    for (; count >= 64; p += 64, count -= 64)
        Block(p);
    std::memcpy(Buffer, p, count);
    Buffered = count;
}

void TSHA256::Final(uint8_t digest[DigestSize])
{
    uint64_t bits = Length * 8;
    uint8_t pad[72] = {0x80};
    size_t padLength = (Buffered < 56 ? 56 : 120) - Buffered;
    for (int i = 0; i < 8; ++i)
        pad[padLength + i] = uint8_t(bits >> (56 - 8 * i));
    Update(pad, padLength + 8);
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = uint8_t(H[i] >> 24);
        digest[4 * i + 1] = uint8_t(H[i] >> 16);
        digest[4 * i + 2] = uint8_t(H[i] >> 8);
        digest[4 * i + 3] = uint8_t(H[i]);
    }
    Reset();
}

std::string TSHA256::HexDigest(const void* data, size_t count)
{
    TSHA256 hash;
    hash.Update(data, count);
    uint8_t digest[DigestSize];
    hash.Final(digest);
    return SHA256ToHex(digest);
}

std::string SHA256ToHex(const uint8_t digest[TSHA256::DigestSize])
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < TSHA256::DigestSize; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

bool ParseSHA256Hex(const std::string& text, uint8_t digest[TSHA256::DigestSize])
{
    if (text.size() != 2 * TSHA256::DigestSize)
        return false;
    for (size_t i = 0; i < TSHA256::DigestSize; ++i) {
        int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        digest[i] = uint8_t(high * 16 + low);
    }
    return true;
}
