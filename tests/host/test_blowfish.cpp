// Blowfish: published vectors, CBC chaining, the buffer helpers and the
// decrypting stream with its seek rule.
#include <gtest/gtest.h>

#include "ovBlowFish.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Hex(const char* text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(text + i, 2), nullptr, 16)));
    return out;
}

std::string KeyOf(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

}  // namespace

// The published ECB test vectors hold, both ways, with binary keys.
TEST(Blowfish, PublishedVectors)
{
    struct Row {
        const char* key;
        const char* plain;
        const char* cipher;
    } rows[] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        SCOPED_TRACE(i);
        TBlowfish bf;
        bf.SetKey(KeyOf(Hex(rows[i].key)));
        std::vector<uint8_t> block = Hex(rows[i].plain);
        bf.CryptBlock(block.data(), true);
        EXPECT_EQ(Hex(rows[i].cipher), block);
        bf.CryptBlock(block.data(), false);
        EXPECT_EQ(Hex(rows[i].plain), block);
    }
}

// The published CBC vector: chaining value as the IV, 29 bytes of text padded with zeros.
TEST(Blowfish, PublishedCbcVector)
{
    TBlowfish bf;
    bf.SetKey(KeyOf(Hex("0123456789ABCDEFF0E1D2C3B4A59687")));
    std::vector<uint8_t> iv = Hex("FEDCBA9876543210");
    bf.SetChainValue(iv.data());
    std::vector<uint8_t> data(32, 0);
    std::memcpy(data.data(), "7654321 Now is the time for ", 28);
    bf.Encrypt(data.data(), 32);
    EXPECT_EQ(Hex("6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC"), data);
}

// An empty key runs on the initial tables and still inverts; only 72 key bytes count.
TEST(Blowfish, EmptyAndLongKeys)
{
    TBlowfish fresh, empty;
    empty.SetKey("");
    EXPECT_EQ("", empty.GetKey());
    uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    fresh.CryptBlock(a, true);
    empty.CryptBlock(b, true);
    EXPECT_EQ(0, std::memcmp(a, b, 8));
    EXPECT_NE(1, a[0] == 1 && a[7] == 8);
    empty.CryptBlock(b, false);
    EXPECT_EQ(1, b[0]);
    EXPECT_EQ(8, b[7]);

    std::string key72(72, 'k'), key80 = key72 + "XXXXXXXX", key71(71, 'k');
    TBlowfish k72, k80, k71;
    k72.SetKey(key72);
    k80.SetKey(key80);
    k71.SetKey(key71 + "j");
    uint8_t x[8] = {}, y[8] = {}, z[8] = {};
    k72.CryptBlock(x, true);
    k80.CryptBlock(y, true);
    k71.CryptBlock(z, true);
    EXPECT_EQ(0, std::memcmp(x, y, 8));
    EXPECT_NE(0, std::memcmp(x, z, 8));
}

// CBC: trailing partial blocks stay as they are; consecutive calls continue one chain.
TEST(Blowfish, CbcChainingAndTail)
{
    std::vector<uint8_t> plain = Pattern(16, 7);
    TBlowfish one;
    one.SetKey("secret");
    std::vector<uint8_t> whole = plain;
    one.Encrypt(whole.data(), 16);

    TBlowfish two;
    two.SetKey("secret");
    std::vector<uint8_t> split = plain;
    two.Encrypt(split.data(), 8);
    two.Encrypt(split.data() + 8, 8);
    EXPECT_EQ(whole, split);

    TBlowfish first, second;
    first.SetKey("secret");
    second.SetKey("secret");
    std::vector<uint8_t> fresh = plain;
    first.Encrypt(fresh.data(), 8);
    second.Encrypt(fresh.data() + 8, 8);
    EXPECT_NE(whole, fresh);

    std::vector<uint8_t> twelve = Pattern(12, 3), orig = twelve;
    TBlowfish t;
    t.Encrypt(twelve.data(), 12);
    EXPECT_NE(0, std::memcmp(twelve.data(), orig.data(), 8));
    EXPECT_EQ(0, std::memcmp(twelve.data() + 8, orig.data() + 8, 4));

    std::vector<uint8_t> seven = Pattern(7, 4), seven0 = seven;
    t.Encrypt(seven.data(), 7);
    EXPECT_EQ(seven0, seven);

    // CryptFromZero restarts the chain; the generic CBC of TCryptor64 agrees
    // with the inlined one.
    std::vector<uint8_t> again = plain;
    one.CryptFromZero(again.data(), 16, true);
    EXPECT_EQ(whole, again);
    std::vector<uint8_t> generic = plain;
    TBlowfish g;
    g.SetKey("secret");
    g.TCryptor64::Crypt(generic.data(), 16, true);
    EXPECT_EQ(whole, generic);
    g.TCryptor64::CryptFromZero(generic.data(), 16, false);
    EXPECT_EQ(plain, generic);
}

TEST(Blowfish, EncryptAndDecryptBufferRoundTrip)
{
    std::vector<uint8_t> data = Pattern(64, 11), orig = data;
    EncryptBuffer(data.data(), 64, "pw");
    EXPECT_NE(orig, data);
    std::vector<uint8_t> wrong = data;
    DecryptBuffer(wrong.data(), 64, "pW");
    EXPECT_NE(orig, wrong);
    DecryptBuffer(data.data(), 64, "pw");
    EXPECT_EQ(orig, data);
}

namespace {

// plain zero-padded to whole blocks and encrypted as one chain from zero.
TMemoryStream* MakeCipherStream(const std::vector<uint8_t>& plain, const std::string& key)
{
    std::vector<uint8_t> padded(plain);
    padded.resize((plain.size() + 7) / 8 * 8, 0);
    EncryptBuffer(padded.data(), static_cast<int32_t>(padded.size()), key);
    auto* s = new TMemoryStream;
    if (!padded.empty())
        s->WriteBuffer(padded.data(), static_cast<int32_t>(padded.size()));
    s->SetPosition(0);
    return s;
}

TDeCryptStream* MakeDecrypt(TStream& source, const std::string& key, int32_t size)
{
    std::unique_ptr<TBlowfish> bf(new TBlowfish);
    bf->SetKey(key);
    return new TDeCryptStream(std::move(bf), source, size);
}

}  // namespace

// 13 plain bytes over 16 stored: read at once, or 5 + 8, or 5 + 3 + rest; then 0.
TEST(DeCryptStream, ThirteenBytesInPieces)
{
    std::vector<uint8_t> plain = Pattern(13, 21);
    std::unique_ptr<TMemoryStream> src(MakeCipherStream(plain, "k"));
    EXPECT_EQ(16, src->Size());
    {
        std::unique_ptr<TDeCryptStream> d(MakeDecrypt(*src, "k", 13));
        uint8_t buf[32] = {};
        EXPECT_EQ(13, d->Read(buf, 32));
        EXPECT_EQ(0, std::memcmp(buf, plain.data(), 13));
        EXPECT_EQ(0, d->Read(buf, 1));
    }
    src->SetPosition(0);
    {
        std::unique_ptr<TDeCryptStream> d(MakeDecrypt(*src, "k", 13));
        uint8_t buf[13] = {};
        EXPECT_EQ(5, d->Read(buf, 5));
        EXPECT_EQ(3, d->Read(buf + 5, 3));
        EXPECT_EQ(0, std::memcmp(buf, plain.data(), 8));
        EXPECT_EQ(5, d->Read(buf + 8, 8));
        EXPECT_EQ(0, std::memcmp(buf, plain.data(), 13));
        EXPECT_EQ(5, d->LastRead());
        EXPECT_EQ(0, d->Read(buf, 8));
    }
}

// Odd-sized reads over a longer entry give the same bytes as one read.
TEST(DeCryptStream, OddPiecesMatchWholeRead)
{
    std::vector<uint8_t> plain = Pattern(70001, 5);
    std::unique_ptr<TMemoryStream> src(MakeCipherStream(plain, "password"));
    std::unique_ptr<TDeCryptStream> d(MakeDecrypt(*src, "password", 70001));
    std::vector<uint8_t> got(plain.size());
    size_t done = 0, step = 1;
    while (done < got.size()) {
        int32_t n = d->Read(got.data() + done, static_cast<int32_t>(std::min(step, got.size() - done)));
        ASSERT_GT(n, 0);
        done += static_cast<size_t>(n);
        step = step * 3 % 9001 + 1;
    }
    EXPECT_EQ(plain, got);
}

// Seek asks for position and size; outside 0..size or a bad origin raises "Read error";
// seeking back and reading again gives the right bytes.
TEST(DeCryptStream, SeekRule)
{
    std::vector<uint8_t> plain = Pattern(13, 9);
    std::unique_ptr<TMemoryStream> src(MakeCipherStream(plain, ""));
    std::unique_ptr<TDeCryptStream> d(MakeDecrypt(*src, "", 13));
    EXPECT_EQ(13, d->Seek(0, soFromEnd));
    EXPECT_EQ(0, d->Seek(0, soFromBeginning));
    EXPECT_EQ(13, d->GetSize());
    EXPECT_EQ(0, d->GetPosition());
    try {
        d->Seek(1, soFromEnd);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ("Read error", e.message());
    }
    EXPECT_THROW(d->Seek(-1, soFromBeginning), EReadError);
    EXPECT_THROW(d->Seek(0, 7), EReadError);
    uint8_t buf[13];
    EXPECT_EQ(6, d->Read(buf, 6));
    EXPECT_EQ(2, d->Seek(2, soFromBeginning));
    EXPECT_EQ(11, d->Read(buf, 13));
    EXPECT_EQ(0, std::memcmp(buf, plain.data() + 2, 11));
    EXPECT_THROW(d->Write(buf, 1), EStreamError);
}

// A source that ends before the padded data raises instead of yielding garbage.
TEST(DeCryptStream, TruncatedSourceRaises)
{
    std::vector<uint8_t> plain = Pattern(100, 1);
    std::unique_ptr<TMemoryStream> src(MakeCipherStream(plain, "x"));
    src->SetSize(96);
    src->SetPosition(0);
    std::unique_ptr<TDeCryptStream> d(MakeDecrypt(*src, "x", 100));
    std::vector<uint8_t> buf(100);
    EXPECT_EQ(64, d->Read(buf.data(), 64));
    EXPECT_THROW(d->Read(buf.data(), 36), EReadError);
}
