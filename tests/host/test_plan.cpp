// The builder's plan (sxbuild --plan) and its date without a clock: folder
// macros expanded the way the setup expands them, every file with its
// destination, the script's registry lines and links, the components, the
// uninstall entry; SOURCE_DATE_EPOCH read and converted.
#include <gtest/gtest.h>

#include "host/host_fixtures.h"
#include "sxBuildDate.h"
#include "ovText.h"
#include "sxPlan.h"
#include "sxProject.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {


class PlanTest : public TFolderTest {
protected:
    void SetUp() override
    {
        MakeFolder("sx_plan_test");
        Mk(Dir + "/docs");
        Write("a.txt", "alpha");
        Write("docs/b.txt", "bravo");
        Write("comp.inf",
              "[Runtime]\nWebAddress=http://example.invalid/rt.stg\nWebSize=1234\n"
              "LocalAddress=<ThisDir>\\rt.stg\nFileCount=2\nFile1=<SystemDir>\\rt.dll,1.2.3.4\n"
              "File2=<WindowsDir>\\rt.ini\nOnDone.Command=<SystemDir>\\regrt.exe\nOnDone.Param=/q\n");
        Write("setup.inf",
              "[HKEY_LOCAL_MACHINE]\n"
              "-(uk)Software\\Maker\\App:Path=<ProgramFilesDir>\\App\n"
              "-(uv)Software\\Maker\\App:Size=DWORD:42\n"
              "-(dk)Software\\Maker\\Old=x\n"
              "Software\\Maker\\Bin:Data=HEX:01,02\n"
              "Software\\Maker\\Empty=\n"
              "[hkey_current_user]\n"
              "Software\\Maker:=<TempDir>\\x\n"
              "[ShellLinks.Programs]\n"
              "Maker\\App=<ProgramFilesDir>\\App\\app.exe<<-x ;y>>;<SystemDir>\\shell32.dll\n"
              "Maker\\App 1.2=<ProgramFilesDir>\\App\\readme.txt\n"
              "[Register ActiveX]\n<ProgramFilesDir>\\App\\srv.dll=0\n<ProgramFilesDir>\\App\\new.dll=\n"
              "[Delete Files]\n<WindowsDir>\\old.ini=\n");
    }
    void TearDown() override { SetEpoch(nullptr); }
};

const char kProject[] =
    "[Setup]\n"
    "DefaultFolder=<ProgramFilesDir>\\App\n"
    "AskFolder=yes\n"
    "Command=<ProgramFilesDir>\\App\\app.exe\n"
    "Parameters=/first\n"
    "Script=setup.inf | folder=tmp\n"
    "TempFolder=tmp\n"
    "DeleteTempFiles=yes\n"
    "Uninstall=yes\n"
    "UninstallFolder=<ProgramFilesDir>\\App\n"
    "ComponentInf=comp.inf\n"
    "[Strings]\n"
    "SetupName=App Setup\n"
    "ProductName=Maker App\n"
    "[Folders]\n"
    "sys = <SystemDir>\n"
    "tmp = <TempDir>\\App Setup\n"
    "shared = <CommonFilesDir>\\Maker | register\n"
    "[Files]\n"
    "File = a.txt\n"
    "File = docs/*.txt | name=doc | folder=shared | compress=no\n"
    "File = a.txt | name=a.ini | folder=sys\n"
    "[Components]\n"
    "Component = Runtime\n";

bool Has(const std::string& text, const std::string& line)
{
    return text.find(line) != std::string::npos;
}

}  // namespace

TEST(PlanMacros, ExpandAsTheSetupDoes)
{
    TPlanLayout l;
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"<ProgramFilesDir>\\App", "C:\\Program Files\\App"},
        {"<CommonFilesDir>\\Maker", "C:\\Program Files\\Common Files\\Maker"},
        // The temporary folder ends with a backslash: the doubled one collapses.
        {"<TempDir>\\x.tmp", "C:\\Windows\\Temp\\x.tmp"},
        // Two macros: two passes, both replaced.
        {"<SystemDir>;<WindowsDir>", "C:\\Windows\\System32;C:\\Windows"},
        // Unknown brackets stay; known ones around them are still replaced.
        {"<Other>\\<ThisDir>\\a", "<Other>\\D:\\Setup\\a"},
        {"<programfilesdir>\\a", "<programfilesdir>\\a"},  // case-sensitive
        // Without any macro, doubled backslashes are not touched.
        {"\\\\server\\share", "\\\\server\\share"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.out, ExpandPlanMacros(c.in, l)) << c.in;
    // A value that names a macro again ends instead of looping.
    l.WindowsDir = "<WindowsDir>";
    EXPECT_EQ("<WindowsDir>", ExpandPlanMacros("<WindowsDir>", l));
    EXPECT_EQ("a\\b", JoinWindowsPath("a\\", "b"));
    EXPECT_EQ("a\\b", JoinWindowsPath("a", "b"));
    EXPECT_EQ("b", JoinWindowsPath("", "b"));
}

TEST_F(PlanTest, NamesEveryFileFolderScriptLineComponentAndTheUninstallEntry)
{
    std::string plan = MakePlan(LoadProject(Project(kProject)));
    const char* lines[] = {
        "Target folder: <ProgramFilesDir>\\App  =  C:\\Program Files\\App (asked; the user may choose another)",
        // Files: the target folder, a registered folder with a subfolder
        // name, a system folder, the script in the temporary folder.
        "    -> <ProgramFilesDir>\\App\\a.txt  =  C:\\Program Files\\App\\a.txt\n",
        "docs/b.txt [stored] [recorded for uninstall]\n"
        "    -> <CommonFilesDir>\\Maker\\doc\\b.txt  =  C:\\Program Files\\Common Files\\Maker\\doc\\b.txt\n",
        "    -> <SystemDir>\\a.ini  =  C:\\Windows\\System32\\a.ini\n",
        "setup.inf [setup script] [deleted at the end]\n"
        "    -> <TempDir>\\App Setup\\setup.inf  =  C:\\Windows\\Temp\\App Setup\\setup.inf\n",
        "  <CommonFilesDir>\\Maker\\doc  =  C:\\Program Files\\Common Files\\Maker\\doc [recorded",
        // Registry lines as the setup parses them.
        "write HKEY_LOCAL_MACHINE\\Software\\Maker\\App : Path = string <ProgramFilesDir>\\App [key recorded "
        "for uninstall]  =  write HKEY_LOCAL_MACHINE\\Software\\Maker\\App : Path = string C:\\Program Files\\App",
        "write HKEY_LOCAL_MACHINE\\Software\\Maker\\App : Size = dword 42 [value recorded for uninstall]\n",
        "registry: delete key HKEY_LOCAL_MACHINE\\Software\\Maker\\Old\n",
        "write HKEY_LOCAL_MACHINE\\Software\\Maker\\Bin : Data = binary 01,02\n",
        "registry: write HKEY_CURRENT_USER\\Software\\Maker (default value) = string <TempDir>\\x",
        // Links: arguments taken out before the icon split, ".lnk" added
        // only without an extension.
        "link in the programs menu: Maker\\App.lnk [recorded for uninstall]\n"
        "    target <ProgramFilesDir>\\App\\app.exe  =  C:\\Program Files\\App\\app.exe\n"
        "    arguments -x ;y\n"
        "    icon <SystemDir>\\shell32.dll  =  C:\\Windows\\System32\\shell32.dll\n",
        "link in the programs menu: Maker\\App 1.2 [recorded for uninstall]\n",
        "  unregister COM server <ProgramFilesDir>\\App\\srv.dll",
        "  register COM server <ProgramFilesDir>\\App\\new.dll",
        "  delete <WindowsDir>\\old.ini  =  C:\\Windows\\old.ini\n",
        // The component with its package and checks.
        "  Runtime\n    package http://example.invalid/rt.stg (1234 bytes)\n"
        "    package on disk <ThisDir>\\rt.stg  =  D:\\Setup\\rt.stg\n"
        "    check <SystemDir>\\rt.dll  =  C:\\Windows\\System32\\rt.dll, version 1.2.3.4\n"
        "    check <WindowsDir>\\rt.ini  =  C:\\Windows\\rt.ini\n"
        "    then runs <SystemDir>\\regrt.exe  =  C:\\Windows\\System32\\regrt.exe /q\n",
        "Command: <ProgramFilesDir>\\App\\app.exe  =  C:\\Program Files\\App\\app.exe\n  parameters /first\n"
        "  opened through the shell",
        "Uninstall entry: HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Maker App\n",
        "  UninstallString  \"C:\\Program Files\\Common Files\\Orvale Systems\\ovUninst.exe\"  "
        "\"C:\\Program Files\\App\\Maker App.del\" \n",
        "the setup does not carry ovUninst.exe",
    };
    for (const char* l : lines)
        EXPECT_TRUE(Has(plan, l)) << "missing:\n" << l << "\n--- in ---\n" << plan;
    // An entry with an empty value is dropped, as the setup drops it.
    EXPECT_FALSE(Has(plan, "Software\\Maker\\Empty")) << plan;
}

TEST_F(PlanTest, WithoutScriptCommandOrUninstall)
{
    std::string plan = MakePlan(LoadProject(Project("[Strings]\nSetupName=S\n[Files]\nFile=a.txt\n")));
    EXPECT_TRUE(Has(plan, "Target folder: (none given)")) << plan;
    EXPECT_TRUE(Has(plan, "/a.txt\n    -> <target folder>\\a.txt\n")) << plan;
    EXPECT_TRUE(Has(plan, "Setup script: none\nCommand: none\nUninstall entry: none\n")) << plan;
}

TEST(BuildDate, SourceDateEpochIsCheckedAndConverted)
{
    EXPECT_DOUBLE_EQ(25569.0, UnixTimeToDateTime(0));
    EXPECT_EQ("2023-11-14 22:13:20", FormatDateTime(UnixTimeToDateTime(1700000000)));
    int64_t s = 0;
    SetEpoch(nullptr);
    EXPECT_FALSE(SourceDateEpoch(s));
    SetEpoch("1700000000");
    ASSERT_TRUE(SourceDateEpoch(s));
    EXPECT_EQ(1700000000, s);
    for (const char* bad : {"-1", "17e8", "1700000000 ", "99999999999999", "0x10"}) {
        SetEpoch(bad);
        EXPECT_THROW(SourceDateEpoch(s), EProjectError) << bad;
    }
    SetEpoch(nullptr);
}
