// Folder macros, strings and paths, display formatting, folders, temporary
// names, file copy and file times, the process runner: against Wine's real
// registry, folders, files and processes.
#include "w32_utils_fixture.h"

#include "ovUtils.h"
#include "w32_helpers.h"
#include "sxShell.h"
#include "sxUtils.h"

#include <cstdlib>

namespace {

std::string RawRegistryValue(const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key))
        return "<no key>";
    char value[1024] = {};
    DWORD size = sizeof(value) - 1;
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(value) : "<no value>";
}

std::string RawTempPath()  // as the system gives it, with its trailing backslash
{
    char buffer[MAX_PATH + 1];
    return std::string(buffer, GetTempPathA(sizeof(buffer), buffer));
}

std::string RawWindowsDir()
{
    char buffer[MAX_PATH + 1];
    return std::string(buffer, GetWindowsDirectoryA(buffer, sizeof(buffer)));
}

std::string RawSystemDir()
{
    char buffer[MAX_PATH + 1];
    return std::string(buffer, GetSystemDirectoryA(buffer, sizeof(buffer)));
}

std::string RawThisDir()
{
    char buffer[MAX_PATH + 1];
    std::string file(buffer, GetModuleFileNameA(nullptr, buffer, sizeof(buffer)));
    return file.substr(0, file.find_last_of('\\'));
}

std::string Env(const char* name)
{
    char buffer[64];
    DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    return n && n < sizeof(buffer) ? std::string(buffer, n) : std::string();
}

}  // namespace

// The child of the process-runner tests: this test program started again with
// a filter on this test and told through the environment what to do.
TEST(ChildProcess, Act)
{
    std::string sleepMs = Env("SX_CHILD_SLEEP");
    if (!sleepMs.empty())
        Sleep(static_cast<DWORD>(atoi(sleepMs.c_str())));
    std::string exitCode = Env("SX_CHILD_EXIT");
    if (!exitCode.empty())
        ExitProcess(static_cast<UINT>(atoi(exitCode.c_str())));
    // Not run as a child: nothing to do.
    SUCCEED();
}

// The macros resolve in their fixed order, one per pass, with doubled
// backslashes collapsed only in passes that replaced a macro.
TEST(Macros, ExpandTable)
{
    const std::string temp = RawTempPath();
    const std::string windows = RawWindowsDir();
    const std::string system = RawSystemDir();
    const std::string thisDir = RawThisDir();
    const std::string programFiles = RawRegistryValue("ProgramFilesDir");
    const std::string commonFiles = RawRegistryValue("CommonFilesDir");
    ASSERT_EQ('\\', temp.back());
    struct Row {
        std::string text, expected;
    } rows[] = {
        {"<TempDir>\\setup.log", temp + "setup.log"},
        {"<TempDir>setup.log", temp + "setup.log"},
        {"<WindowsDir>\\WININIT.INI", windows + "\\WININIT.INI"},
        {"<SystemDir>", system},
        {"<ProgramFilesDir>\\Product", programFiles + "\\Product"},
        {"<CommonFilesDir>\\Shared", commonFiles + "\\Shared"},
        {"<ThisDir>\\x.exe", thisDir + "\\x.exe"},
        // <SystemDir> comes first in the macro order, then <ThisDir>.
        {"<ThisDir>\\<SystemDir>", thisDir + "\\" + system},
        {"<WindowsDir>;<WindowsDir>", windows + ";" + windows},
        // Other letter case and other names are no macros.
        {"<windowsdir>\\x", "<windowsdir>\\x"},
        {"<PROGRAMFILESDIR>", "<PROGRAMFILESDIR>"},
        {"<Other>\\a\\\\b", "<Other>\\a\\\\b"},
        {"<Other><WindowsDir>", "<Other>" + windows},
        // The collapse takes one backslash of a network prefix.
        {"\\\\server\\share\\<WindowsDir>", "\\server\\share\\" + windows},
        {"a\\\\b", "a\\\\b"},
        {"", ""},
        {"<", "<"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(rows[i].expected, ExpandMacros(rows[i].text)) << "row " << i;
}

// The CurrentVersion values come from the registry as stored; a missing one is empty.
TEST(Macros, CurrentVersionValues)
{
    EXPECT_EQ("C:\\Program Files", GetProgramFilesDir());
    EXPECT_EQ(RawRegistryValue("CommonFilesDir"), GetCommonFilesDir());
    EXPECT_EQ("", ReadCurrentVersionValue("SxNoSuchValue"));
}

// The system folders: no trailing backslash but for the temporary folder.
TEST(Macros, SystemFolders)
{
    EXPECT_EQ(RawWindowsDir(), GetWindowsDir());
    EXPECT_EQ(RawSystemDir(), GetSystemDir());
    EXPECT_EQ(RawTempPath(), GetTempDir());
    EXPECT_EQ(RawThisDir(), GetThisDir());
    std::string file = GetThisFile();
    EXPECT_EQ(RawThisDir(), file.substr(0, file.find_last_of('\\')));
    EXPECT_TRUE(UtilsFixture::IsFolder(GetThisDir()) || GetThisDir().size() == 3);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(file.c_str()));
}

TEST(Strings, ReplaceAll)
{
    struct Row {
        const char *text, *oldText, *newText, *expected;
    } rows[] = {
        {"aaa", "a", "aa", "aaaaaa"},  // inserted text is not searched again
        {"abc", "", "x", "abc"},
        {"abab", "ab", "", ""},
        {"ABab", "ab", "x", "ABx"},  // case-sensitive
        {"a\\\\\\b", "\\\\", "\\", "a\\\\b"},
        {"xyz", "q", "r", "xyz"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(rows[i].expected, ReplaceAll(rows[i].text, rows[i].oldText, rows[i].newText)) << "row " << i;
}

// Converting the stored text first and inserting the value afterwards keeps
// a path with "\n" in it intact.
TEST(Strings, ConvertLineBreaksThenInsert)
{
    EXPECT_EQ("a\r\nb\r\n", ConvertLineBreaks("a\\nb\\n"));
    EXPECT_EQ("no breaks", ConvertLineBreaks("no breaks"));
    std::string shown = FormatText(ConvertLineBreaks("Cannot write\\n%s").c_str(), "C:\\new\\app.dll");
    EXPECT_EQ("Cannot write\r\nC:\\new\\app.dll", shown);
}

TEST(Strings, PathPieces)
{
    struct Row {
        const char *folder, *name, *joined;
    } rows[] = {
        {"", "a.txt", "a.txt"},
        {"C:\\", "a.txt", "C:\\a.txt"},
        {"C:\\x", "a.txt", "C:\\x\\a.txt"},
        {"C:\\x\\", "sub\\a.txt", "C:\\x\\sub\\a.txt"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(rows[i].joined, JoinPath(rows[i].folder, rows[i].name)) << "row " << i;
    EXPECT_EQ("C:\\x", RemoveTrailingBackslash("C:\\x\\"));
    EXPECT_EQ("C:\\x\\", RemoveTrailingBackslash("C:\\x\\\\"));  // only one
    EXPECT_EQ("C:\\x", RemoveTrailingBackslash("C:\\x"));
    EXPECT_EQ("", RemoveTrailingBackslash(""));
    EXPECT_EQ("\"C:\\Program Files\\a.exe\" ", QuoteIfSpaced("C:\\Program Files\\a.exe"));
    EXPECT_EQ("C:\\a.exe ", QuoteIfSpaced("C:\\a.exe"));
    EXPECT_EQ(" ", QuoteIfSpaced(""));
    EXPECT_EQ("C:\\x\\", ExtractFilePath("C:\\x\\a.txt"));
    EXPECT_EQ("a.txt", ExtractFileName("C:\\x\\a.txt"));
    EXPECT_EQ("", ExtractFilePath("a.txt"));
}

TEST(Strings, RemoveEmptyLines)
{
    std::vector<std::string> list = {"", "a", "", "", "b", " ", ""};
    RemoveEmptyLines(list);
    EXPECT_EQ((std::vector<std::string>{"a", "b", " "}), list);
    std::vector<std::string> empty = {"", ""};
    RemoveEmptyLines(empty);
    EXPECT_TRUE(empty.empty());
}

TEST(Format, SizeBoundaries)
{
    char thousands[8] = {}, decimal[8] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousands, sizeof(thousands));
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, sizeof(decimal));
    const std::string t(1, thousands[0]), d(1, decimal[0]);
    struct Row {
        int32_t bytes;
        std::string expected;
    } rows[] = {
        {0, "None"},
        {1, "1B"},
        {512, "512B"},
        {1023, "1023B"},
        {1024, "1K"},
        {2047, "1K"},
        {1023999, "999K"},
        {1024000, "1" + d + "0M"},  // megabytes of 1,024,000 bytes
        {1048576, "1" + d + "0M"},
        {1536000, "1" + d + "5M"},
        {1075200, "1" + d + "1M"},  // 1.05: halves round up
        {1177600, "1" + d + "2M"},  // 1.15
        {1126399, "1" + d + "1M"},
        {1024000 * 1000 - 1, "1" + t + "000" + d + "0M"},
        {2147483647, "2" + t + "097" + d + "2M"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(rows[i].expected, FormatSize(rows[i].bytes)) << "row " << i;
}

TEST(Format, DurationBoundaries)
{
    struct Row {
        int32_t seconds;
        const char* expected;
    } rows[] = {
        {0, "0 min 0 sec"},        {59, "0 min 59 sec"},       {60, "1 min 0 sec"},
        {3599, "59 min 59 sec"},   {3600, "1 hour 0 min 0 sec"}, {7322, "2 hour 2 min 2 sec"},
        {86399, "23 hour 59 min 59 sec"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(rows[i].expected, FormatDuration(rows[i].seconds)) << "row " << i;
}

class Folders : public UtilsFixture {};

// Drive forms are answered without looking at the disk; other paths must be
// existing folders.
TEST_F(Folders, FolderExistsRules)
{
    WriteBytes(Path("file.txt"), "x");
    struct Row {
        std::string path;
        bool expected;
    } rows[] = {
        {"", false},
        {"C", false},
        {"Q:", true},  // no such drive, still true
        {"Q:\\", true},
        {"Q:x", false},
        {"QQ\\", false},
        {Folder, true},
        {Folder + "\\", true},
        {Path("file.txt"), false},
        {Path("missing"), false},
        {Folder.substr(0, Folder.size() - 2) + "*", false},  // a pattern is no folder
        {Folder.substr(0, Folder.size() - 1) + "?", false},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(rows[i].expected, FolderExists(rows[i].path)) << "row " << i << ": " << rows[i].path;
}

TEST_F(Folders, ForceFoldersCreatesParents)
{
    EXPECT_FALSE(ForceFolders(""));
    EXPECT_TRUE(ForceFolders(Path("a\\b\\c\\")));
    EXPECT_TRUE(IsFolder(Path("a\\b\\c")));
    EXPECT_TRUE(ForceFolders(Path("a\\b")));  // exists already
    // Below a file nothing can be created: false, no exception.
    WriteBytes(Path("file"), "x");
    EXPECT_FALSE(ForceFolders(Path("file\\sub\\deeper")));
    EXPECT_FALSE(Exists(Path("file\\sub")));
}

// New folders are recorded from the outermost to the innermost; existing
// ones are not recorded.
TEST_F(Folders, ForceFoldersExRecordsOutermostFirst)
{
    ASSERT_TRUE(CreateDirectoryA(Path("have").c_str(), nullptr));
    std::vector<std::string> created = {"earlier"};
    EXPECT_TRUE(ForceFoldersEx(Path("have\\n1\\n2\\n3\\"), &created));
    EXPECT_EQ((std::vector<std::string>{"earlier", Path("have\\n1"), Path("have\\n1\\n2"), Path("have\\n1\\n2\\n3")}),
              created);
    EXPECT_TRUE(IsFolder(Path("have\\n1\\n2\\n3")));

    created.clear();
    EXPECT_TRUE(ForceFoldersEx(Path("have\\n1"), &created));
    EXPECT_TRUE(created.empty());
    EXPECT_TRUE(ForceFoldersEx(Path("other\\x"), nullptr));
    EXPECT_TRUE(IsFolder(Path("other\\x")));
}

// A failure part-way returns false and keeps what was made, listed.
TEST_F(Folders, ForceFoldersExStopsAtFirstFailure)
{
    std::vector<std::string> created;
    EXPECT_FALSE(ForceFoldersEx(Path("n1\\n2\\bad|name\\n4"), &created));
    EXPECT_EQ((std::vector<std::string>{Path("n1"), Path("n1\\n2")}), created);
    EXPECT_TRUE(IsFolder(Path("n1\\n2")));

    WriteBytes(Path("file"), "x");
    created.clear();
    EXPECT_FALSE(ForceFoldersEx(Path("file\\r\\s"), &created));
    EXPECT_TRUE(created.empty());
    EXPECT_FALSE(ForceFoldersEx("", &created));
    EXPECT_FALSE(ForceFoldersEx("relative\\path", &created));
    EXPECT_TRUE(created.empty());
}

class TempNames : public UtilsFixture {};

TEST_F(TempNames, NumbersFromZero)
{
    EXPECT_EQ(Path("ov~00000.tmp"), MakeTempFileName(Folder));
    EXPECT_EQ(Path("ov~00000.tmp"), MakeTempFileName(Folder + "\\"));  // nothing created
    WriteBytes(Path("ov~00000.tmp"), "");
    EXPECT_EQ(Path("ov~00001.tmp"), MakeTempFileName(Folder));
    WriteBytes(Path("ov~00001.tmp"), "");
    CreateDirectoryA(Path("ov~00002.tmp").c_str(), nullptr);  // a folder takes the name too
    EXPECT_EQ(Path("ov~00003.tmp"), MakeTempFileName(Folder));
    EXPECT_EQ(Path("ov~00000.dat"), MakeTempName(Folder, ".dat"));
}

TEST_F(TempNames, EmptyFolderMeansTempFolderAndShortFolderAborts)
{
    std::string name = MakeTempName("", ".tmp");
    EXPECT_EQ(RawTempPath() + "ov~", name.substr(0, RawTempPath().size() + 3));
    EXPECT_EQ(".tmp", name.substr(name.size() - 4));
    EXPECT_FALSE(Exists(name));
    EXPECT_THROW(MakeTempName("C:", ".tmp"), EAbort);
    EXPECT_THROW(MakeTempName("x", ".tmp"), EAbort);
}

class Files : public UtilsFixture {};

// Sizes around the 2,048-byte block copy byte for byte; the target is replaced whole.
TEST_F(Files, CopyFileDataSizes)
{
    const size_t sizes[] = {0, 1, 2047, 2048, 2049, 4096, 10000};
    for (size_t i = 0; i < sizeof(sizes) / sizeof(sizes[0]); ++i) {
        std::string data(sizes[i], '\0');
        for (size_t k = 0; k < data.size(); ++k)
            data[k] = static_cast<char>((k * 131 + 7) & 0xFF);
        WriteBytes(Path("src"), data);
        WriteBytes(Path("dst"), std::string(20000, 'z'));
        EXPECT_EQ(static_cast<int64_t>(sizes[i]), CopyFileData(Path("src"), Path("dst"))) << "row " << i;
        EXPECT_TRUE(ReadBytes(Path("dst")) == data) << "row " << i;
    }
}

TEST_F(Files, CopyFileDataFailures)
{
    EXPECT_EQ(0, CopyFileData(Path("missing"), Path("dst")));
    EXPECT_FALSE(Exists(Path("dst")));
    WriteBytes(Path("src"), "abc");
    EXPECT_EQ(0, CopyFileData(Path("src"), Path("nofolder\\dst")));
    // A source held open by another writer is still read.
    HANDLE h = CreateFileA(Path("src").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(3, CopyFileData(Path("src"), Path("dst")));
    CloseHandle(h);
}

namespace {
SYSTEMTIME LocalStamp(const FILETIME& utc)
{
    FILETIME local;
    SYSTEMTIME st = {};
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &st);
    return st;
}
std::string StampText(const SYSTEMTIME& st)
{
    return FormatText("%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                      st.wSecond, st.wMilliseconds);
}
TDateTime Make(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    return SystemTimeToDateTime(st);
}
}  // namespace

TEST(DateTime, Conversions)
{
    EXPECT_DOUBLE_EQ(0.0, Make(1899, 12, 30, 0, 0, 0));
    EXPECT_DOUBLE_EQ(36526.0, Make(2000, 1, 1, 0, 0, 0));
    EXPECT_DOUBLE_EQ(36526.5, Make(2000, 1, 1, 12, 0, 0));
    EXPECT_DOUBLE_EQ(-1.25, Make(1899, 12, 29, 6, 0, 0));  // fraction counts forward from the day
    SYSTEMTIME st;
    ASSERT_TRUE(DateTimeToSystemTime(-1.25, st));
    EXPECT_EQ("1899-12-29 06:00:00.000", StampText(st));
    ASSERT_TRUE(DateTimeToSystemTime(Make(2024, 2, 29, 23, 59, 58, 500), st));
    EXPECT_EQ("2024-02-29 23:59:58.500", StampText(st));
    TDateTime now = Now();
    EXPECT_GT(now, Make(2020, 1, 1, 0, 0, 0));
}

// Three stamps set from local date-times read back through GetFileTime; a
// zero leaves its stamp unchanged.
TEST_F(Files, SetFileTimesRoundTrip)
{
    WriteBytes(Path("f"), "x");
    TDateTime created = Make(2001, 2, 3, 4, 5, 6);
    TDateTime accessed = Make(2011, 12, 13, 14, 15, 16);
    TDateTime modified = Make(2021, 7, 8, 9, 10, 12);
    ASSERT_TRUE(SetFileTimes(Path("f"), created, accessed, modified));
    HANDLE h = CreateFileA(Path("f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FILETIME c, a, m;
    ASSERT_TRUE(GetFileTime(h, &c, &a, &m));
    CloseHandle(h);
    // Some file systems under Wine keep no creation time (it reads back as
    // the last-write time); check it only where the system keeps it.
    const bool keepsCreation = StampText(LocalStamp(c)) != StampText(LocalStamp(m));
    if (keepsCreation) {
        EXPECT_EQ("2001-02-03 04:05:06.000", StampText(LocalStamp(c)));
    }
    EXPECT_EQ("2011-12-13 14:15:16.000", StampText(LocalStamp(a)));
    EXPECT_EQ("2021-07-08 09:10:12.000", StampText(LocalStamp(m)));

    ASSERT_TRUE(SetFileTimes(Path("f"), 0, 0, Make(2022, 1, 1, 0, 0, 0)));
    h = CreateFileA(Path("f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(GetFileTime(h, &c, &a, &m));
    CloseHandle(h);
    if (keepsCreation) {
        EXPECT_EQ("2001-02-03 04:05:06.000", StampText(LocalStamp(c)));
    }
    EXPECT_EQ("2011-12-13 14:15:16.000", StampText(LocalStamp(a)));  // zero: unchanged
    EXPECT_EQ("2022-01-01 00:00:00.000", StampText(LocalStamp(m)));

    EXPECT_FALSE(SetFileTimes(Path("missing"), created, created, created));
}

// The DOS form keeps even seconds and the years 1980 to 2099 only.
TEST_F(Files, SetFileDateDosResolution)
{
    WriteBytes(Path("f"), "x");
    SetFileDate(Path("f"), Make(1999, 12, 31, 23, 59, 59));
    WIN32_FILE_ATTRIBUTE_DATA info;
    ASSERT_TRUE(GetFileAttributesExA(Path("f").c_str(), GetFileExInfoStandard, &info));
    EXPECT_EQ("1999-12-31 23:59:58.000", StampText(LocalStamp(info.ftLastWriteTime)));
    SetFileDate(Path("f"), Make(1979, 6, 1, 0, 0, 0));  // out of range: unchanged
    ASSERT_TRUE(GetFileAttributesExA(Path("f").c_str(), GetFileExInfoStandard, &info));
    EXPECT_EQ("1999-12-31 23:59:58.000", StampText(LocalStamp(info.ftLastWriteTime)));
    SetFileDate(Path("missing"), Make(2000, 1, 1, 0, 0, 0));  // no file: nothing, no error
    EXPECT_FALSE(Exists(Path("missing")));
}

TEST_F(Files, SaveStringToFileReplacesWhole)
{
    WriteBytes(Path("f"), std::string(5000, 'x'));
    SaveStringToFile("short\r\n", Path("f"));
    EXPECT_EQ("short\r\n", ReadBytes(Path("f")));
    SaveStringToFile("", Path("f"));
    EXPECT_EQ("", ReadBytes(Path("f")));
    EXPECT_THROW(SaveStringToFile("x", Path("nofolder\\f")), EFCreateError);
    EXPECT_EQ((std::vector<std::string>{"a", "", "b", "c"}), SplitLines("a\r\n\r\nb\nc"));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), SplitLines("a\rb\r\n"));
}

// A path with a long name gets its 8.3 form; a path without one stays as given.
TEST_F(Files, ShortPathOf)
{
    ASSERT_TRUE(CreateDirectoryA(Path("a long folder name").c_str(), nullptr));
    WriteBytes(Path("a long folder name\\some long file.dll"), "x");
    std::string shortForm = ShortPathOf(Path("a long folder name\\some long file.dll"));
    EXPECT_EQ(std::string::npos, shortForm.find(' ')) << shortForm;
    char longForm[1024];
    DWORD n = GetLongPathNameA(shortForm.c_str(), longForm, sizeof(longForm));
    EXPECT_EQ(0, lstrcmpiA(Path("a long folder name\\some long file.dll").c_str(), std::string(longForm, n).c_str()));
    EXPECT_EQ(Path("no such file.dll"), ShortPathOf(Path("no such file.dll")));
}

class Processes : public UtilsFixture {};

TEST_F(Processes, BuildCommandLineTable)
{
    char cwd[MAX_PATH];
    std::string current(cwd, GetCurrentDirectoryA(sizeof(cwd), cwd));
    CreateDirectoryA(Path("my app").c_str(), nullptr);
    const std::string app = Path("my app\\run.exe");
    struct Row {
        std::string application, parameters, folder, work, line;
    } rows[] = {
        {app, "/x y", "", Path("my app"), "\"" + app + "\" /x y"},
        {app, "", "", Path("my app"), "\"" + app + "\" "},
        {Path("plain.exe"), "", "", Folder, Path("plain.exe") + " "},
        {app, "", Folder, Folder, "\"" + app + "\" "},
        {"", Path("plain.exe") + " /u", "", Folder, " " + Path("plain.exe") + " /u"},
        {"C:\\no such folder\\a.exe", "", "", current, "\"C:\\no such folder\\a.exe\" "},
        {"notepad.exe", "", "", current, "notepad.exe "},
        {"", "", "", current, ""},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        std::string work, line;
        BuildCommandLine(rows[i].application, rows[i].parameters, rows[i].folder, work, line);
        EXPECT_EQ(rows[i].work, work) << "row " << i;
        EXPECT_EQ(rows[i].line, line) << "row " << i;
    }
}

TEST_F(Processes, RunAndWaitExitCodes)
{
    EXPECT_EQ(7, RunAndWait("", "cmd /c exit 7", SW_HIDE, false));
    EXPECT_EQ(0, RunAndWait("", "cmd /c exit 0", SW_SHOWNORMAL, true));
    // 259 is the "still active" value: the run must still end.
    EXPECT_EQ(259, RunAndWait("", "cmd /c exit 259", SW_HIDE, false));
    EXPECT_EQ(-1, RunAndWait(Path("missing.exe"), "", SW_HIDE, false));
    EXPECT_EQ(-1, RunAndWait("", "", SW_HIDE, false));
}

// The child is this program, told by the environment what to do.
TEST_F(Processes, RunAndWaitChildAndAbort)
{
    SetEnvironmentVariableA("SX_CHILD_EXIT", "42");
    EXPECT_EQ(42, RunAndWait(GetThisFile(), "--gtest_filter=ChildProcess.Act", SW_HIDE, false));

    SetEnvironmentVariableA("SX_CHILD_SLEEP", "60000");
    int calls = 0;
    DWORD start = GetTickCount();
    int code = RunAndWait(GetThisFile(), "--gtest_filter=ChildProcess.Act", SW_HIDE, false,
                          [&calls] { return ++calls >= 3; });
    DWORD elapsed = GetTickCount() - start;
    SetEnvironmentVariableA("SX_CHILD_SLEEP", nullptr);
    SetEnvironmentVariableA("SX_CHILD_EXIT", nullptr);
    EXPECT_EQ(0, code);  // terminated with exit code 0
    EXPECT_EQ(3, calls);
    EXPECT_LT(elapsed, 20000u);
}

TEST(Messages, DelayStepsAndCallback)
{
    int calls = 0;
    DWORD start = GetTickCount();
    Delay(120, [&calls] { ++calls; });
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 120u);
    EXPECT_GE(calls, 3);
    EXPECT_LT(elapsed, 2000u);
    calls = 0;
    Delay(0, [&calls] { ++calls; });
    EXPECT_EQ(0, calls);
    Delay(60);  // no callback
}

namespace {
int g_userMessages = 0;
LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_USER + 7)
        ++g_userMessages;
    return DefWindowProcA(hwnd, msg, wp, lp);
}
HWND MakeWindow(int x, int y, int w, int h)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "SxUtilsTestWindow";
    RegisterClassA(&wc);  // fails harmlessly the second time
    return CreateWindowExA(0, "SxUtilsTestWindow", "t", WS_POPUP, x, y, w, h, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}
}  // namespace

// One call dispatches at most one message.
TEST(Messages, PumpMessageOneAtATime)
{
    HWND w = MakeWindow(0, 0, 10, 10);
    ASSERT_NE(nullptr, w);
    MSG drain;
    while (PeekMessageA(&drain, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&drain);
    g_userMessages = 0;
    PostMessageA(w, WM_USER + 7, 0, 0);
    PostMessageA(w, WM_USER + 7, 0, 0);
    PumpMessage();
    EXPECT_EQ(1, g_userMessages);
    PumpMessage();
    EXPECT_EQ(2, g_userMessages);
    PumpMessage();  // empty queue: returns at once
    DestroyWindow(w);
}

TEST(Messages, CenterWindowAndClamp)
{
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    HWND parent = MakeWindow(100, 100, 400, 300);
    HWND w = MakeWindow(0, 0, 200, 101);
    ASSERT_NE(nullptr, parent);
    ASSERT_NE(nullptr, w);
    struct Row {
        int px, py, pw, ph;  // parent rectangle; pw 0 = no parent
        int ww, wh;
        int x, y;
    } rows[] = {
        {100, 100, 400, 300, 200, 101, 200, 199},             // halves rounded toward zero
        {0, 0, 0, 0, 200, 101, (sw - 200) / 2, (sh - 101) / 2},  // over the screen
        {sw - 100, 10, 400, 300, 200, 100, sw - 200, 110},     // right edge
        {10, sh - 50, 400, 300, 200, 100, 110, sh - 100},      // bottom edge
        {-500, -400, 100, 100, 200, 100, 0, 0},                // negative
        {0, 0, 0, 0, sw + 100, 100, 0, (sh - 100) / 2},        // wider than the screen
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        const Row& r = rows[i];
        if (r.pw)
            SetWindowPos(parent, nullptr, r.px, r.py, r.pw, r.ph, SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(w, nullptr, 0, 0, r.ww, r.wh, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
        CenterWindow(r.pw ? parent : nullptr, w);
        RECT rc;
        GetWindowRect(w, &rc);
        EXPECT_EQ(r.x, rc.left) << "row " << i;
        EXPECT_EQ(r.y, rc.top) << "row " << i;
        EXPECT_EQ(r.ww, rc.right - rc.left) << "row " << i << ": size kept";
    }
    DestroyWindow(w);
    DestroyWindow(parent);
}

// Optional libraries come from the system folder only, by bare name.
TEST_F(Files, LoadSystemLibraryOnlyFromSystemFolder)
{
    HMODULE m = LoadSystemLibrary("version.dll");
    ASSERT_NE(nullptr, m);
    char path[MAX_PATH];
    std::string loaded(path, GetModuleFileNameA(m, path, sizeof(path)));
    EXPECT_EQ(0, lstrcmpiA((RawSystemDir() + "\\version.dll").c_str(), loaded.c_str())) << loaded;
    FreeLibrary(m);
    EXPECT_EQ(nullptr, LoadSystemLibrary("C:\\windows\\system32\\version.dll"));
    EXPECT_EQ(nullptr, LoadSystemLibrary("..\\version.dll"));
    EXPECT_EQ(nullptr, LoadSystemLibrary(""));
    // A library present only in the current folder is not found.
    char cwd[MAX_PATH];
    std::string current(cwd, GetCurrentDirectoryA(sizeof(cwd), cwd));
    ASSERT_TRUE(SetCurrentDirectoryA(Folder.c_str()));
    WriteBytes(Path("sxonlyhere.dll"), "MZ not really");
    EXPECT_EQ(nullptr, LoadSystemLibrary("sxonlyhere.dll"));
    SetCurrentDirectoryA(current.c_str());
}

// After the search is restricted, a library present in the current folder is
// not found by bare name; by full path it loads.
TEST_F(Files, RestrictedLibrarySearch)
{
    std::string sample = SamplePath("client", "ovseClient.dll");
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(sample.c_str())) << sample;
    ASSERT_TRUE(CopyFileA(sample.c_str(), Path("sxplanted.dll").c_str(), FALSE));
    EXPECT_TRUE(RestrictLibrarySearch());  // every supported system has SetDefaultDllDirectories
    char cwd[MAX_PATH];
    std::string current(cwd, GetCurrentDirectoryA(sizeof(cwd), cwd));
    ASSERT_TRUE(SetCurrentDirectoryA(Folder.c_str()));
    HMODULE byName = LoadLibraryA("sxplanted.dll");
    EXPECT_EQ(nullptr, byName);
    if (byName)
        FreeLibrary(byName);
    HMODULE byPath = LoadLibraryByPath(Path("sxplanted.dll"));
    EXPECT_NE(nullptr, byPath);
    if (byPath)
        FreeLibrary(byPath);
    SetCurrentDirectoryA(current.c_str());
}

// The shell opens a batch file (which writes a marker) and refuses a missing file.
TEST_F(Files, ShellOpen)
{
    EXPECT_FALSE(ShellOpen(Path("missing.txt"), ""));
    WriteBytes(Path("mark.bat"), "@echo %1> \"" + Path("marker.txt") + "\"\r\n");
    ASSERT_TRUE(ShellOpen(Path("mark.bat"), "opened"));
    for (int i = 0; i < 200 && ReadBytes(Path("marker.txt")).find("opened") == std::string::npos; ++i)
        Sleep(50);
    EXPECT_EQ("opened\r\n", ReadBytes(Path("marker.txt")));
}
