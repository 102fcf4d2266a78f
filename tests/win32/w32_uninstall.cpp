// The uninstall record file and the product's registration, against Wine's
// real registry and profile functions.
#include <gtest/gtest.h>

#include "w32_helpers.h"
#include <windows.h>

#include "ovRegistry.h"
#include "ovUninstInt.h"
#include "ovUtils.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The file's lines without the empty ones.
std::vector<std::string> RecordLines(const std::string& path)
{
    std::vector<std::string> lines;
    for (const auto& line : SplitLines(ReadFileText(path)))
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::string Quoted(const std::string& path)
{
    return path.find(' ') != std::string::npos ? "\"" + path + "\" " : path + " ";
}

class UninstallRecord : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::string pid = std::to_string(GetCurrentProcessId());
        Folder = GetTempDir() + "sxuninst-" + pid + "-" + name;
        // Wine gives out the same process ids run after run: what a failed
        // earlier run left under this name goes first.
        DeleteTree(Folder);
        CreateDirectoryA(Folder.c_str(), nullptr);
        Product = "SxUninstTest " + pid + " " + name;
        ProductKey = std::string(UninstallKeyPath) + Product;
        Info.ProgramName = Product;

        TRegistryEx reg(KEY_READ);
        reg.RootKey = HKEY_LOCAL_MACHINE;
        ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\Microsoft\\Windows\\CurrentVersion"));
        Uninstaller = reg.ReadString("CommonFilesDir") + "\\Orvale Systems\\ovUninst.exe";
    }
    void TearDown() override
    {
        TRegistry reg;
        reg.RootKey = HKEY_LOCAL_MACHINE;
        reg.DeleteKey(ProductKey);
        if (reg.OpenKey(UninstallIconsKey, false)) {
            reg.DeleteValue(Product);
            reg.CloseKey();
        }
        for (const auto& file : Created) {
            WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());
            DeleteFileA(file.c_str());
        }
        // Everything a test made in its folder, also after a failure half way.
        DeleteTree(Folder);
    }
    std::string RecordFile(const std::string& name)
    {
        Created.push_back(Folder + "\\" + name);
        return Created.back();
    }
    // A value of the product's key: its text, "<missing>", or the DWORD as decimal text.
    std::string Value(const std::string& key, const std::string& name)
    {
        HKEY handle = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
            return "<no key>";
        char buffer[2048] = {};
        DWORD size = sizeof(buffer) - 1, type = 0;
        LONG rc = RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(handle);
        if (rc != ERROR_SUCCESS)
            return "<missing>";
        if (type == REG_DWORD)
            return std::to_string(*reinterpret_cast<DWORD*>(buffer));
        return type == REG_SZ ? std::string(buffer) : "<type " + std::to_string(type) + ">";
    }

    std::string Folder, Product, ProductKey, Uninstaller;
    std::vector<std::string> Created;
    TUninstallINF Info;
};

}  // namespace

// The record's sections in their order, and every registry value of the
// product, with the paths quoted because they hold spaces.
TEST_F(UninstallRecord, WritesRecordAndRegistration)
{
    std::string record = RecordFile("My Product.del");
    Info.AfterUninstall = "C:\\Tools\\after.exe";
    Info.AfterUninstallParamString = "-x \"C:\\some path\"";
    Info.IconFile = "C:\\Target\\app.ico";
    Info.Files = {"C:\\Target\\a.txt", "C:\\Target\\Sub\\b.txt"};
    Info.Folders = {"C:\\Target", "C:\\Target\\Sub"};
    Info.RegistryKeys = {"HKEY_CURRENT_USER\\Software\\A\\B", "HKEY_CURRENT_USER\\Software\\A"};
    Info.RegistryValues = {"HKEY_CURRENT_USER\\Software\\C=Size", "HKEY_LOCAL_MACHINE\\Software\\D="};
    Info.InstallLocation = "C:\\Target";
    Info.EstimatedBytes = 1025;
    Info.WriteUninstallInfo(record);

    EXPECT_EQ("HKEY_LOCAL_MACHINE\\" + ProductKey, Info.UninstallKey);
    std::vector<std::string> expected = {
        "[Files]",
        "C:\\Target\\a.txt",
        "C:\\Target\\Sub\\b.txt",
        "[Folders]",
        "C:\\Target",
        "C:\\Target\\Sub",
        "[General]",
        "ProgramName=" + Product,
        "AfterUninstall=C:\\Tools\\after.exe",
        "AfterUninstallParamString=-x \"C:\\some path\"",
        "[Registry]",
        "HKEY_CURRENT_USER\\Software\\A\\B=*",
        "HKEY_CURRENT_USER\\Software\\A=*",
        "HKEY_CURRENT_USER\\Software\\C=Size",
        "HKEY_LOCAL_MACHINE\\Software\\D=",
        "[UninstallKey]",
        "HKEY_LOCAL_MACHINE\\" + ProductKey + "=*",
    };
    EXPECT_EQ(expected, RecordLines(record));

    std::string u = Quoted(Uninstaller), r = Quoted(record);
    ASSERT_NE(std::string::npos, u.find('"')) << "the uninstaller's folder holds a space under Wine";
    EXPECT_EQ(Product, Value(ProductKey, "DisplayName"));
    EXPECT_EQ(u + " " + r, Value(ProductKey, "UninstallString"));
    EXPECT_EQ(u + " /silent " + r, Value(ProductKey, "SilentUninstall"));
    EXPECT_EQ(u + " /silent " + r, Value(ProductKey, "QuietUninstallString"));
    EXPECT_EQ("C:\\Target", Value(ProductKey, "InstallLocation"));
    EXPECT_EQ("C:\\Target\\app.ico", Value(ProductKey, "DisplayIcon"));
    EXPECT_EQ("2", Value(ProductKey, "EstimatedSize"));
    EXPECT_EQ("1", Value(ProductKey, "NoModify"));
    EXPECT_EQ("1", Value(ProductKey, "NoRepair"));
    EXPECT_EQ("C:\\Target\\app.ico", Value(UninstallIconsKey, Product));
}

// Nothing recorded: no "Files" and no "Folders"; a record path without a
// space is not quoted; an empty icon leaves the icon key without a value.
TEST_F(UninstallRecord, MinimalRecord)
{
    std::string record = RecordFile("plain.del");
    ASSERT_EQ(std::string::npos, record.find(' '));
    Info.WriteUninstallInfo(record);
    std::vector<std::string> expected = {
        "[General]",
        "ProgramName=" + Product,
        "AfterUninstall=",
        "AfterUninstallParamString=",
        "[UninstallKey]",
        "HKEY_LOCAL_MACHINE\\" + ProductKey + "=*",
    };
    EXPECT_EQ(expected, RecordLines(record));
    EXPECT_EQ(Quoted(Uninstaller) + " " + record + " ", Value(ProductKey, "UninstallString"));
    EXPECT_EQ("<missing>", Value(ProductKey, "DisplayIcon"));
    EXPECT_EQ("<missing>", Value(ProductKey, "InstallLocation"));
    EXPECT_EQ("0", Value(ProductKey, "EstimatedSize"));
    EXPECT_EQ("<missing>", Value(UninstallIconsKey, Product));
    EXPECT_NE("<no key>", Value(UninstallIconsKey, Product));
}

// One entry per key path in "Registry": a value recorded under a recorded
// key replaces its "*", and the first value name recorded for a path stands.
// DisplayIcon is a path for the list of programs: its folder macros are
// resolved, while the icon value under "Uninstall Icons" keeps the text as given.
TEST_F(UninstallRecord, DisplayIconExpandsFolderMacros)
{
    Info.IconFile = "<WindowsDir>\\app.ico";
    Info.WriteUninstallInfo(RecordFile("icon.del"));
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_EQ(std::string(windows) + "\\app.ico", Value(ProductKey, "DisplayIcon"));
    EXPECT_EQ("<WindowsDir>\\app.ico", Value(UninstallIconsKey, Product));
}

TEST_F(UninstallRecord, RegistryEntriesOverwrite)
{
    std::string record = RecordFile("overwrite.del");
    Info.RegistryKeys = {"HKEY_CURRENT_USER\\Software\\X", "HKEY_CURRENT_USER\\Software\\Z"};
    Info.RegistryValues = {"HKEY_CURRENT_USER\\Software\\X=V1", "HKEY_CURRENT_USER\\Software\\Y=W",
                           "HKEY_CURRENT_USER\\Software\\X=V2"};
    Info.WriteUninstallInfo(record);
    auto lines = RecordLines(record);
    auto begin = std::find(lines.begin(), lines.end(), "[Registry]");
    ASSERT_NE(lines.end(), begin);
    std::vector<std::string> registry(begin + 1, begin + 4);
    EXPECT_EQ((std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\X=V1", "HKEY_CURRENT_USER\\Software\\Z=*",
                                        "HKEY_CURRENT_USER\\Software\\Y=W"}),
              registry);
    EXPECT_EQ("[UninstallKey]", *(begin + 4));
}

// Value entries under one key path in another letter case are one INI entry:
// the value name recorded first for that path stands.
TEST_F(UninstallRecord, FirstValueNameStandsWhateverTheCase)
{
    std::string record = RecordFile("case.del");
    Info.RegistryValues = {"HKEY_CURRENT_USER\\Software\\Sx=First", "HKEY_CURRENT_USER\\software\\SX=Second"};
    Info.WriteUninstallInfo(record);
    auto lines = RecordLines(record);
    auto begin = std::find(lines.begin(), lines.end(), "[Registry]");
    ASSERT_NE(lines.end(), begin);
    ASSERT_NE(lines.end(), begin + 1);
    EXPECT_EQ("HKEY_CURRENT_USER\\Software\\Sx=First", *(begin + 1));
    EXPECT_EQ("[UninstallKey]", *(begin + 2));
}

// A product key the system refuses to create fails as its first write does,
// with the registry's own text.
TEST_F(UninstallRecord, RefusedKeyFailsAsItsFirstWrite)
{
    Info.ProgramName = std::string(300, 'k');
    std::string message = "<no exception>";
    try {
        Info.RegisterUninstall(RecordFile("refused.del"));
    } catch (const ERegistryException& e) {
        message = e.message();
    }
    EXPECT_EQ("Failed to set data for 'DisplayName'", message);
}

// An icon key the system refuses (a non-volatile key cannot be made below a
// volatile one): without an icon there is nothing to write and no failure;
// with one, the icon's write fails with the registry's own text.
TEST_F(UninstallRecord, RefusedIconKeyFailsOnlyWithAnIcon)
{
    const char* maker = "Software\\Orvale Systems";
    // Earlier runs leave the two keys empty; they are made again on demand.
    auto isEmpty = [](const std::string& path, DWORD subKeysAllowed) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return true;
        DWORD subKeys = 0, values = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
        return subKeys <= subKeysAllowed && values == 0;
    };
    if (!isEmpty(UninstallIconsKey, 0) || !isEmpty(maker, 1))
        GTEST_SKIP() << "the maker's keys hold data";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallIconsKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, maker);
    HKEY volatileKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, maker, 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr));
    RegCloseKey(volatileKey);
    std::string record = RecordFile("noicon.del");
    std::string first = "<no exception>", second = "<no exception>";
    try {
        Info.RegisterUninstall(record);
    } catch (const ERegistryException& e) {
        first = e.message();
    }
    Info.IconFile = "C:\\app.ico";
    try {
        Info.RegisterUninstall(record);
    } catch (const ERegistryException& e) {
        second = e.message();
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, maker);
    EXPECT_EQ("<no exception>", first);
    EXPECT_EQ("Failed to set data for '" + Product + "'", second);
    EXPECT_EQ(Product, Value(ProductKey, "DisplayName"));
}

// Writing twice into one file: "Files" is replaced, "Folders" keeps the first
// run's folders ahead of the second's (a reinstall finds them existing and
// would otherwise leave them behind); both move to the end. "Registry"
// entries of the first run under other names remain.
TEST_F(UninstallRecord, SecondWriteReplacesLists)
{
    std::string record = RecordFile("twice.del");
    Info.Files = {"C:\\old.txt"};
    Info.Folders = {"C:\\OldFolder"};
    Info.RegistryKeys = {"HKEY_CURRENT_USER\\Software\\First"};
    Info.WriteUninstallInfo(record);

    TUninstallINF second;
    second.ProgramName = Product;
    second.Files = {"C:\\new.txt"};
    second.Folders = {"C:\\NewFolder"};
    second.RegistryKeys = {"HKEY_CURRENT_USER\\Software\\Second"};
    second.WriteUninstallInfo(record);
    std::vector<std::string> expected = {
        "[General]",
        "ProgramName=" + Product,
        "AfterUninstall=",
        "AfterUninstallParamString=",
        "[Registry]",
        "HKEY_CURRENT_USER\\Software\\First=*",
        "HKEY_CURRENT_USER\\Software\\Second=*",
        "[UninstallKey]",
        "HKEY_LOCAL_MACHINE\\" + ProductKey + "=*",
        "[Files]",
        "C:\\new.txt",
        "[Folders]",
        "C:\\OldFolder",
        "C:\\NewFolder",
    };
    EXPECT_EQ(expected, RecordLines(record));
}

// Without a product name nothing is registered and the record has no
// uninstall key entry.
TEST_F(UninstallRecord, EmptyProgramNameRegistersNothing)
{
    std::string record = RecordFile("noname.del");
    Info.ProgramName.clear();
    Info.RegisterUninstall(record);
    EXPECT_TRUE(Info.UninstallKey.empty());
    Info.WriteUninstallInfo(record);
    EXPECT_EQ((std::vector<std::string>{"[General]", "ProgramName=", "AfterUninstall=", "AfterUninstallParamString="}),
              RecordLines(record));
}

// The removal command of an earlier installation: SilentUninstall when
// registered, else UninstallString, else nothing.
TEST_F(UninstallRecord, UninstallCommandPrefersSilent)
{
    EXPECT_EQ("", Info.GetUninstallCommand(Product));
    EXPECT_EQ("", Info.GetUninstallCommand(""));
    TRegistry reg;
    reg.RootKey = HKEY_LOCAL_MACHINE;
    ASSERT_TRUE(reg.OpenKey(ProductKey, true));
    EXPECT_EQ("", Info.GetUninstallCommand(Product));
    reg.WriteString("UninstallString", "remove.exe x.del ");
    EXPECT_EQ("remove.exe x.del ", Info.GetUninstallCommand(Product));
    reg.WriteString("SilentUninstall", "remove.exe /silent x.del ");
    reg.CloseKey();
    EXPECT_EQ("remove.exe /silent x.del ", Info.GetUninstallCommand(Product));
    // What the registration writes is found again.
    std::string record = RecordFile("found.del");
    Info.RegisterUninstall(record);
    EXPECT_EQ(Quoted(Uninstaller) + " /silent " + record + " ", Info.GetUninstallCommand(Product));
}

// What the registration and record say, the uninstaller does: the registered
// silent command line (with the built uninstaller in place of the installed
// one) removes files, folders, keys, values and the registration.
TEST_F(UninstallRecord, RegisteredCommandRunsUninstaller)
{
    char buffer[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
    std::string exe(buffer, n);
    std::string tests = exe.substr(0, exe.find_last_of('\\'));
    std::string uninstaller = tests.substr(0, tests.find_last_of('\\')) + "\\tools\\ovUninst.exe";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(uninstaller.c_str())) << uninstaller;

    std::string app = Folder + "\\App", sub = app + "\\Sub";
    ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    SaveStringToFile("a", app + "\\a.txt");
    SaveStringToFile("b", sub + "\\b.txt");
    // A read-only (and hidden) file is removed as well.
    ASSERT_TRUE(SetFileAttributesA((sub + "\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    std::string pid = std::to_string(GetCurrentProcessId());
    std::string keys = "Software\\SxRoundTrip-" + pid, vals = "Software\\SxRoundTripVals-" + pid;
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(keys + "\\Deep", true));
        reg.WriteString("V", "1");
        reg.CloseKey();
        ASSERT_TRUE(reg.OpenKey(vals, true));
        reg.WriteString("A", "1");
        reg.WriteString("B", "2");
        reg.CloseKey();
    }
    Info.Files = {app + "\\a.txt", sub + "\\b.txt", app + "\\never-installed.txt"};
    Info.Folders = {app, sub};
    Info.RegistryKeys = {"HKEY_CURRENT_USER\\" + keys};
    Info.RegistryValues = {"HKEY_CURRENT_USER\\" + vals + "=A"};
    Info.IconFile = "C:\\icon.ico";
    std::string record = app + "\\My Product.del";
    Info.WriteUninstallInfo(record);

    std::string command = Value(ProductKey, "SilentUninstall");
    std::string registered = Quoted(Uninstaller);
    ASSERT_EQ(0u, command.find(registered)) << command;
    command = Quoted(uninstaller) + command.substr(registered.size());
    EXPECT_EQ(Quoted(uninstaller) + " /silent " + Quoted(record), command);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(0u, code);

    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(app.c_str()));
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists(keys));
    ASSERT_TRUE(reg.OpenKey(vals, false));
    EXPECT_FALSE(reg.ValueExists("A"));
    EXPECT_TRUE(reg.ValueExists("B"));
    reg.CloseKey();
    reg.DeleteKey(vals);
    EXPECT_EQ("<no key>", Value(ProductKey, "DisplayName"));
    // The icon's value is gone; the key with it when no other product's icon
    // is left in it.
    const std::string icon = Value(UninstallIconsKey, Product);
    EXPECT_TRUE(icon == "<missing>" || icon == "<no key>") << icon;
}

// The version values are written when known and left out when not; the
// shared uninstaller is counted once per product under SharedDLLs, and the
// product's key remembers what it counted.
TEST_F(UninstallRecord, EntryValuesAndTheSharedCount)
{
    // A path of this test only: the real uninstaller's count is not touched.
    const std::string shared = Folder + "\\Shared\\ovUninst.exe";
    const std::string sharedKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
    std::string record = RecordFile("entry.del");
    Info.DisplayVersion = "2.5.1";
    Info.Publisher = "SX Test Maker";
    Info.SharedUninstaller = shared;
    Info.RegisterUninstall(record);
    EXPECT_EQ("2.5.1", Value(ProductKey, "DisplayVersion"));
    EXPECT_EQ("SX Test Maker", Value(ProductKey, "Publisher"));
    EXPECT_EQ("<missing>", Value(ProductKey, "URLInfoAbout"));
    EXPECT_EQ(shared, Value(ProductKey, "SharedUninstaller"));
    EXPECT_EQ("1", Value(sharedKey, shared));

    Info.RegisterUninstall(record);  // the same product again
    EXPECT_EQ("1", Value(sharedKey, shared));

    TUninstallINF other;
    other.ProgramName = Product + " other";
    other.SharedUninstaller = shared;
    other.RegisterUninstall(record);
    EXPECT_EQ("2", Value(sharedKey, shared));
    EXPECT_EQ("<missing>", Value(std::string(UninstallKeyPath) + other.ProgramName, "DisplayVersion"));

    TRegistry reg;
    reg.RootKey = HKEY_LOCAL_MACHINE;
    reg.DeleteKey(std::string(UninstallKeyPath) + other.ProgramName);
    if (reg.OpenKey(sharedKey, false)) {
        reg.DeleteValue(shared);
        reg.CloseKey();
    }
}
