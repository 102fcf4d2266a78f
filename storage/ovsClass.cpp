#include "ovsClass.h"

#include <algorithm>
#include <cstring>

// ---- TXORScrambler ----

void TXORScrambler::Scramble(void* buffer, int32_t count)
{
    if (count <= 0)
        return;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    const int32_t words = count / 4;
    const uint8_t k0 = uint8_t(kStgScrambleKey), k1 = uint8_t(kStgScrambleKey >> 8),
                  k2 = uint8_t(kStgScrambleKey >> 16), k3 = uint8_t(kStgScrambleKey >> 24);
    // The key as it lies in memory, little-endian, whatever the host's order.
    uint32_t key;
    const uint8_t keyBytes[4] = {k0, k1, k2, k3};
    std::memcpy(&key, keyBytes, 4);
    for (int32_t i = 0; i < words; ++i) {
        uint32_t w;
        std::memcpy(&w, p + 4 * i, 4);
        w ^= key;
        std::memcpy(p + 4 * i, &w, 4);
    }
    // The first byte after the last whole word stays as it is.
    for (int32_t j = 4 * words + 1; j < count; ++j)
        p[j] ^= k0;
}

// ---- TScramblerFilter ----

TScramblerFilter::~TScramblerFilter()
{
    CloseQuietly();
}

int32_t TScramblerFilter::Read(void* buffer, int32_t count)
{
    int32_t n = TDataFilter::Read(buffer, count);
    if (Scrambler)
        Scrambler->Unscramble(buffer, count);
    return n;
}

int32_t TScramblerFilter::Write(const void* buffer, int32_t count)
{
    if (count <= 0)
        return TDataFilter::Write(buffer, count);
    WorkCopy.assign(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + count);
    if (Scrambler)
        Scrambler->Scramble(WorkCopy.data(), count);
    return TDataFilter::Write(WorkCopy.data(), count);
}

TXORScramblerFilter::TXORScramblerFilter()
{
    Scrambler.reset(new TXORScrambler);
}

// ---- TBlockCryptFilter ----

TBlockCryptFilter::TBlockCryptFilter()
    : Fifo(32768, TFIFOBuffer::foRecycle | TFIFOBuffer::foFixedChunk, 32768)
{
}

TBlockCryptFilter::~TBlockCryptFilter()
{
    CloseQuietly();
}

uint8_t* TBlockCryptFilter::Work(int32_t size)
{
    if (WorkBuffer.size() < static_cast<size_t>(size))
        WorkBuffer.resize(static_cast<size_t>(size));
    return WorkBuffer.data();
}

void TBlockCryptFilter::Open(uint8_t mode)
{
    if (!FCryptor || BlockSize <= 0)
        throw EStreamError("Block cipher filter without a cryptor");
    FCryptor->SetKey(Password);
    TPswProtectedFilter::Open(mode);
}

int32_t TBlockCryptFilter::Read(void* buffer, int32_t count)
{
    if (count <= 0)
        return 0;
    if (Fifo.Count() > 0 || count % BlockSize != 0) {
        if (Fifo.Count() < count) {
            const int32_t held = Fifo.Count();
            int32_t need = count - held;
            need = (need + BlockSize - 1) / BlockSize * BlockSize;
            uint8_t* work = Work(need);
            // Every block must arrive: a partial one would decrypt to garbage.
            if (TPswProtectedFilter::Read(work, need) != need)
                throw EReadError("Stream read error");
            FCryptor->Decrypt(work, need);
            // The same bytes as appending all to the FIFO and taking count
            // from it, with one copy less: what was held, then the new bytes,
            // and the rest (less than a block) waits in the FIFO.
            uint8_t* out = static_cast<uint8_t*>(buffer);
            Fifo.Read(out, held);
            std::memcpy(out + held, work, static_cast<size_t>(count - held));
            Fifo.Write(work + (count - held), need - (count - held));
            return count;
        }
        Fifo.Read(buffer, count);
        return count;
    }
    int32_t n = TPswProtectedFilter::Read(buffer, count);
    if (n > 0)
        FCryptor->Decrypt(buffer, n);
    return n;
}

int32_t TBlockCryptFilter::Write(const void* buffer, int32_t count)
{
    if (count <= 0)
        return 0;
    if (Fifo.Count() > 0 || count % BlockSize != 0) {
        Fifo.Write(buffer, count);
        int32_t c = BlockSize * (Fifo.Count() / BlockSize);
        c = std::min(c, kStgCopyPiece / BlockSize * BlockSize);
        if (c <= 0)
            return 0;
        uint8_t* work = Work(c);
        Fifo.Read(work, c);
        FCryptor->Encrypt(work, c);
        return TPswProtectedFilter::Write(work, c);
    }
    uint8_t* work = Work(count);
    std::memcpy(work, buffer, static_cast<size_t>(count));
    FCryptor->Encrypt(work, count);
    return TPswProtectedFilter::Write(work, count);
}

void TBlockCryptFilter::FlushBlocks()
{
    if (IsReading())
        return;
    int32_t k = Fifo.Count();
    if (k <= 0 || !InnerFilter)
        return;
    int32_t a = (k + BlockSize - 1) / BlockSize * BlockSize;
    uint8_t* work = Work(a);
    std::memset(work, 0, static_cast<size_t>(a));
    Fifo.Read(work, k);
    FCryptor->Encrypt(work, a);
    int32_t before = DataSize;
    TPswProtectedFilter::Write(work, a);
    DataSize = before + k;
}

bool TBlockCryptFilter::SizesAgree() const
{
    int64_t block = Cryptor() ? Cryptor()->BlockSize() : 1;
    int64_t padded = (static_cast<int64_t>(GetDataSize()) + block - 1) / block * block;
    return padded == GetStoredSize();
}

void TBlockCryptFilter::Finish()
{
    FlushBlocks();
    TPswProtectedFilter::Finish();
}

TBlowFishFilter::TBlowFishFilter()
{
    FCryptor.reset(new TBlowfish);
    BlockSize = FCryptor->BlockSize();
}
