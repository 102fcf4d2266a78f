// The scrambler filters and the password and block-cipher filters of the
// container pipeline.
#pragma once

#include "ovBlowFish.h"
#include "ovsPipe.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A reversible transformation applied per call; the base does nothing.
class TScrambler {
public:
    virtual ~TScrambler() = default;
    virtual void Scramble(void* buffer, int32_t count) {}
    virtual void Unscramble(void* buffer, int32_t count) {}
};

// XORs whole little-endian 32-bit words with kStgScrambleKey. Tail rule: of
// the bytes after the last whole word, the first is left unchanged and each
// one after it is XORed with the key's low byte. The routine is its own
// inverse, and its result depends on how data is cut into calls.
class TXORScrambler : public TScrambler {
public:
    void Scramble(void* buffer, int32_t count) override;
    void Unscramble(void* buffer, int32_t count) override { Scramble(buffer, count); }
};

// Runs a scrambler (owned; none in this class) over the data passing through.
class TScramblerFilter : public TDataFilter {
public:
    TScramblerFilter() = default;
    ~TScramblerFilter() override;
    // Reads through the inner filter, then unscrambles the requested bytes.
    int32_t Read(void* buffer, int32_t count) override;
    // Scrambles a copy; the caller's buffer is not changed.
    int32_t Write(const void* buffer, int32_t count) override;
    bool SizesAgree() const override { return GetDataSize() == GetStoredSize(); }

protected:
    std::unique_ptr<TScrambler> Scrambler;

private:
    std::vector<uint8_t> WorkCopy;
};

class TXORScramblerFilter : public TScramblerFilter {
public:
    TXORScramblerFilter();
};

// A filter that holds a password.
class TPswProtectedFilter : public TDataFilter {
public:
    TPswProtectedFilter() = default;
    virtual std::string GetPassword() const { return Password; }
    virtual void SetPassword(const std::string& password) { Password = password; }

protected:
    std::string Password;
};

// Turns pieces of any size into whole cipher blocks through a FIFO buffer.
// Stored form: the data zero-padded to whole blocks, encrypted as one CBC
// chain from a zero chaining value; DataSize = real length, StoredSize =
// padded length. Opening without a cryptor raises EStreamError.
class TBlockCryptFilter : public TPswProtectedFilter {
public:
    TBlockCryptFilter();
    ~TBlockCryptFilter() override;

    void Open(uint8_t mode) override;
    // Reading: a short read from the inner filter raises EReadError.
    int32_t Read(void* buffer, int32_t count) override;
    // Returns the bytes passed down (0 while less than one block is
    // buffered; nothing is lost: the bytes wait for the next Write or Finish).
    int32_t Write(const void* buffer, int32_t count) override;
    void Finish() override;
    // Pads and pushes the buffered bytes (writing only).
    virtual void FlushBlocks();

    TCryptor* Cryptor() const { return FCryptor.get(); }
    const TFIFOBuffer& FIFO() const { return Fifo; }
    // The data zero-padded to whole blocks is the stored size.
    bool SizesAgree() const override;

protected:
    std::unique_ptr<TCryptor> FCryptor;
    int32_t BlockSize = 0;

private:
    uint8_t* Work(int32_t size);

    TFIFOBuffer Fifo;
    std::vector<uint8_t> WorkBuffer;
};

class TBlowFishFilter : public TBlockCryptFilter {
public:
    TBlowFishFilter();
};
