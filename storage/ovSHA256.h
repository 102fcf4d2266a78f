// SHA-256 (FIPS 180-4), small and portable: the setup checks downloaded and
// local component packages against the digest their description names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TSHA256 {
public:
    static constexpr size_t DigestSize = 32;

    TSHA256() { Reset(); }
    void Reset();
    void Update(const void* data, size_t count);
    // Ends the message and writes the 32-byte digest; the object is reset.
    void Final(uint8_t digest[DigestSize]);

    // The digest of one buffer, as 64 lower-case hex digits.
    static std::string HexDigest(const void* data, size_t count);

private:
    void Block(const uint8_t* block);
    uint32_t H[8];
    uint8_t Buffer[64];
    size_t Buffered;
    uint64_t Length;  // bytes hashed so far
};

// 32 bytes as 64 lower-case hex digits.
std::string SHA256ToHex(const uint8_t digest[TSHA256::DigestSize]);
// Parses 64 hex digits (either case, nothing else, no blanks) into a digest.
// False for any other text.
bool ParseSHA256Hex(const std::string& text, uint8_t digest[TSHA256::DigestSize]);
