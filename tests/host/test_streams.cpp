// The stream base: memory and file streams, seek origins, short reads turned
// into errors, counted strings, bounded whole-file reading and the string
// table's join and split.
#include <gtest/gtest.h>

#include "ovFileBytes.h"
#include "ovStream.h"
#include "sxTypes.h"

#include <cstdio>
#include <string>
#include <vector>

TEST(MemoryStream, SeekOriginsAndGrowth)
{
    TMemoryStream s;
    EXPECT_EQ(5, s.Write("hello", 5));
    EXPECT_EQ(5, s.GetPosition());
    EXPECT_EQ(5, s.GetSize());
    EXPECT_EQ(1, s.Seek(1, soFromBeginning));
    EXPECT_EQ(3, s.Seek(2, soFromCurrent));
    EXPECT_EQ(4, s.Seek(-1, soFromEnd));
    char c = 0;
    EXPECT_EQ(1, s.Read(&c, 1));
    EXPECT_EQ('o', c);
    EXPECT_EQ(0, s.Read(&c, 1));  // at the end
    s.Seek(8, soFromBeginning);   // beyond the end: a write fills the gap with zeros
    s.Write("!", 1);
    EXPECT_EQ(9, s.GetSize());
    EXPECT_EQ(0, s.Memory()[6]);
}

TEST(MemoryStream, ReadBufferRaisesOnShortRead)
{
    TMemoryStream s;
    s.Write("abc", 3);
    s.SetPosition(1);
    char buf[4];
    EXPECT_THROW(s.ReadBuffer(buf, 4), EReadError);
}

TEST(ReadOnlyMemoryStream, ReadsBorrowedMemoryAndRefusesWrites)
{
    const char data[] = "0123456789";
    TReadOnlyMemoryStream s(data, 10);
    char buf[4] = {};
    s.Seek(-4, soFromEnd);
    EXPECT_EQ(4, s.Read(buf, 4));
    EXPECT_EQ(std::string("6789"), std::string(buf, 4));
    EXPECT_THROW(s.Write("x", 1), EStreamError);
}

TEST(FileStream, CreateWriteReopenAndMissingFile)
{
    std::string name = testing::TempDir() + "sx_stream_test.bin";
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer("abcdef", 6);
        f.SetSize(4);
    }
    EXPECT_TRUE(FileExists(name));
    {
        TFileStream f(name, fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(4, f.GetSize());
        char buf[8];
        EXPECT_EQ(4, f.Read(buf, 8));
        EXPECT_EQ(std::string("abcd"), std::string(buf, 4));
    }
    std::remove(name.c_str());
    EXPECT_FALSE(FileExists(name));
    try {
        TFileStream f(name, fmOpenRead);
        FAIL() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ("Cannot open file " + name, e.message());
    }
}

TEST(ShortString, RoundTripAndLayout)
{
    TMemoryStream s;
    WriteShortString(s, "");
    WriteShortString(s, std::string(300, 'x'));
    ASSERT_EQ(2 + 2 + 300, s.GetSize());
    EXPECT_EQ(0x2C, s.Memory()[2]);  // 300 = 0x012C, little-endian
    EXPECT_EQ(0x01, s.Memory()[3]);
    s.SetPosition(0);
    EXPECT_EQ("", ReadShortString(s));
    EXPECT_EQ(std::string(300, 'x'), ReadShortString(s));
    // A length that runs past the end of the stream is a read error.
    s.SetPosition(2);
    s.SetSize(100);
    EXPECT_THROW(ReadShortString(s), EReadError);
}

TEST(WholeFile, BoundRefusesCutsAndMissingRaises)
{
    const std::string name = testing::TempDir() + "wholefile_bound.txt";
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer("0123456789", 10);
    }
    std::string text = "stale";
    EXPECT_TRUE(ReadWholeFile(name, 10, text));  // exactly at the bound
    EXPECT_EQ("0123456789", text);
    std::vector<uint8_t> bytes = {1, 2, 3};
    EXPECT_FALSE(ReadWholeFile(name, 9, bytes));  // one byte over: refused, nothing kept
    EXPECT_TRUE(bytes.empty());
    ReadFileStart(name, 4, text);
    EXPECT_EQ("0123", text);
    ReadFileStart(name, 100, text);
    EXPECT_EQ("0123456789", text);
    std::remove(name.c_str());
    EXPECT_THROW(ReadWholeFile(name, 100, text), EStreamError);
}

TEST(StringTable, JoinAndSplitRoundTrip)
{
    const std::vector<std::string> lines = {"Setup", "", "Product", ""};
    EXPECT_EQ("Setup\r\n\r\nProduct\r\n", JoinStringTable(lines));
    // A final line break adds no line, so a trailing empty line does not come back.
    EXPECT_EQ((std::vector<std::string>{"Setup", "", "Product"}), SplitStringTable(JoinStringTable(lines)));
    EXPECT_EQ((std::vector<std::string>{"a", "", "b", "c"}), SplitStringTable("a\r\n\r\nb\nc"));
    EXPECT_EQ((std::vector<std::string>{"a", "b", ""}), SplitStringTable("a\rb\n\r\n"));
    EXPECT_TRUE(SplitStringTable("").empty());
}
