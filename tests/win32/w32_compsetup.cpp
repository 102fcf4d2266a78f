// The component setup manager against the real system: the INF text read by
// the system's INI functions, refused names, a locked target, the
// download-method question and the extractor's step. Installation from local
// packages, the version rules, the unattended failures and the download page
// are proven end to end (tests/e2e/test_setup_components*.py).
#include "w32_dialogs_driver.h"
#include "w32_utils_fixture.h"

#include "CompSetup.h"
#include "LogUtils.h"
#include "ovStgImp.h"
#include "ovUtils.h"
#include "sxDialogObj.h"
#include "sxExtractSLComp.h"
#include "sxResIDs.h"
#include "sxUtils.h"

#include <functional>
#include <memory>

namespace {

class CompSetup : public UtilsFixture {
protected:
    void SetUp() override
    {
        UtilsFixture::SetUp();
        Manager().Reset();
        Manager().TempNames = &TempNames;
        Manager().TargetNames = &TargetNames;
        Manager().ProductName = "Test Product";
        SilentMode = true;
        RunLog.clear();
        MaxSeverity = 0;
    }
    void TearDown() override
    {
        Manager().Reset();
        SilentMode = false;
        RunLog.clear();
        MaxSeverity = 0;
        SetFileAttributesA(Path("pkg.stg").c_str(), FILE_ATTRIBUTE_NORMAL);
        UtilsFixture::TearDown();
    }
    static TCompSetupManager& Manager() { return TCompSetupManager::Instance(); }

    // A package with the given entries (name, content).
    void MakePackage(const std::string& file, const std::vector<std::pair<std::string, std::string>>& entries)
    {
        TStgCreateOptions options;
        options.Flags = stgPacked | stgScrambled;
        TStgWriter writer(file, options);
        for (const auto& e : entries)
            writer.AddEntry(e.first, e.second.data(), static_cast<int32_t>(e.second.size()));
        writer.Commit();
    }
    // Loads one component "Runtime" from the INF lines.
    bool Load(const std::string& lines, const std::vector<std::string>& names = {"Runtime"})
    {
        WriteBytes(Path("comp.inf"), lines);
        return Manager().LoadComponents(Path("comp.inf"), names);
    }
    // The usual component: a library and its script, its package pkg.stg.
    std::string RuntimeInf(const std::string& extra = std::string())
    {
        return "[Runtime]\r\nLocalAddress=" + Path("pkg.stg") + "\r\nFileCount=2\r\nFile1=" + Path("out\\rt.dll") +
               "\r\nFile2=" + Path("out\\rt.inf") + "\r\nOnDone.InfFile=" + Path("out\\rt.inf") + "\r\n" + extra;
    }
    std::string Script() const { return "[HKEY_CURRENT_USER]\r\n" + KeyPath + ":Installed=yes\r\n"; }
    std::string ReadValue(const std::string& name)
    {
        char buffer[256] = {};
        DWORD size = sizeof(buffer);
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath.c_str(), 0, KEY_READ, &key))
            return std::string();
        LONG r = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
        return r == ERROR_SUCCESS ? std::string(buffer) : std::string();
    }

    std::vector<std::string> TempNames, TargetNames;
};

TEST_F(CompSetup, ReadsTheInfByTheSystemsRules)
{
    ASSERT_TRUE(Load("[other]\r\nWebSize=1\r\n[RUNTIME]\r\ndescription = The runtime \r\nWEBADDRESS=http://h/rt.stg\r\n"
                     "LocalAddress=<WindowsDir>\\rt.stg\r\nWebSize=12x\r\nFileCount=3\r\n"
                     "File1=<SystemDir>\\rt.dll,1.2.3.4 \r\nFile2=C:\\a,b\\c.txt\r\nOnDone.Param=-q <WindowsDir>\r\n"
                     "websha256=AB\r\nWebSize=99\r\n"));
    ASSERT_EQ(1u, Manager().Components.size());
    const TCompSetupComponent& c = *Manager().Components[0];
    EXPECT_EQ("Runtime", c.Name);
    EXPECT_EQ("The runtime", c.Description);
    EXPECT_EQ("http://h/rt.stg", c.WebAddress);
    EXPECT_EQ(GetWindowsDir() + "\\rt.stg", c.LocalAddress);
    EXPECT_EQ(12, c.WebSize);  // the leading number; the first of equal keys
    EXPECT_EQ("-q <WindowsDir>", c.OnDoneParam);  // no macros in parameters
    EXPECT_EQ("AB", c.WebSHA256);
    ASSERT_EQ(3u, c.Files.size());
    EXPECT_EQ(GetSystemDir() + "\\rt.dll", c.Files[0]->Path);
    EXPECT_EQ("1.2.3.4", c.Files[0]->Version);  // the INI reader trims the value's end
    EXPECT_EQ("C:\\a", c.Files[1]->Path);        // split at the first comma
    EXPECT_EQ("b\\c.txt", c.Files[1]->Version);
    EXPECT_EQ("", c.Files[2]->Path);  // absent although within FileCount
}

TEST_F(CompSetup, RefusesNamesAndCountsBeforeAnything)
{
    const std::vector<std::string> names[] = {{"..\\evil"}, {"Runtime", "a/b"}, {"C:x"}};
    for (const auto& list : names) {
        RunLog.clear();
        Manager().Components.clear();
        EXPECT_THROW(Load(RuntimeInf(), list), EAbort);
        EXPECT_NE(std::string::npos, RunLog.find("Component Setup Extract Files Code 256")) << RunLog;
        EXPECT_TRUE(Manager().Components.empty());
    }
    RunLog.clear();
    EXPECT_THROW(Load("[Runtime]\r\nFileCount=100000\r\n"), EAbort);
    EXPECT_NE(std::string::npos, RunLog.find("Code 256")) << RunLog;
}

TEST_F(CompSetup, LockedTargetIsRedirected)
{
    MakePackage(Path("pkg.stg"), {{"rt.dll", "new"}, {"rt.inf", Script()}});
    CreateDirectoryA(Path("out").c_str(), nullptr);
    WriteBytes(Path("out\\rt.dll"), "old");
    ASSERT_TRUE(Load(RuntimeInf()));
    // Required "0.0.0.0": missing although present, so it is replaced.
    Manager().Components[0]->Files[0]->Version = "0.0.0.0";
    HANDLE held = CreateFileA(Path("out\\rt.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    Manager().Execute();
    CloseHandle(held);
    EXPECT_EQ(csOK, Manager().Status);
    ASSERT_EQ(1u, TempNames.size());
    ASSERT_EQ(1u, TargetNames.size());
    EXPECT_EQ(Path("out\\rt.dll"), TargetNames[0]);
    EXPECT_EQ("new", ReadBytes(TempNames[0]));
    EXPECT_EQ("old", ReadBytes(Path("out\\rt.dll")));
    EXPECT_EQ("yes", ReadValue("Installed"));  // the component's script ran
}

// The download-method question: the program's own template even when the
// dialogs come from another module, its text, the first choice selected, and
// each way to close it.
TEST_F(CompSetup, DownloadMethodQuestion)
{
    HMODULE saved = DialogModule;
    DialogModule = GetModuleHandleA("kernel32.dll");  // holds no such template
    struct Case {
        const char* what;
        std::function<void(HWND)> act;
        int result;
    } cases[] = {
        {"OK at once", [](HWND d) { person::Click(d, SXID_OK); }, 1},
        {"third, then OK",
         [](HWND d) {
             person::Click(d, SXID_NEED_LOCAL);
             person::Click(d, SXID_OK);
         },
         3},
        {"double click", [](HWND d) { person::Command(d, SXID_NEED_MANUAL, BN_DOUBLECLICKED); }, 2},
        {"Cancel", [](HWND d) { person::Click(d, SXID_CANCEL); }, 0},
        {"Close", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, 0},
        {"Escape", [](HWND d) { person::Key(d, VK_ESCAPE); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text;
        bool firstChecked = false;
        TDialogScript script("Ravudure Dudor", {[&](HWND d) {
                                 text = person::Text(d, SXID_NEED_TEXT);
                                 firstChecked = IsDlgButtonChecked(d, SXID_NEED_AUTO) == BST_CHECKED;
                                 c.act(d);
                                 return true;
                             }});
        int result = Manager().AskDownloadMethod("Line one\\n\\nLine two");
        EXPECT_TRUE(script.Finished());
        EXPECT_FALSE(script.TimedOut());
        EXPECT_EQ(c.result, result);
        EXPECT_EQ("Line one\r\n\r\nLine two", text);
        EXPECT_TRUE(firstChecked);
    }
    DialogModule = saved;
}

// The component step of the extractor: nothing written without components;
// with them, the INF text and every reported package live in the run's own
// folder, which is gone when the extractor is, also after an abort.
TEST_F(CompSetup, ExtractorStepAndItsFolder)
{
    {
        TSXExtractorSLComp extractor;
        EXPECT_TRUE(extractor.InstallComponents());
        EXPECT_EQ("", extractor.RunFolder());
    }
    WriteBytes(Path("present.txt"), "x");
    std::string folder, reported;
    for (bool missing : {false, true}) {
        SCOPED_TRACE(missing ? "missing" : "present");
        RunLog.clear();
        {
            TSXExtractorSLComp extractor;
            extractor.Strings = {"Setup", "Prod"};
            extractor.HeaderSL->Components = {"Runtime"};
            extractor.HeaderSL->ComponentInf = {"[Runtime]", "FileCount=1",
                                                "File1=" + Path(missing ? "absent.txt" : "present.txt")};
            if (missing) {
                EXPECT_THROW(extractor.InstallComponents(), EAbort);  // 255, unattended
                EXPECT_NE(std::string::npos, RunLog.find("Component Setup Code 255")) << RunLog;
            } else {
                EXPECT_TRUE(extractor.InstallComponents());
            }
            folder = extractor.RunFolder();
            ASSERT_NE("", folder);
            EXPECT_EQ(folder, Manager().TempFolder);
            EXPECT_EQ("Prod", Manager().ProductName);
            // Only the folder is left: the INF text is deleted after reading.
            WIN32_FIND_DATAA data;
            HANDLE find = FindFirstFileA((folder + "*.tmp").c_str(), &data);
            EXPECT_EQ(INVALID_HANDLE_VALUE, find);
            if (find != INVALID_HANDLE_VALUE)
                FindClose(find);
            // A package the download reports, as the download thread does.
            reported = folder + "Runtime.stg";
            WriteBytes(reported, "package");
            ASSERT_TRUE(Manager().OnFileDownloaded);
            Manager().OnFileDownloaded(Manager().OnFileDownloadedContext, reported);
        }
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(reported.c_str()));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder.c_str()));
        EXPECT_FALSE(Manager().OnFileDownloaded);
        Manager().Reset();
    }
}

}  // namespace
