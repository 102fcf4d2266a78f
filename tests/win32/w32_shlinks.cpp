// Shell links through the shell's link object, read back through IShellLinkA.
#include <gtest/gtest.h>

#include "w32_helpers.h"
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "ShLinks.h"
#include "ovUtils.h"

#include <string>
#include <vector>

namespace {

bool FileExistsA(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// What a link file holds, read through the shell's own link object.
struct TLinkContents {
    std::string Path, Arguments, WorkingDirectory, Description, IconLocation;
    int IconIndex = -1;
    WORD HotKey = 0;
};

bool ReadLink(const std::string& file, TLinkContents& contents)
{
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* persist = nullptr;
    bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)));
    if (ok) {
        std::wstring wide(file.begin(), file.end());
        ok = SUCCEEDED(persist->Load(wide.c_str(), STGM_READ));
        persist->Release();
    }
    if (ok) {
        char text[MAX_PATH * 2] = {};
        link->GetPath(text, sizeof(text), nullptr, 0);
        contents.Path = text;
        link->GetArguments(text, sizeof(text));
        contents.Arguments = text;
        link->GetWorkingDirectory(text, sizeof(text));
        contents.WorkingDirectory = text;
        link->GetDescription(text, sizeof(text));
        contents.Description = text;
        link->GetIconLocation(text, sizeof(text), &contents.IconIndex);
        contents.IconLocation = text;
        link->GetHotkey(&contents.HotKey);
    }
    link->Release();
    return ok;
}

class ShellLinks : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        Folder = GetTempDir() + "sxlinks-" + std::to_string(GetCurrentProcessId()) + "-" + name;
        DeleteTree(Folder);
        ASSERT_TRUE(CreateDirectoryA(Folder.c_str(), nullptr));
        Target = Folder + "\\app.exe";
        ASSERT_TRUE(WriteFileText(Target, "MZ"));
    }
    void TearDown() override
    {
        DeleteTree(Folder);
        for (const auto& folder : ExtraFolders)
            DeleteTree(folder);
        CoUninitialize();
    }
    std::string Folder, Target;
    std::vector<std::string> ExtraFolders;
};

}  // namespace

// Every field of the record reaches the link file; the missing subfolders
// are created and listed outermost first.
TEST_F(ShellLinks, WritesAllFieldsAndCreatesFolders)
{
    TShellLinkInfo info;
    info.Path = Target;
    info.Arguments = "/a \"b c\"";
    info.WorkingDirectory = Folder;
    info.Description = "A sample link";
    info.IconLocation = Folder + "\\icons.dll";
    info.IconIndex = 3;
    info.HotKey = MAKEWORD('K', HOTKEYF_CONTROL | HOTKEYF_ALT);
    std::string linkPath = "stale";
    std::vector<std::string> created;
    ASSERT_TRUE(CreateShellLinkEx("One\\Two\\Link.lnk", Folder, 0, info, linkPath, &created));
    EXPECT_EQ(Folder + "\\One\\Two\\Link.lnk", linkPath);
    EXPECT_EQ((std::vector<std::string>{Folder + "\\One", Folder + "\\One\\Two"}), created);

    TLinkContents contents;
    ASSERT_TRUE(ReadLink(linkPath, contents));
    EXPECT_STRCASEEQ(Target.c_str(), contents.Path.c_str());
    EXPECT_EQ(info.Arguments, contents.Arguments);
    EXPECT_STRCASEEQ(Folder.c_str(), contents.WorkingDirectory.c_str());
    EXPECT_EQ(info.Description, contents.Description);
    EXPECT_STRCASEEQ(info.IconLocation.c_str(), contents.IconLocation.c_str());
    EXPECT_EQ(3, contents.IconIndex);
    EXPECT_EQ(info.HotKey, contents.HotKey);
}

// An existing link is overwritten; existing folders are not listed again.
TEST_F(ShellLinks, OverwritesExistingLink)
{
    TShellLinkInfo info;
    info.Path = Target;
    info.Arguments = "first";
    ASSERT_TRUE(CreateShellLink("Link.lnk", Folder, 0, info));
    info.Arguments = "second";
    std::string linkPath;
    std::vector<std::string> created;
    ASSERT_TRUE(CreateShellLinkEx("Link.lnk", Folder, 0, info, linkPath, &created));
    EXPECT_TRUE(created.empty());
    TLinkContents contents;
    ASSERT_TRUE(ReadLink(linkPath, contents));
    EXPECT_EQ("second", contents.Arguments);
}

// An empty folder means the special folder: here the programs menu, with a
// new subfolder.
TEST_F(ShellLinks, PlacesLinkInSpecialFolder)
{
    char programs[MAX_PATH + 1] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, TRUE));
    std::string sub = "SxLinksTest " + std::to_string(GetCurrentProcessId());
    ExtraFolders.push_back(std::string(programs) + "\\" + sub);
    TShellLinkInfo info;
    info.Path = Target;
    std::string linkPath;
    std::vector<std::string> created;
    ASSERT_TRUE(CreateShellLinkEx(sub + "\\App.lnk", "", slPrograms, info, linkPath, &created));
    EXPECT_EQ(std::string(programs) + "\\" + sub + "\\App.lnk", linkPath);
    EXPECT_TRUE(FileExistsA(linkPath));
    EXPECT_EQ((std::vector<std::string>{std::string(programs) + "\\" + sub}), created);
}

// A special folder the system cannot name, and a link whose folder cannot be
// made (a file stands in its place): false, no path, no file.
TEST_F(ShellLinks, FailuresReportNoPath)
{
    TShellLinkInfo info;
    info.Path = Target;
    std::string linkPath = "stale";
    EXPECT_FALSE(CreateShellLinkEx("Link.lnk", "", 0x70, info, linkPath, nullptr));
    EXPECT_EQ("", linkPath);

    ASSERT_TRUE(WriteFileText(Folder + "\\blocker", "x"));
    linkPath = "stale";
    std::vector<std::string> created;
    EXPECT_FALSE(CreateShellLinkEx("blocker\\Link.lnk", Folder, 0, info, linkPath, &created));
    EXPECT_EQ("", linkPath);
    EXPECT_TRUE(created.empty());
    EXPECT_FALSE(FileExistsA(Folder + "\\blocker\\Link.lnk"));
}

// An empty target: whatever the shell decides, the answer matches what is on disk.
TEST_F(ShellLinks, EmptyTargetAnswerMatchesDisk)
{
    TShellLinkInfo info;
    std::string linkPath;
    bool ok = CreateShellLinkEx("Empty.lnk", Folder, 0, info, linkPath, nullptr);
    EXPECT_EQ(ok, FileExistsA(Folder + "\\Empty.lnk"));
    EXPECT_EQ(ok ? Folder + "\\Empty.lnk" : std::string(), linkPath);
}

// A link path longer than 260 characters is used whole: the link is written
// there or not at all, never under a name cut to 260 characters.
TEST_F(ShellLinks, LongPathIsNeverCut)
{
    TShellLinkInfo info;
    info.Path = Target;
    std::string sub(200, 'd');
    std::string name = std::string(80, 'n') + ".lnk";
    std::string full = Folder + "\\" + sub + "\\" + name;
    ASSERT_GT(full.size(), 260u);
    std::string linkPath;
    bool ok = CreateShellLinkEx(sub + "\\" + name, Folder, 0, info, linkPath, nullptr);
    if (ok)
        EXPECT_EQ(full, linkPath);
    else
        EXPECT_EQ("", linkPath);
    // The folder holds the whole name or nothing (no file under a cut name).
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((Folder + "\\" + sub + "\\*").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    int files = 0;
    do {
        std::string found = data.cFileName;
        if (found == "." || found == "..")
            continue;
        ++files;
        EXPECT_EQ(name, found);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    EXPECT_EQ(ok ? 1 : 0, files);
    // The ANSI calls of the fixture's clean-up cannot reach the long name.
    std::wstring wide = L"\\\\?\\" + std::wstring(full.begin(), full.end());
    DeleteFileW(wide.c_str());
}
