// The INI object over the profile functions, and the helpers that replace a
// whole section and flush the system's cache of a file.
#include "w32_utils_fixture.h"

#include "ovUtils.h"

#include <memory>

namespace {

class Ini : public UtilsFixture {
protected:
    // Writes the file, then makes the profile functions forget any cached copy.
    void Put(const std::string& name, const std::string& text)
    {
        WriteBytes(Path(name), text);
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, Path(name).c_str());
    }
};

}  // namespace

// Names compare without case; blanks and one pair of quotes around a value go.
TEST_F(Ini, ReadStringRules)
{
    Put("a.ini", "[Main]\r\n  Name  =  some value  \r\nQuoted=\"  in quotes \"\r\nSingle='x'\r\nEmpty=\r\n");
    TIniFile ini(Path("a.ini"));
    EXPECT_EQ(Path("a.ini"), ini.FileName());
    EXPECT_EQ("some value", ini.ReadString("main", "NAME", "def"));
    EXPECT_EQ("  in quotes ", ini.ReadString("Main", "Quoted", "def"));
    EXPECT_EQ("x", ini.ReadString("Main", "Single", "def"));
    EXPECT_EQ("", ini.ReadString("Main", "Empty", "def"));
    EXPECT_EQ("def", ini.ReadString("Main", "Missing", "def"));
    EXPECT_EQ("def", ini.ReadString("Other", "Name", "def"));
    EXPECT_EQ("def", TIniFile(Path("none.ini")).ReadString("Main", "Name", "def"));
}

// A value reads at most 2,047 characters.
TEST_F(Ini, ReadStringBufferLimit)
{
    Put("long.ini", "[S]\r\nv=" + std::string(3000, 'k') + "\r\nw=" + std::string(2047, 'm') + "\r\n");
    TIniFile ini(Path("long.ini"));
    EXPECT_EQ(std::string(2047, 'k'), ini.ReadString("S", "v", ""));
    EXPECT_EQ(std::string(2047, 'm'), ini.ReadString("S", "w", ""));
}

TEST_F(Ini, ReadIntegerAndBool)
{
    Put("n.ini",
        "[N]\r\ndec=12\r\nneg=-5\r\nhex=0x1F\r\nHEX=0XfF\r\nall=0xFFFFFFFF\r\nbad=abc\r\nmixed=12abc\r\nbare=0x\r\n"
        "big=99999999999\r\nzero=0\r\nseven=7\r\nempty=\r\n");
    TIniFile ini(Path("n.ini"));
    struct Row {
        const char* name;
        int32_t expected;
    } rows[] = {
        {"dec", 12},    {"neg", -5},     {"hex", 0x1F},  {"HEX", 0x1F},  // names without case: the first entry
        {"all", -1},    {"bad", 99},     {"mixed", 99},  {"bare", 99},
        {"big", 99},    {"zero", 0},     {"missing", 99}, {"empty", 99},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(rows[i].expected, ini.ReadInteger("N", rows[i].name, 99)) << "row " << i;
    EXPECT_FALSE(ini.ReadBool("N", "zero", true));
    EXPECT_TRUE(ini.ReadBool("N", "seven", false));
    EXPECT_TRUE(ini.ReadBool("N", "missing", true));
    EXPECT_FALSE(ini.ReadBool("N", "missing", false));
    EXPECT_TRUE(ini.ReadBool("N", "bad", true));
}

// By name: every entry. By name and value: empty values dropped, a repeated
// name once, where it first occurs, with its first value.
TEST_F(Ini, ReadSectionAndValues)
{
    Put("s.ini",
        "[Other]\r\nx=1\r\n[Reg]\r\nkey1=v1\r\nnoval=\r\nkey2 = v2\r\nKEY1=second\r\nkey3=v3\r\nkey2=third\r\n"
        "[Tail]\r\ny=2\r\n");
    TIniFile ini(Path("s.ini"));
    std::vector<std::string> names = ini.ReadSection("reg");
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ("key1", names[0]);
    EXPECT_EQ("noval", names[1]);
    auto values = ini.ReadSectionValues("Reg");
    std::vector<std::pair<std::string, std::string>> expected = {{"key1", "v1"}, {"key2", "v2"}, {"key3", "v3"}};
    EXPECT_EQ(expected, values);
    EXPECT_TRUE(ini.ReadSection("Absent").empty());
    EXPECT_TRUE(ini.ReadSectionValues("Absent").empty());
    EXPECT_EQ((std::vector<std::string>{"Other", "Reg", "Tail"}), ini.ReadSections());
}

TEST_F(Ini, WriteAndFlush)
{
    auto ini = std::make_unique<TIniFile>(Path("w.ini"));
    ini->WriteString("Sec", "Name", "Value");
    ini->WriteInteger("Sec", "Count", -3);
    EXPECT_EQ("Value", ini->ReadString("Sec", "Name", ""));
    EXPECT_EQ(-3, ini->ReadInteger("Sec", "Count", 0));
    FlushIniFile(ini);
    EXPECT_EQ(nullptr, ini);
    std::string text = ReadBytes(Path("w.ini"));
    EXPECT_NE(std::string::npos, text.find("[Sec]")) << text;
    EXPECT_NE(std::string::npos, text.find("Name=Value")) << text;
    FlushIniFile(ini);  // nothing held: nothing happens

    TIniFile again(Path("w.ini"));
    again.DeleteKey("Sec", "Name");
    EXPECT_EQ("gone", again.ReadString("Sec", "Name", "gone"));
    again.EraseSection("Sec");
    EXPECT_TRUE(again.ReadSection("Sec").empty());
}

// A write the system refuses names the file.
TEST_F(Ini, WriteFailureNamesTheFile)
{
    // A folder of that name stands where the file should be.
    ASSERT_TRUE(CreateDirectoryA(Path("dir.ini").c_str(), nullptr));
    TIniFile ini(Path("dir.ini"));
    try {
        ini.WriteString("S", "n", "v");
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, Path("dir.ini").c_str());
        ADD_FAILURE() << "no exception; the system accepted the write";
    } catch (const EIniFileException& e) {
        EXPECT_EQ("Unable to write to " + Path("dir.ini"), e.message());
    }
}

// The section moves to the end with exactly the given lines; the rest of the
// file stays as it was.
TEST_F(Ini, ReplaceIniSectionCases)
{
    struct Row {
        const char* before;
        const char* after;
    } rows[] = {
        // in the middle
        {"[A]\r\na=1\r\n[Files]\r\nold1\r\nold2\r\n[B]\r\nb=2\r\n",
         "[A]\r\na=1\r\n[B]\r\nb=2\r\n[Files]\r\nC:\\x.dll\r\nplain line\r\n"},
        // the last section, up to the end of the file
        {"[A]\r\na=1\r\n[Files]\r\nold1\r\n\r\nold2\r\n", "[A]\r\na=1\r\n[Files]\r\nC:\\x.dll\r\nplain line\r\n"},
        // absent: appended, the rest untouched
        {"[A]\r\na=1\r\n", "[A]\r\na=1\r\n[Files]\r\nC:\\x.dll\r\nplain line\r\n"},
        // header in other letter case; LF-only lines
        {"[files]\nold\n[B]\nb=2\n", "[B]\r\nb=2\r\n[Files]\r\nC:\\x.dll\r\nplain line\r\n"},
        // a header with a blank in front is not the section
        {" [Files]\r\nx\r\n", " [Files]\r\nx\r\n[Files]\r\nC:\\x.dll\r\nplain line\r\n"},
        // empty file
        {"", "[Files]\r\nC:\\x.dll\r\nplain line\r\n"},
    };
    const std::vector<std::string> lines = {"C:\\x.dll", "plain line"};
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        WriteBytes(Path("r.ini"), rows[i].before);
        ReplaceIniSection(Path("r.ini"), "Files", lines);
        EXPECT_EQ(rows[i].after, ReadBytes(Path("r.ini"))) << "row " << i;
    }
}

TEST_F(Ini, ReplaceIniSectionMissingFileAndNoLines)
{
    ReplaceIniSection(Path("new.ini"), "Folders", {});
    EXPECT_EQ("[Folders]\r\n", ReadBytes(Path("new.ini")));
    EXPECT_THROW(ReplaceIniSection(Path("nofolder\\x.ini"), "S", {"a"}), EFCreateError);
}

// Entries written through the object reach the file once flushed, so that
// ReplaceIniSection sees them.
TEST_F(Ini, FlushThenReplace)
{
    auto ini = std::make_unique<TIniFile>(Path("u.ini"));
    ini->WriteString("General", "Product", "Demo");
    FlushIniFile(ini);
    ReplaceIniSection(Path("u.ini"), "Files", {"C:\\a.txt", "Key=Value"});
    EXPECT_EQ("[General]\r\nProduct=Demo\r\n[Files]\r\nC:\\a.txt\r\nKey=Value\r\n", ReadBytes(Path("u.ini")));
    TIniFile check(Path("u.ini"));
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, Path("u.ini").c_str());
    EXPECT_EQ("Demo", check.ReadString("General", "Product", ""));
    EXPECT_EQ("Value", check.ReadString("Files", "Key", ""));
}
