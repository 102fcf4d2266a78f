// Locked-file replacement: redirecting a locked target to a temporary name,
// scheduling with MoveFileEx on the NT family and through WININIT.INI on the
// older family (reached here through OverrideNtPlatform).
#include "w32_utils_fixture.h"

#include "ovPlatformSeam.h"
#include "ovUtils.h"

namespace {

class Locked : public UtilsFixture {
protected:
    void TearDown() override
    {
        OverrideNtPlatform(-1);
        UtilsFixture::TearDown();
    }
    static std::string Short(const std::string& path)
    {
        char buffer[1024];
        DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof(buffer));
        return std::string(buffer, n);
    }
};

// An open handle that shares nothing: the file cannot be deleted.
HANDLE HoldOpen(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

const char SessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

std::string PendingRenames()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_READ, &key))
        return std::string();
    DWORD size = 0, type = 0;
    std::string data;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        data.resize(size);
        RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
        data.resize(size);
    }
    RegCloseKey(key);
    return data;
}

void RestorePendingRenames(const std::string& data)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_ALL_ACCESS, &key))
        return;
    if (data.empty())
        RegDeleteValueA(key, "PendingFileRenameOperations");
    else
        RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
}

}  // namespace

TEST_F(Locked, MissingOrDeletableFiles)
{
    std::vector<std::string> temps, targets;
    std::string name = Path("absent.dll");
    DeleteOrRedirect(name, &temps, &targets);
    EXPECT_EQ(Path("absent.dll"), name);

    // A read-only file not in use is deleted; nothing recorded.
    name = Path("readonly.dll");
    WriteBytes(name, "old");
    ASSERT_TRUE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    DeleteOrRedirect(name, &temps, &targets);
    EXPECT_EQ(Path("readonly.dll"), name);
    EXPECT_FALSE(Exists(name));
    EXPECT_TRUE(temps.empty());
    EXPECT_TRUE(targets.empty());
}

// A file held open without sharing is redirected to ov~NNNNN.tmp beside it
// and the pair is recorded.
TEST_F(Locked, LockedFileIsRedirected)
{
    std::vector<std::string> temps, targets;
    const std::string first = Path("first lib.dll"), second = Path("second.dll");
    WriteBytes(first, "old1");
    WriteBytes(second, "old2");
    WriteBytes(Path("ov~00000.tmp"), "someone else's");
    HANDLE h1 = HoldOpen(first), h2 = HoldOpen(second);
    ASSERT_NE(INVALID_HANDLE_VALUE, h1);
    ASSERT_NE(INVALID_HANDLE_VALUE, h2);

    std::string name = first;
    DeleteOrRedirect(name, &temps, &targets);
    EXPECT_EQ(Path("ov~00001.tmp"), name);
    WriteBytes(name, "new1");  // the caller writes the new content there
    name = second;
    DeleteOrRedirect(name, &temps, &targets);
    EXPECT_EQ(Path("ov~00002.tmp"), name);
    EXPECT_EQ((std::vector<std::string>{Path("ov~00001.tmp"), Path("ov~00002.tmp")}), temps);
    EXPECT_EQ((std::vector<std::string>{first, second}), targets);

    // Without the lists the locked file stays and the name is unchanged.
    name = first;
    DeleteOrRedirect(name, nullptr, &targets);
    EXPECT_EQ(first, name);
    DeleteOrRedirect(name, &temps, nullptr);
    EXPECT_EQ(first, name);
    EXPECT_EQ(2u, temps.size());
    EXPECT_TRUE(Exists(first));
    CloseHandle(h1);
    CloseHandle(h2);
    EXPECT_EQ("old1", ReadBytes(first));
    EXPECT_EQ("new1", ReadBytes(Path("ov~00001.tmp")));
}

// A temporary name handed out before is not handed out again, even when its
// file was never written (a failed write): each pair keeps its own source.
TEST_F(Locked, RedirectNamesStayDistinct)
{
    std::vector<std::string> temps, targets;
    const std::string a = Path("a.dll"), b = Path("b.dll");
    WriteBytes(a, "a");
    WriteBytes(b, "b");
    HANDLE ha = HoldOpen(a), hb = HoldOpen(b);
    std::string name = a;
    DeleteOrRedirect(name, &temps, &targets);
    EXPECT_EQ(Path("ov~00000.tmp"), name);
    name = b;  // nothing was written to ov~00000.tmp
    DeleteOrRedirect(name, &temps, &targets);
    EXPECT_EQ(Path("ov~00001.tmp"), name);
    CloseHandle(ha);
    CloseHandle(hb);
}

TEST_F(Locked, PlatformAnswerAndOverride)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_EQ(148u, sizeof(info));
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId == VER_PLATFORM_WIN32_NT, IsNtPlatform());
    OverrideNtPlatform(0);
    EXPECT_FALSE(IsNtPlatform());
    OverrideNtPlatform(1);
    EXPECT_TRUE(IsNtPlatform());
}

// On the NT family each pair becomes a pending rename (replace existing),
// and a source without a target a pending deletion.
TEST_F(Locked, NtSchedulesMoveFileEx)
{
    OverrideNtPlatform(1);
    WriteBytes(Path("ov~00000.tmp"), "new");
    WriteBytes(Path("target.dll"), "old");
    WriteBytes(Path("ov~00001.tmp"), "junk");
    const std::string before = PendingRenames();
    ScheduleReplacements({Path("ov~00000.tmp")}, nullptr);
    std::vector<std::string> targets = {Path("target.dll")};
    ScheduleReplacements({Path("ov~00001.tmp")}, &targets);
    const std::string after = PendingRenames();
    RestorePendingRenames(before);

    // REG_MULTI_SZ: source, then target ("" to delete; "!" = replace existing).
    std::vector<std::string> entries;
    for (size_t p = 0; p < after.size();) {
        size_t end = after.find('\0', p);
        if (end == std::string::npos)
            end = after.size();
        entries.push_back(after.substr(p, end - p));
        p = end + 1;
    }
    auto find = [&](const std::string& s) { return std::find(entries.begin(), entries.end(), s) - entries.begin(); };
    size_t del = find("\\??\\" + Path("ov~00000.tmp"));
    ASSERT_LT(del + 1, entries.size()) << "no pending deletion";
    EXPECT_EQ("", entries[del + 1]);
    size_t mv = find("\\??\\" + Path("ov~00001.tmp"));
    ASSERT_LT(mv + 1, entries.size()) << "no pending rename";
    EXPECT_EQ("!\\??\\" + Path("target.dll"), entries[mv + 1]);
    EXPECT_TRUE(Exists(Path("ov~00000.tmp")));  // nothing moves before the restart
}

// The older family: WININIT.INI in the Windows folder, each new line right
// under "[rename]", so the second pair ends up first.
TEST_F(Locked, OlderFamilyWritesWininit)
{
    char windows[MAX_PATH];
    std::string file = std::string(windows, GetWindowsDirectoryA(windows, sizeof(windows))) + "\\WININIT.INI";
    const std::string saved = ReadBytes(file);
    DeleteFileA(file.c_str());

    OverrideNtPlatform(0);
    const std::string t1 = Path("locked target one.dll"), t2 = Path("locked target two.dll");
    const std::string s1 = Path("ov~00000.tmp"), s2 = Path("ov~00001.tmp");
    for (const std::string& f : {t1, t2, s1, s2})
        WriteBytes(f, "x");
    std::vector<std::string> targets = {t1, t2};
    ScheduleReplacements({s1, s2}, &targets);
    const std::string written = ReadBytes(file);

    if (saved == "<missing>")
        DeleteFileA(file.c_str());
    else
        WriteBytes(file, saved);
    EXPECT_EQ("[rename]\r\n" + Short(t2) + "=" + Short(s2) + "\r\n" + Short(t1) + "=" + Short(s1) + "\r\n", written);
    EXPECT_EQ(std::string::npos, written.find(' '));  // short forms
}

TEST_F(Locked, WininitSectionRules)
{
    const std::string s1 = Path("ov~00000.tmp"), s2 = Path("ov~00001.tmp"), t1 = Path("target.dll");
    for (const std::string& f : {s1, s2, t1})
        WriteBytes(f, "x");
    const std::string S1 = Short(s1), S2 = Short(s2), T1 = Short(t1);
    struct Row {
        const char* before;
        bool targets;
        std::string after;
    } rows[] = {
        // header in other case: found; old lines stay below the new ones
        {"[Rename]\r\nOLD=OLD.TMP\r\n", true, "[Rename]\r\n" + T1 + "=" + S1 + "\r\nOLD=OLD.TMP\r\n"},
        // a blank before the bracket: not found, a new header goes first
        {" [rename]\r\nX=Y\r\n", true, "[rename]\r\n" + T1 + "=" + S1 + "\r\n [rename]\r\nX=Y\r\n"},
        // another section before it
        {"[other]\r\na=b\r\n[rename]\r\n", true, "[other]\r\na=b\r\n[rename]\r\n" + T1 + "=" + S1 + "\r\n"},
        // no targets: delete the sources, the second first
        {"", false, "[rename]\r\nNUL=" + S2 + "\r\nNUL=" + S1 + "\r\n"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        const std::string file = Path("wininit.ini");
        DeleteFileA(file.c_str());
        if (*rows[i].before)
            WriteBytes(file, rows[i].before);
        std::vector<std::string> targets = {t1};
        if (rows[i].targets)
            WriteWininitRenamesTo(file, {s1}, &targets);
        else
            WriteWininitRenamesTo(file, {s1, s2}, nullptr);
        EXPECT_EQ(rows[i].after, ReadBytes(file)) << "row " << i;
    }
    // Fewer targets than sources: only the complete pairs are written.
    std::vector<std::string> one = {t1};
    DeleteFileA(Path("wininit.ini").c_str());
    WriteWininitRenamesTo(Path("wininit.ini"), {s1, s2}, &one);
    EXPECT_EQ("[rename]\r\n" + T1 + "=" + S1 + "\r\n", ReadBytes(Path("wininit.ini")));
    EXPECT_THROW(WriteWininitRenamesTo(Path("nofolder\\wininit.ini"), {s1}, nullptr), EStreamError);
}
