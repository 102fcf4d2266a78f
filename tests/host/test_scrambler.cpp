// The XOR scrambler's word and tail rule, the scrambler filter, and the
// Blowfish filter's final flush of a 40,004-byte piece.
#include <gtest/gtest.h>

#include "ovsClass.h"
#include "ovStgDef.h"

#include <cstring>
#include <vector>

namespace {

const uint8_t K0 = uint8_t(kStgScrambleKey), K1 = uint8_t(kStgScrambleKey >> 8), K2 = uint8_t(kStgScrambleKey >> 16),
              K3 = uint8_t(kStgScrambleKey >> 24);

std::vector<uint8_t> Scrambled(std::vector<uint8_t> v)
{
    TXORScrambler s;
    s.Scramble(v.data(), static_cast<int32_t>(v.size()));
    return v;
}

}  // namespace

// 0..3 bytes: the first tail byte stays, the others get the key's low byte.
TEST(XORScrambler, ShortPiecesFollowTheTailRule)
{
    EXPECT_EQ(std::vector<uint8_t>{}, Scrambled({}));
    EXPECT_EQ(std::vector<uint8_t>({0x11}), Scrambled({0x11}));
    EXPECT_EQ(std::vector<uint8_t>({0x11, uint8_t(0x22 ^ K0)}), Scrambled({0x11, 0x22}));
    EXPECT_EQ(std::vector<uint8_t>({0x11, uint8_t(0x22 ^ K0), uint8_t(0x33 ^ K0)}), Scrambled({0x11, 0x22, 0x33}));
}

// Whole words take the key little-endian; a 5th byte stays; a 6th gets the low byte.
TEST(XORScrambler, WordsAndTail)
{
    std::vector<uint8_t> zeros4(4, 0);
    EXPECT_EQ(std::vector<uint8_t>({K0, K1, K2, K3}), Scrambled(zeros4));
    EXPECT_EQ(std::vector<uint8_t>({K0, K1, K2, K3, 0}), Scrambled(std::vector<uint8_t>(5, 0)));
    EXPECT_EQ(std::vector<uint8_t>({K0, K1, K2, K3, 0, K0}), Scrambled(std::vector<uint8_t>(6, 0)));
    // A 145-byte directory record keeps its last byte.
    std::vector<uint8_t> record(145, 0x5A);
    std::vector<uint8_t> s = Scrambled(record);
    EXPECT_EQ(0x5A, s[144]);
    EXPECT_EQ(uint8_t(0x5A ^ K0), s[140]);
    EXPECT_EQ(uint8_t(0x5A ^ K3), s[143]);
}

// Applied twice it restores; the result depends on how data is cut into calls.
TEST(XORScrambler, InverseAndCutDependence)
{
    std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(data, Scrambled(Scrambled(data)));

    TXORScrambler s;
    std::vector<uint8_t> split = data;
    s.Scramble(split.data(), 4);
    s.Scramble(split.data() + 4, 4);
    EXPECT_EQ(Scrambled(data), split);

    std::vector<uint8_t> six = {1, 2, 3, 4, 5, 6}, sixSplit = six;
    s.Scramble(sixSplit.data(), 3);
    s.Scramble(sixSplit.data() + 3, 3);
    EXPECT_NE(Scrambled(six), sixSplit);
    TScrambler none;
    none.Scramble(six.data(), 6);
    EXPECT_EQ(std::vector<uint8_t>({1, 2, 3, 4, 5, 6}), six);
}

// The filter scrambles a copy: the caller's buffer is unchanged, the stored
// bytes are scrambled, and reading gives the original back.
TEST(XORScramblerFilter, WriteLeavesCallerBufferAndRoundTrips)
{
    TMemoryStream file;
    std::vector<uint8_t> data(40000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 31 + 7);
    const std::vector<uint8_t> original = data;
    {
        TConnectedStream window(file, 0);
        TPipeline pipe(&window, pfScramble);
        pipe.AddFilter<TXORScramblerFilter>();
        pipe.Open(kOpenWrite);
        for (size_t done = 0; done < data.size(); done += kStgCopyPiece)
            pipe.TopFilter()->Write(data.data() + done,
                                    static_cast<int32_t>(std::min<size_t>(kStgCopyPiece, data.size() - done)));
        pipe.Close();
    }
    EXPECT_EQ(original, data);
    ASSERT_EQ(18 + 40000, file.Size());
    EXPECT_EQ(Scrambled(original), std::vector<uint8_t>(file.Memory() + 18, file.Memory() + file.Size()));

    TConnectedStream window(file, 0);
    TPipeline pipe(&window, pfScramble);
    pipe.AddFilter<TXORScramblerFilter>();
    pipe.Open(kOpenRead);
    TMemoryStream out;
    pipe.SaveToStream(out);
    EXPECT_EQ(original, out.Bytes());
}

// 40,004 bytes as one piece: 32,760 pushed at once, 7,248 at the flush; sizes 40,004 / 40,008.
TEST(BlowFishFilter, FortyThousandFourBytes)
{
    TMemoryStream file;
    TConnectedStream window(file, 0);
    TPipeline pipe(&window, pfBlowfish);
    TBlowFishFilter* bf = pipe.AddPasswordFilter<TBlowFishFilter>("secret");
    pipe.Open(kOpenWrite);
    std::vector<uint8_t> data(40004, 0x42);
    EXPECT_EQ(32760, bf->Write(data.data(), 40004));
    EXPECT_EQ(32760, pipe.SourceFilter()->GetStoredSize());
    pipe.Close();
    EXPECT_EQ(40004, bf->GetDataSize());
    EXPECT_EQ(40008, bf->GetStoredSize());
    EXPECT_EQ(40008, pipe.SourceFilter()->GetStoredSize());
    EXPECT_EQ(18 + 40008, file.Size());
    // The stored form is the zero-padded data encrypted as one chain from zero.
    std::vector<uint8_t> expect(40008, 0);
    std::memset(expect.data(), 0x42, 40004);
    EncryptBuffer(expect.data(), 40008, "secret");
    EXPECT_EQ(0, std::memcmp(file.Memory() + 18, expect.data(), 40008));
}
