// The setup script interpreter against Wine's real registry, files, shell
// links and a sample COM server (examples/samples/comserver).
#include <gtest/gtest.h>

#include "w32_helpers.h"
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "ovClass.h"
#include "ovINFFiles.h"
#include "ovRegistry.h"
#include "ovUtils.h"

#include <string>
#include <vector>

namespace {

bool FileExistsA(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ProgramsFolder()
{
    char path[MAX_PATH + 1] = {};
    SHGetSpecialFolderPathA(nullptr, path, CSIDL_PROGRAMS, FALSE);
    return path;
}

class SetupScript : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::string pid = std::to_string(GetCurrentProcessId());
        Folder = GetTempDir() + "sxscript-" + pid + "-" + name;
        DeleteTree(Folder);
        ASSERT_TRUE(CreateDirectoryA(Folder.c_str(), nullptr));
        Key = "Software\\SxScriptTest-" + pid + "-" + name;
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, Key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        RegCloseKey(key);
        Script.Uninstall = &Record;
    }
    void TearDown() override
    {
        TRegistry reg;
        reg.DeleteKey(Key);
        DeleteTree(Folder);
        for (const auto& folder : ExtraFolders)
            DeleteTree(folder);
    }
    // Writes the lines as a script file and runs it.
    bool Run(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const auto& line : lines)
            text += line + "\r\n";
        std::string path = Folder + "\\script" + std::to_string(++Runs) + ".inf";
        if (!WriteFileText(path, text)) {
            ADD_FAILURE() << "cannot write " << path;
            return false;
        }
        return Script.Execute(path);
    }
    bool HasKey(const std::string& sub)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, (Key + sub).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    // The raw value: type and bytes; false when missing.
    bool Query(const std::string& sub, const std::string& name, DWORD& type, std::string& data)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, (Key + sub).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        char buffer[4096];
        DWORD size = sizeof(buffer);
        LONG rc = RegQueryValueExA(key, name.empty() ? nullptr : name.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS)
            return false;
        data.assign(buffer, size);
        return true;
    }
    std::string String(const std::string& sub, const std::string& name)
    {
        DWORD type = 0;
        std::string data;
        if (!Query(sub, name, type, data) || type != REG_SZ)
            return "<missing>";
        return std::string(data.c_str());
    }

    std::string Folder, Key;
    TUninstallINF Record;
    TSetupInfFile Script;
    std::vector<std::string> ExtraFolders;
    int Runs = 0;
};

}  // namespace

// The integer syntax of DWORD data: decimal, "$", "x", "0x" forms, signs and limits.
TEST(ScriptSyntax, StrToIntForms)
{
    const struct {
        const char* Text;
        int32_t Value;
    } good[] = {
        {"16", 16},         {"$10", 16},          {"0x10", 16},        {"0X1f", 31},
        {"x10", 16},        {"X10", 16},          {"  7", 7},          {"-16", -16},
        {"+16", 16},        {"-$10", -16},        {"$FFFFFFFF", -1},   {"2147483647", 2147483647},
        {"-2147483648", static_cast<int32_t>(0x80000000u)},            {"0", 0},
    };
    for (size_t i = 0; i < sizeof(good) / sizeof(good[0]); ++i)
        EXPECT_EQ(good[i].Value, TSetupInfFile::StrToInt(good[i].Text)) << "row " << i;
    const char* bad[] = {"", "$", "0x", "12a", "2147483648", "$100000000", "1 ", "- 1", "1.5"};
    for (size_t i = 0; i < sizeof(bad) / sizeof(bad[0]); ++i)
        EXPECT_THROW(TSetupInfFile::StrToInt(bad[i]), EConvertError) << "row " << i;
    try {
        TSetupInfFile::StrToInt("12a");
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ("'12a' is not a valid integer value", e.message());
    }
}

// HEX data: separators, quotes, low bytes of large items, empty list, bad items.
TEST(ScriptSyntax, HexData)
{
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0xAB, 0xFF}), TSetupInfFile::ParseHexData("01,ab,FF"));
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x02, 0x03}), TSetupInfFile::ParseHexData("01 02, 03"));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x00, 0x34}), TSetupInfFile::ParseHexData("1FF,100,\"1234\""));
    EXPECT_EQ((std::vector<uint8_t>{0x05}), TSetupInfFile::ParseHexData("5,"));
    EXPECT_TRUE(TSetupInfFile::ParseHexData("").empty());
    try {
        TSetupInfFile::ParseHexData("01,G1");
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ("'$G1' is not a valid integer value", e.message());
    }
    // An empty place between commas and a prefixed item are not numbers.
    EXPECT_THROW(TSetupInfFile::ParseHexData("01,,02"), EConvertError);
    EXPECT_THROW(TSetupInfFile::ParseHexData("0x10"), EConvertError);
    EXPECT_THROW(TSetupInfFile::ParseHexData("-1"), EConvertError);
}

// The line parser: markers only at position 1 and in lower case, the split at
// the first ":" and "=", the type prefixes, trimming, and the lines that fail.
TEST(ScriptSyntax, ParseRegistryLine)
{
    TRegistryLine line;
    ASSERT_TRUE(TSetupInfFile::ParseRegistryLine("-(uk) Soft\\A : Size =DWORD: 5 ", line));
    EXPECT_EQ(TRegistryLine::rrKey, line.Record);
    EXPECT_EQ(TRegistryLine::raWrite, line.Action);
    EXPECT_EQ("Soft\\A", line.KeyPath);
    EXPECT_EQ("Size", line.ValueName);
    EXPECT_EQ(TRegistryLine::rdInteger, line.DataType);
    EXPECT_EQ("5", line.Value);

    ASSERT_TRUE(TSetupInfFile::ParseRegistryLine("-(dv)Soft\\A:V=x", line));
    EXPECT_EQ(TRegistryLine::raDeleteValue, line.Action);
    ASSERT_TRUE(TSetupInfFile::ParseRegistryLine("-(dk)Soft\\A=x", line));
    EXPECT_EQ(TRegistryLine::raDeleteKey, line.Action);
    ASSERT_TRUE(TSetupInfFile::ParseRegistryLine("-(uv)Soft\\A:V=hex:01", line));
    EXPECT_EQ(TRegistryLine::rrValue, line.Record);
    EXPECT_EQ(TRegistryLine::rdBinary, line.DataType);

    // Other letter case or another place: part of the key path.
    ASSERT_TRUE(TSetupInfFile::ParseRegistryLine("-(DK)Soft\\A=x", line));
    EXPECT_EQ(TRegistryLine::raWrite, line.Action);
    EXPECT_EQ("-(DK)Soft\\A", line.KeyPath);
    ASSERT_TRUE(TSetupInfFile::ParseRegistryLine("Soft\\-(dk)A=x", line));
    EXPECT_EQ(TRegistryLine::raWrite, line.Action);
    EXPECT_EQ("Soft\\-(dk)A", line.KeyPath);

    // Default value: no ":" before the "=".
    ASSERT_TRUE(TSetupInfFile::ParseRegistryLine("Soft\\A=text", line));
    EXPECT_EQ("", line.ValueName);
    EXPECT_EQ("text", line.Value);
    EXPECT_EQ(TRegistryLine::rdString, line.DataType);
    // A ":" in default-value data splits the line there and nothing ends the name.
    EXPECT_FALSE(TSetupInfFile::ParseRegistryLine("Soft\\A=C:\\Path", line));
    ASSERT_TRUE(TSetupInfFile::ParseRegistryLine("Soft\\A:=C:\\Path", line));
    EXPECT_EQ("C:\\Path", line.Value);
    // A type prefix counts only right after the "=".
    ASSERT_TRUE(TSetupInfFile::ParseRegistryLine("Soft\\A:V=text HEX:01", line));
    EXPECT_EQ(TRegistryLine::rdString, line.DataType);

    // Trailing backslashes name the same key.
    ASSERT_TRUE(TSetupInfFile::ParseRegistryLine("-(uk)Soft\\A\\\\:V=1", line));
    EXPECT_EQ("Soft\\A", line.KeyPath);

    EXPECT_FALSE(TSetupInfFile::ParseRegistryLine("", line));
    EXPECT_FALSE(TSetupInfFile::ParseRegistryLine("Soft\\A", line));
    // A key path that names the root itself is refused, above all for -(dk).
    EXPECT_FALSE(TSetupInfFile::ParseRegistryLine("-(dk)=x", line));
    EXPECT_FALSE(TSetupInfFile::ParseRegistryLine("-(dk) \\ =x", line));
    EXPECT_FALSE(TSetupInfFile::ParseRegistryLine(":V=x", line));
}

// Every data type lands in the registry with its exact type and bytes.
TEST_F(SetupScript, WritesAllDataTypes)
{
    ASSERT_TRUE(Run({
        "[HKEY_CURRENT_USER]",
        Key + "\\Data:Text=plain text",
        Key + "\\Data:Temp=<TempDir>\\file.txt",
        Key + "\\Data:=default with C:\\colon",
        Key + "\\Data:Dec=DWORD:16",
        Key + "\\Data:Dollar=dword:$1F",
        Key + "\\Data:Hex0x=DWORD:0x20",
        Key + "\\Data:Neg=DWORD:-2",
        Key + "\\Data:Bin=HEX:01,ab 1FF,100",
        Key + "\\Data:Empty=hex:",
        Key + "\\Data:Quoted=\"  spaced  \"",
    }));
    EXPECT_EQ("plain text", String("\\Data", "Text"));
    EXPECT_EQ(GetTempDir() + "file.txt", String("\\Data", "Temp"));
    EXPECT_EQ("default with C:\\colon", String("\\Data", ""));
    // The reader drops the quotes, the parser the blanks inside them.
    EXPECT_EQ("spaced", String("\\Data", "Quoted"));

    const struct {
        const char* Name;
        uint32_t Value;
    } dwords[] = {{"Dec", 16}, {"Dollar", 31}, {"Hex0x", 32}, {"Neg", 0xFFFFFFFEu}};
    for (size_t i = 0; i < 4; ++i) {
        DWORD type = 0;
        std::string data;
        ASSERT_TRUE(Query("\\Data", dwords[i].Name, type, data)) << "row " << i;
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type) << "row " << i;
        ASSERT_EQ(4u, data.size());
        uint32_t v = static_cast<uint8_t>(data[0]) | static_cast<uint8_t>(data[1]) << 8 |
                     static_cast<uint8_t>(data[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(data[3])) << 24;
        EXPECT_EQ(dwords[i].Value, v) << "row " << i;
    }
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(Query("\\Data", "Bin", type, data));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(std::string("\x01\xab\xff\x00", 4), data);
    ASSERT_TRUE(Query("\\Data", "Empty", type, data));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(0u, data.size());
}

// A line that cannot be parsed stops its section and the rest of the script;
// lines before it stay done.
TEST_F(SetupScript, ParseFailureStopsTheRun)
{
    std::string victim = Folder + "\\keep.txt";
    ASSERT_TRUE(WriteFileText(victim, "x"));
    EXPECT_FALSE(Run({
        "[HKEY_CURRENT_USER]",
        Key + "\\P:Before=1",
        Key + "\\P=C:\\data with a colon",
        Key + "\\P:After=1",
        "[Delete Files]",
        victim + "=1",
    }));
    EXPECT_EQ("1", String("\\P", "Before"));
    EXPECT_EQ("<missing>", String("\\P", "After"));
    EXPECT_TRUE(FileExistsA(victim));
}

// Bad HEX or DWORD data raises the conversion error out of Execute, before
// the key is created.
TEST_F(SetupScript, BadNumbersRaise)
{
    EXPECT_THROW(Run({"[HKEY_CURRENT_USER]", Key + "\\N1:V=DWORD:12a"}), EConvertError);
    EXPECT_FALSE(HasKey("\\N1"));
    EXPECT_THROW(Run({"[HKEY_CURRENT_USER]", Key + "\\N2:V=HEX:01,zz"}), EConvertError);
    EXPECT_FALSE(HasKey("\\N2"));
}

// -(dk) deletes a whole subtree, -(dv) one value; an empty value drops the
// line (nothing deleted), a dummy value makes it run; missing targets are fine.
TEST_F(SetupScript, DeleteMarkers)
{
    ASSERT_TRUE(Run({
        "[HKEY_CURRENT_USER]",
        Key + "\\Tree\\Sub\\Deeper:V=1",
        Key + "\\Tree2\\Sub:V=1",
        Key + "\\Vals:A=1",
        Key + "\\Vals:B=2",
        Key + "\\Vals:C=3",
    }));
    ASSERT_TRUE(Run({
        "[HKEY_CURRENT_USER]",
        "-(dk)" + Key + "\\Tree=x",
        "-(dk)" + Key + "\\Tree2=",
        "-(dv)" + Key + "\\Vals:A=x",
        "-(dv)" + Key + "\\Vals:B=",
        "-(dk)" + Key + "\\NoSuchKey=x",
        "-(dv)" + Key + "\\Vals:NoSuchValue=x",
        "-(dv)" + Key + "\\NoSuchKey:V=x",
    }));
    EXPECT_FALSE(HasKey("\\Tree"));
    EXPECT_TRUE(HasKey("\\Tree2\\Sub"));
    EXPECT_EQ("<missing>", String("\\Vals", "A"));
    EXPECT_EQ("2", String("\\Vals", "B"));
    EXPECT_EQ("3", String("\\Vals", "C"));
    EXPECT_TRUE(Record.RegistryKeys.empty());
    EXPECT_TRUE(Record.RegistryValues.empty());
}

// A name given twice is used once, with its first value.
TEST_F(SetupScript, DuplicateNamesUseFirstValue)
{
    ASSERT_TRUE(Run({
        "[HKEY_CURRENT_USER]",
        "-(uv)" + Key + "\\Dup:V=first",
        Key + "\\Other:V=1",
        "-(uv)" + Key + "\\Dup:V=second",
    }));
    EXPECT_EQ("first", String("\\Dup", "V"));
    ASSERT_EQ(1u, Record.RegistryValues.size());
    EXPECT_EQ("HKEY_CURRENT_USER\\" + Key + "\\Dup=V", Record.RegistryValues[0]);
}

// -(uk) records the keys the line creates, deepest first, up to the first
// key that exists; on an existing key it records nothing but still writes.
// -(uv) records root, key path and value name.
TEST_F(SetupScript, RecordsKeysAndValues)
{
    ASSERT_TRUE(Run({
        "[HKEY_CURRENT_USER]",
        "-(uk)" + Key + "\\New1\\New2:V=1",
        "-(uk)" + Key + "\\New1:W=2",
        "-(uv)" + Key + "\\New1\\New2:Size=DWORD:3",
        "-(uv)" + Key + "\\New1:=default",
    }));
    std::string root = "HKEY_CURRENT_USER\\" + Key;
    EXPECT_EQ((std::vector<std::string>{root + "\\New1\\New2", root + "\\New1"}), Record.RegistryKeys);
    EXPECT_EQ((std::vector<std::string>{root + "\\New1\\New2=Size", root + "\\New1="}), Record.RegistryValues);
    EXPECT_EQ("2", String("\\New1", "W"));
    EXPECT_EQ("default", String("\\New1", ""));
}

// Without an uninstall record the script runs the same and records nothing.
TEST_F(SetupScript, RunsWithoutRecord)
{
    Script.Uninstall = nullptr;
    ASSERT_TRUE(Run({"[HKEY_CURRENT_USER]", "-(uk)" + Key + "\\R1:V=1", "-(uv)" + Key + "\\R1:W=1"}));
    EXPECT_EQ("1", String("\\R1", "W"));
    EXPECT_TRUE(Record.RegistryKeys.empty());
    EXPECT_TRUE(Record.RegistryValues.empty());
}

// A script without any known section, and an empty file, succeed; a script
// file that does not exist fails.
TEST_F(SetupScript, EmptyAndMissingScripts)
{
    EXPECT_TRUE(Run({"[Something Else]", "a=b"}));
    EXPECT_TRUE(Run({}));
    EXPECT_FALSE(Script.Execute(Folder + "\\missing.inf"));
}

// A link in a new subfolder of the programs menu: the folder is created and
// recorded, the link file is recorded, and the link holds target, arguments
// (with a ";") and icon. A name with an extension of its own gets no ".lnk".
TEST_F(SetupScript, CreatesLinksInSubfolder)
{
    std::string sub = "SxScriptTest " + std::to_string(GetCurrentProcessId());
    std::string programs = ProgramsFolder();
    ASSERT_FALSE(programs.empty());
    ExtraFolders.push_back(programs + "\\" + sub);
    std::string target = Folder + "\\app.exe";
    ASSERT_TRUE(WriteFileText(target, "MZ"));
    ASSERT_TRUE(Run({
        "[ShellLinks.Programs]",
        sub + "\\My App=" + target + " <<-a;b>> ;<TempDir>icon.ico",
        sub + "\\App 1.5=" + target,
    }));
    std::string link = programs + "\\" + sub + "\\My App.lnk";
    ASSERT_TRUE(FileExistsA(link)) << link;
    EXPECT_TRUE(FileExistsA(programs + "\\" + sub + "\\App 1.5"));
    EXPECT_FALSE(FileExistsA(programs + "\\" + sub + "\\App 1.5.lnk"));
    EXPECT_EQ((std::vector<std::string>{link, programs + "\\" + sub + "\\App 1.5"}), Record.Files);
    ASSERT_FALSE(Record.Folders.empty());
    EXPECT_EQ(programs + "\\" + sub, Record.Folders.back());

    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    IShellLinkA* shellLink = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                           reinterpret_cast<void**>(&shellLink))));
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    std::wstring wide(link.begin(), link.end());
    ASSERT_TRUE(SUCCEEDED(file->Load(wide.c_str(), STGM_READ)));
    char text[MAX_PATH * 2] = {};
    int index = -1;
    EXPECT_TRUE(SUCCEEDED(shellLink->GetPath(text, sizeof(text), nullptr, 0)));
    EXPECT_STRCASEEQ(target.c_str(), text);
    EXPECT_TRUE(SUCCEEDED(shellLink->GetArguments(text, sizeof(text))));
    EXPECT_STREQ("-a;b", text);
    EXPECT_TRUE(SUCCEEDED(shellLink->GetIconLocation(text, sizeof(text), &index)));
    EXPECT_STRCASEEQ((GetTempDir() + "icon.ico").c_str(), text);
    EXPECT_EQ(0, index);
    file->Release();
    shellLink->Release();
    CoUninitialize();
}

// A link that cannot be written fails the script after the registry
// sections; COM registration, attributes and deletions do not run.
TEST_F(SetupScript, FailedLinkStopsLaterSections)
{
    std::string victim = Folder + "\\keep.txt";
    ASSERT_TRUE(WriteFileText(victim, "x"));
    // A file where the link's folder should be: the link cannot be saved.
    char desktop[MAX_PATH + 1] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOP, TRUE));
    std::string blockName = "SxBlock-" + std::to_string(GetCurrentProcessId());
    std::string blocker = std::string(desktop) + "\\" + blockName;
    ASSERT_TRUE(WriteFileText(blocker, "x"));
    bool ok = Run({
        "[HKEY_CURRENT_USER]",
        Key + "\\L:V=1",
        "[ShellLinks.Desktop]",
        blockName + "\\Link=" + victim,
        "[Delete Files]",
        victim + "=1",
    });
    DeleteFileA(blocker.c_str());
    EXPECT_FALSE(ok);
    EXPECT_EQ("1", String("\\L", "V"));
    EXPECT_TRUE(FileExistsA(victim));
    // Nothing is recorded for a link that was not written.
    EXPECT_TRUE(Record.Files.empty());
}

// "Register ActiveX": flag 1 (or no number) registers, 0 unregisters; a
// library that is missing or whose entry point fails stops the script.
TEST_F(SetupScript, RegistersComServer)
{
    std::string server = SamplePath("comserver", "sampleServer.dll");
    ASSERT_TRUE(FileExistsA(server)) << server;
    const char* trace = "Software\\Orvale Systems\\SampleServer";
    RegDeleteKeyA(HKEY_CURRENT_USER, trace);

    ASSERT_TRUE(Run({"[Register ActiveX]", server + "=1"}));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, trace, 0, KEY_READ, &key));
    char module[MAX_PATH * 2] = {};
    DWORD size = sizeof(module);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Module", nullptr, nullptr, reinterpret_cast<BYTE*>(module), &size));
    RegCloseKey(key);
    EXPECT_STRCASEEQ(server.c_str(), module);

    ASSERT_TRUE(Run({"[Register ActiveX]", server + "=0"}));
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, trace, 0, KEY_READ, &key));

    // Not a number: register.
    ASSERT_TRUE(Run({"[Register ActiveX]", server + "=yes"}));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, trace, 0, KEY_READ, &key));
    RegCloseKey(key);
    ASSERT_TRUE(Run({"[Register ActiveX]", server + "=$0"}));
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, trace, 0, KEY_READ, &key));

    std::string victim = Folder + "\\keep.txt";
    ASSERT_TRUE(WriteFileText(victim, "x"));
    EXPECT_FALSE(Run({"[Register ActiveX]", Folder + "\\missing.dll=1", "[Delete Files]", victim + "=1"}));
    EXPECT_TRUE(FileExistsA(victim));
    SetEnvironmentVariableA("SX_SAMPLE_SERVER_FAIL", "1");
    EXPECT_FALSE(Run({"[Register ActiveX]", server + "=1"}));
    SetEnvironmentVariableA("SX_SAMPLE_SERVER_FAIL", nullptr);
    // A bare name is looked up in the system folder only: a copy of the
    // server in the current folder is not loaded.
    char current[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    ASSERT_TRUE(CopyFileA(server.c_str(), (Folder + "\\sxPlanted.dll").c_str(), FALSE));
    ASSERT_TRUE(SetCurrentDirectoryA(Folder.c_str()));
    bool planted = Run({"[Register ActiveX]", "sxPlanted.dll=1"});
    SetCurrentDirectoryA(current);
    EXPECT_FALSE(planted);
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, trace, 0, KEY_READ, &key));
    // A library without the entry point.
    EXPECT_FALSE(Run({"[Register ActiveX]", SamplePath("dialoglib", "DialogLib.dll") + "=1"}));
}

// "File Attributes" only adds the named attributes; other letters are
// ignored, missing files skipped. "Delete Files" deletes and skips what is gone.
TEST_F(SetupScript, FileAttributesAndDeletion)
{
    std::string a = Folder + "\\a.txt", b = Folder + "\\b.txt", c = Folder + "\\c.txt";
    ASSERT_TRUE(WriteFileText(a, "a"));
    ASSERT_TRUE(WriteFileText(b, "b"));
    ASSERT_TRUE(WriteFileText(c, "c"));
    SetFileAttributesA(b.c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(Run({
        "[File Attributes]",
        a + "=Hr",
        b + "=r x",
        c + "=xyz",
        Folder + "\\missing.txt=h",
        "[Delete Files]",
        c + "=",
        Folder + "\\missing.txt=1",
    }));
    DWORD attributes = GetFileAttributesA(a.c_str());
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
    attributes = GetFileAttributesA(b.c_str());
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_FALSE(FileExistsA(c));
}
