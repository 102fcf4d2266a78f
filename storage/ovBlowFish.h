// The Blowfish block cipher with cipher-block chaining, the decrypt/encrypt
// buffer helpers and the decrypting stream.
//
// TCryptor is the abstract cryptor (a key, a block size, a chaining value);
// TCryptor64 adds CBC over 8-byte blocks; TBlowfish is the standard cipher
// (64-bit blocks, 16 rounds, big-endian block words), so the published test
// vectors hold. There is no padding in the cryptors: callers pass whole blocks
// or pad with zero bytes; bytes after the last whole block are left unchanged.
//
// Encrypted data in this system is always the plain data zero-padded to a
// whole number of 8-byte blocks and encrypted as one CBC chain that starts
// from a zero chaining value.
#pragma once

#include "ovStream.h"

#include <cstdint>
#include <memory>
#include <string>

class TCryptor {
public:
    TCryptor() = default;
    TCryptor(const TCryptor&) = delete;
    TCryptor& operator=(const TCryptor&) = delete;
    virtual ~TCryptor() = default;

    virtual std::string GetKey() const = 0;
    virtual void SetKey(const std::string& key) = 0;
    virtual int32_t BlockSize() const = 0;
    // Enciphers or deciphers one block of BlockSize bytes in place (no chaining).
    virtual void CryptBlock(uint8_t* block, bool encrypt) = 0;
    // CBC over the whole blocks of the buffer, in place; the chain continues
    // from the previous call. Never throws.
    virtual void Crypt(void* buffer, int32_t count, bool encrypt) = 0;
    // Crypt with the chaining value first reset to zero.
    virtual void CryptFromZero(void* buffer, int32_t count, bool encrypt) = 0;

    void Encrypt(void* buffer, int32_t count) { Crypt(buffer, count, true); }
    void Decrypt(void* buffer, int32_t count) { Crypt(buffer, count, false); }
    // Copies BlockSize bytes from source into the chaining value.
    void SetChainValue(const void* source);
    const uint8_t* GetChainValue() const { return ChainValue; }

protected:
    // The chaining value; large enough for any block size of this program.
    uint8_t ChainValue[16] = {};
};

// A cryptor over 8-byte blocks in CBC mode.
class TCryptor64 : public TCryptor {
public:
    int32_t BlockSize() const override { return 8; }
    void Crypt(void* buffer, int32_t count, bool encrypt) override;
    void CryptFromZero(void* buffer, int32_t count, bool encrypt) override;
};

class TBlowfish : public TCryptor64 {
public:
    // A new cipher runs on the initial tables (the empty key).
    TBlowfish();
    std::string GetKey() const override { return Key; }
    // The standard key schedule; an empty key keeps the initial tables.
    // Only the first 72 key bytes have an effect. Does not reset the chain.
    void SetKey(const std::string& key) override;
    void CryptBlock(uint8_t* block, bool encrypt) override;
    // The same CBC mode as TCryptor64, with the block function inlined.
    void Crypt(void* buffer, int32_t count, bool encrypt) override;

    // The block function on the two big-endian halves of a block.
    void EncipherWords(uint32_t& left, uint32_t& right) const;
    void DecipherWords(uint32_t& left, uint32_t& right) const;

private:
    uint32_t F(uint32_t x) const
    {
        return ((S[0][x >> 24] + S[1][(x >> 16) & 255]) ^ S[2][(x >> 8) & 255]) + S[3][x & 255];
    }

    uint32_t P[18];
    uint32_t S[4][256];
    std::string Key;
};

// An owned memory block of a fixed size.
class TBuffer {
public:
    explicit TBuffer(int32_t size) : Data(size > 0 ? new uint8_t[size] : nullptr), Length(size > 0 ? size : 0) {}
    uint8_t* Memory() { return Data.get(); }
    int32_t Size() const { return Length; }

private:
    std::unique_ptr<uint8_t[]> Data;
    int32_t Length;
};

// Decrypts count bytes of the buffer in place with a fresh Blowfish chain
// (chaining value zero) keyed with key.
void DecryptBuffer(void* buffer, int32_t count, const std::string& key);
// The writer's counterpart: encrypts in place with a fresh chain.
void EncryptBuffer(void* buffer, int32_t count, const std::string& key);

// The base of the crypt streams: a source (not owned), a cryptor (owned) and
// the work state. Its own Read, Write and Seek are not supported.
class TCryptStream : public TStream {
public:
    TCryptStream(std::unique_ptr<TCryptor> cryptor, TStream& source);
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, int origin) override;

protected:
    TStream& Source;
    std::unique_ptr<TCryptor> Cryptor;
    TBuffer WorkBuffer;
    int32_t LastChunk = 0;      // length of the last chunk read from the source
    int64_t TotalDecrypted = 0;  // bytes deciphered so far
    int32_t CarryCount = 0;     // bytes deciphered but not yet delivered
    int64_t Position = 0;
    uint8_t Carry[256] = {};
};

// Reads plainSize bytes of plain data from a source that holds them
// zero-padded to whole blocks and encrypted as one CBC chain from zero.
//
// Read delivers min(count, plainSize - position) bytes. A source that ends
// before the padded data does raises EReadError ("Stream read error"): a
// truncated archive is an error, never silently wrong content.
// Seek(offset, origin) with origins 0/1/2 (2 = from plainSize) returns the new
// position; an unknown origin or a position outside 0..plainSize raises
// EReadError "Read error". Seek changes only the position (its use is to ask
// for the position and the size); a Read after a real move first brings the
// decryption to the new position (re-reading the source from where the
// stream started when moving back), so it never delivers misplaced bytes.
class TDeCryptStream : public TCryptStream {
public:
    // cryptor: keyed by the caller; the chain starts from the cryptor's
    // current chaining value (zero for a new cryptor). None raises EStreamError.
    TDeCryptStream(std::unique_ptr<TCryptor> cryptor, TStream& source, int32_t plainSize);
    int32_t Read(void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, int origin) override;

    int32_t PlainSize() const { return FPlainSize; }
    int32_t LastRead() const { return LastReadCount; }

private:
    void ReadSource(void* buffer, int32_t count);
    void Take(uint8_t* out, int32_t count);
    void SyncTo(int64_t target);

    int32_t FPlainSize;
    int32_t LastReadCount = 0;
    int64_t Delivered = 0;     // plain bytes taken from the decryption so far
    int64_t SourceStart = -1;  // source position at creation; -1: not seekable
    uint8_t StartChain[16] = {};  // the cryptor's chaining value at creation
};
