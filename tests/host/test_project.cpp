// The setup project file: every key reaches its header field or option bit,
// files and wildcards resolve against the project's folder, and each kind of
// mistake is reported with the file name and the line number.
#include <gtest/gtest.h>

#include "host/host_fixtures.h"

#include "sxProject.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// A scratch project folder with a few source files.
class ProjectTest : public TFolderTest {
protected:
    void SetUp() override
    {
        MakeFolder("sx_project_test");
        Mk(Dir + "/src");
        Mk(Dir + "/src/sub");
        Write("src/a.txt", "alpha");
        Write("src/b.txt", "bravo!");
        Write("src/c.bin", "c");
        Write("src/sub/d.txt", "delta");
        Write("license.txt", "Line one\r\nLine two\n\n");
        Write("comp.inf", "[Comp]\r\nFileCount=1\r\n\r\nFile1=x.dll,1.0.0.0\r\n[Other]");
        Write("setup.inf", "[HKEY_CURRENT_USER]\n");
        Write("dialogs.dll", "MZ-dialogs");
        Write("client.dll", "MZ-client");
        Write("ovUninst.exe", "MZ-uninst");
    }
    // The error message of loading text, or "" when it loads.
    std::string ErrorOf(const std::string& text, const std::vector<std::string>& overrides = {})
    {
        try {
            LoadProject(Project(text), overrides);
            return "";
        } catch (const EProjectError& e) {
            return e.message();
        }
    }
};

const char kMinimal[] = "[Strings]\nSetupName=S\n";

}  // namespace

// A project that uses every key: each one lands in its field or option bit.
TEST_F(ProjectTest, EveryKeyReachesTheHeader)
{
    TProject p = LoadProject(Project(
        "; comment\n"
        "[Setup]\n"
        "Password = secret\n"
        "DefaultFolder=<ProgramFilesDir>\\P\n"
        "AskFolder=yes\n"
        "NumberedFolder=yes\n"
        "Command=<ThisDir>\\run.exe\n"
        "Parameters=\"  -a -b  \"\n"
        "WaitForCommand=yes\n"
        "TempFolder=tmp\n"
        "DeleteTempFiles=yes\n"
        "Script=setup.inf | folder=tmp\n"
        "Uninstall=yes\n"
        "UninstallFolder=<WindowsDir>\n"
        "UninstallIcon=icon.ico\n"
        "AfterUninstall=<SystemDir>\\x.exe\n"
        "AfterUninstallParams=-q\n"
        "StampDate=yes\n"
        "FileDate=2024-05-01 12:00:00\n"
        "KeepCopy=yes\n"
        "CopyPath=<ProgramFilesDir>\\<ProductName>\\setup.exe\n"
        "CopyKey=Software\\<ProductName>\n"
        "Silent=yes\n"
        "NoFinalMessage=yes\n"
        "DialogLibrary=dialogs.dll\n"
        "ClientLibrary=client.dll\n"
        "Uninstaller=ovUninst.exe\n"
        "ComponentInf=comp.inf\n"
        "Compression=yes\n"
        "CompressionLevel=9\n"
        "[Strings]\n"
        "SetupName=My Setup\n"
        "productname=Prod\n"
        "7=seven\n"
        "String16=sixteen\n"
        "LicenseTextFile=license.txt\n"
        "NumberedFolderPattern=Copy %d\n"
        "String25=beyond\n"
        "[Folders]\n"
        "app = <ProgramFilesDir>\\P | register\n"
        "tmp = <TempDir>\\P\n"
        "[Files]\n"
        "File = src/a.txt | folder=app\n"
        "File = src\\b.txt | name=docs\\bee.txt | compress=no\n"
        "File = src/*.txt | folder=1 | name=all\n"
        "File = src/*.txt | recurse | folder=app\n"
        "[PreviousProducts]\n"
        "Product=<ProductName> Beta\n"
        "[Components]\n"
        "Component=Comp\n"
        "Component=Other\n"
        "[Version]\n"
        "FileVersion=1.2.3.4\n"
        "CompanyName=Orvale Systems\n"));
    const TSXHeaderSL& h = p.Header;
    EXPECT_EQ(soPassword | soRunCommand | soDefaultFolder | soNumberedFolder | soAskFolder | soDeleteTempFiles |
                  soWaitForCommand | soDialogLibrary | soClientLibrary | soUninstall | soNoFinalMessage | soSilent,
              h.Options);
    EXPECT_EQ("secret", p.Password);
    EXPECT_EQ("<ProgramFilesDir>\\P", h.DefaultFolder);
    EXPECT_EQ("<ThisDir>\\run.exe", h.Command);
    EXPECT_EQ("  -a -b  ", h.Parameters);
    EXPECT_EQ(1, h.TempFolderIndex);
    ASSERT_EQ(3u, h.Folders.size());  // app, tmp, and the uninstaller's folder
    EXPECT_EQ("<ProgramFilesDir>\\P", h.Folders[0]);
    EXPECT_EQ("<CommonFilesDir>\\Orvale Systems", h.Folders[2]);
    EXPECT_EQ(1u, h.RegisteredFolders);
    EXPECT_EQ("<WindowsDir>", h.UninstallFolder);
    EXPECT_EQ("icon.ico", h.UninstallIcon);
    EXPECT_EQ("<SystemDir>\\x.exe", h.AfterUninstall);
    EXPECT_EQ("-q", h.AfterUninstallParamString);
    EXPECT_TRUE(h.StampDate);
    EXPECT_DOUBLE_EQ(45413.5, h.FileDate);
    EXPECT_TRUE(h.KeepCopy);
    EXPECT_EQ("<ProgramFilesDir>\\<ProductName>\\setup.exe", h.CopyPath);
    EXPECT_EQ("Software\\<ProductName>", h.CopyKey);
    EXPECT_EQ((std::vector<std::string>{"<ProductName> Beta"}), h.PreviousProducts);
    EXPECT_EQ((std::vector<std::string>{"Comp", "Other"}), h.Components);
    EXPECT_EQ((std::vector<std::string>{"[Comp]", "FileCount=1", "", "File1=x.dll,1.0.0.0", "[Other]"}), h.ComponentInf);
    EXPECT_EQ(9, p.CompressionLevel);
    EXPECT_EQ(Dir + "/dialogs.dll", p.DialogLibrary);
    EXPECT_EQ(Dir + "/client.dll", p.ClientLibrary);
    EXPECT_TRUE(p.HasVersion);
    EXPECT_EQ(4, p.FileVersion[3]);

    ASSERT_EQ(26u, p.Strings.size());
    EXPECT_EQ("My Setup", p.Strings[0]);
    EXPECT_EQ("Prod", p.Strings[1]);
    EXPECT_EQ("seven", p.Strings[7]);
    EXPECT_EQ("sixteen", p.Strings[16]);
    EXPECT_EQ("Line one\\nLine two", p.Strings[20]);  // breaks as markers, trailing ones dropped
    EXPECT_EQ("Copy %d", p.Strings[21]);
    EXPECT_EQ("beyond", p.Strings[25]);

    // Files: in order of the lines, then the script, then the uninstaller.
    std::vector<std::string> names;
    for (const TArchiveSource& f : p.Files)
        names.push_back(f.Name + "@" + std::to_string(f.FolderIndex) + (f.Compress ? "" : "(stored)"));
    EXPECT_EQ((std::vector<std::string>{"a.txt@0", "docs\\bee.txt@-1(stored)", "all\\a.txt@1", "all\\b.txt@1",
                                        "a.txt@0", "b.txt@0", "sub\\d.txt@0", "setup.inf@1", "ovUninst.exe@2"}),
              names);
    EXPECT_EQ(7, h.ScriptFileIndex);
    // a.txt reaches folder app from lines 43 and 46.
    ASSERT_EQ(1u, p.Warnings.size());
    EXPECT_NE(std::string::npos, p.Warnings[0].find("p.ini:46: 'a.txt' is stored twice in folder 0 (also from "))
        << p.Warnings[0];
    EXPECT_NE(std::string::npos, p.Warnings[0].find("p.ini:43)")) << p.Warnings[0];
    EXPECT_EQ(Dir + "/src/sub/d.txt", p.Files[6].Path);
}

// Each switch of [Setup], given alone with what it needs, sets its own bit
// and no other; the ones that default to on are turned off by "no".
TEST_F(ProjectTest, EachSwitchSetsItsOwnBit)
{
    struct Case {
        const char* Lines;
        uint16_t Bit;
    };
    const Case cases[] = {
        {"UseDefaultFolder=yes\nDefaultFolder=C:\\x\n", soDefaultFolder},
        {"AskFolder=yes\n", soAskFolder},
        {"NumberedFolder=yes\n", soNumberedFolder},
        {"RunCommand=yes\nCommand=a.exe\n", soRunCommand},
        {"WaitForCommand=yes\n", soWaitForCommand},
        {"DeleteTempFiles=yes\nTempFolder=t\n", soDeleteTempFiles},
        {"Uninstall=yes\nUninstallFolder=<ProgramFilesDir>\\P\nUninstaller=none\n", soUninstall},
        {"Silent=yes\n", soSilent},
        {"NoFinalMessage=yes\n", soNoFinalMessage},
        {"DefaultFolder=C:\\x\nUseDefaultFolder=no\n", 0},
        {"Command=a.exe\nRunCommand=no\n", 0},
    };
    for (const Case& c : cases) {
        std::string text = "[Strings]\nSetupName=S\nNumberedFolderPattern=Copy %d\n[Folders]\nt=<TempDir>\n[Setup]\n";
        TProject p = LoadProject(Project(text + c.Lines));
        EXPECT_EQ(c.Bit, p.Header.Options) << c.Lines;
    }
}

// Options follow from the texts where that is natural, and the minimal
// project has none; a --set override replaces a key of the file.
TEST_F(ProjectTest, DefaultsAndOverrides)
{
    TProject p = LoadProject(Project(std::string(kMinimal) + "[Setup]\nSilent=no\n"));
    EXPECT_EQ(0, p.Header.Options);
    EXPECT_EQ(-1, p.Header.TempFolderIndex);
    EXPECT_EQ(-1, p.Header.ScriptFileIndex);
    EXPECT_FALSE(p.Header.KeepCopy);
    EXPECT_EQ(static_cast<size_t>(SXStringRoleCount), p.Strings.size());

    p = LoadProject(Project(std::string(kMinimal) + "[Setup]\nSilent=no\n"), {"Setup.Silent=yes", "Strings.ProductName=X"});
    EXPECT_EQ(soSilent, p.Header.Options);
    EXPECT_EQ("X", p.Strings[1]);

    p = LoadProject(Project(std::string(kMinimal) + "[Setup]\nCommand=a.exe\nDefaultFolder=C:\\x\nUseDefaultFolder=no\n"));
    EXPECT_EQ(soRunCommand, p.Header.Options);

    // A path given on the command line is relative to the current folder.
    std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(Dir + "/src/sub");
    try {
        p = LoadProject(Project(kMinimal), {"Setup.Script=d.txt"});
        ASSERT_EQ(1u, p.Files.size());
        EXPECT_EQ("d.txt", p.Files[0].Path);
        EXPECT_NE("", ErrorOf(kMinimal, {"Setup.Script=a.txt"}));  // not in the current folder
    } catch (...) {
        std::filesystem::current_path(saved);
        throw;
    }
    std::filesystem::current_path(saved);
}

// A project that registers for uninstall asks the builder for the
// uninstaller unless it names one, or opts out with a warning.
TEST_F(ProjectTest, UninstallerIsWantedUnlessNamedOrRefused)
{
    const std::string base = std::string(kMinimal) + "[Setup]\nUninstall=yes\nUninstallFolder=C:\\p\n";
    auto carried = [](const TProject& p) {
        for (const TArchiveSource& f : p.Files)
            if (f.Name == SXUninstallerName)
                return true;
        return false;
    };
    TProject p = LoadProject(Project(base));
    EXPECT_TRUE(p.UninstallerWanted);
    EXPECT_FALSE(carried(p));
    EXPECT_TRUE(p.Warnings.empty());

    p = LoadProject(Project(base), {"Setup.Uninstaller=" + Dir + "/ovUninst.exe"});
    EXPECT_FALSE(p.UninstallerWanted);
    EXPECT_TRUE(carried(p));

    p = LoadProject(Project(base + "Uninstaller= None \n"));
    EXPECT_FALSE(p.UninstallerWanted);
    EXPECT_FALSE(carried(p));
    ASSERT_EQ(1u, p.Warnings.size());
    EXPECT_NE(std::string::npos, p.Warnings[0].find("p.ini:6: Uninstaller=none")) << p.Warnings[0];
    EXPECT_NE(std::string::npos, p.Warnings[0].find("cannot be removed")) << p.Warnings[0];

    // Without uninstall registration there is nothing to want or to warn of.
    p = LoadProject(Project(std::string(kMinimal) + "[Setup]\nUninstaller=none\n"));
    EXPECT_FALSE(p.UninstallerWanted);
    EXPECT_TRUE(p.Warnings.empty());
    p = LoadProject(Project(kMinimal));
    EXPECT_FALSE(p.UninstallerWanted);
}

// Each mistake names the file and the line where it is.
TEST_F(ProjectTest, MistakesNameTheFileAndLine)
{
    static const std::string longPassword = "[Strings]\nSetupName=S\n[Setup]\nPassword=" + std::string(128, 'p') + "\n";
    struct Case {
        const char* Text;
        int Line;
        const char* Says;
    } cases[] = {
        {"[Strings]\nSetupName=S\n[Setup]\nPasword=x\n", 4, "unknown key 'Pasword'"},
        {"[Strings]\nSetupName=S\n[Setp]\n", 3, "unknown section"},
        {"[Strings]\nSetupName=S\nno equals sign\n", 3, "expected 'key = value'"},
        {"SetupName=S\n", 1, "outside of any section"},
        {"[Strings]\nSetupName=S\n[Setup]\nAskFolder=maybe\n", 4, "expected yes or no"},
        {"[Strings]\nSetupName=S\n[Setup]\nAskFolder=yes\nAskFolder=no\n", 5, "already set"},
        {"[Strings]\nSetupName=S\nSetupName=T\n", 3, "already set"},
        {"[Strings]\nSetupName=S\nNoSuchRole=T\n", 3, "unknown string"},
        {"[Strings]\nSetupName=S\n[Files]\nFile=src/missing.txt\n", 4, "missing source file"},
        {"[Strings]\nSetupName=S\n[Files]\nFile=src/*.none\n", 4, "no file matches"},
        {"[Strings]\nSetupName=S\n[Files]\nFile=src/a.txt | folder=nowhere\n", 4, "unknown folder"},
        {"[Strings]\nSetupName=S\n[Files]\nFile=src/a.txt | zip=yes\n", 4, "unknown file option"},
        {"[Strings]\nSetupName=S\n[Files]\nPath=src/a.txt\n", 4, "File = SOURCE"},
        {"[Strings]\nSetupName=S\n[Folders]\na=x\na=y\n", 5, "defined twice"},
        {"[Strings]\nSetupName=S\n[Setup]\nCompressionLevel=12\n", 4, "1 to 9"},
        {"[Strings]\nSetupName=S\n[Setup]\nNumberedFolder=yes\n", 4, "NumberedFolderPattern"},
        {"[Strings]\nSetupName=S\nNumberedFolderPattern=Copy %s\n[Setup]\nNumberedFolder=yes\n", 5, "exactly one %d"},
        {"[Strings]\nSetupName=S\n[Setup]\nDeleteTempFiles=yes\n", 4, "needs TempFolder"},
        {"[Strings]\nSetupName=S\n[Setup]\nKeepCopy=yes\nCopyPath=x\n", 4, "CopyPath and CopyKey"},
        {"[Strings]\nSetupName=S\n[Setup]\nUninstall=yes\n", 4, "UninstallFolder"},
        {"[Strings]\nSetupName=S\n[Setup]\nRunCommand=yes\n", 4, "needs Command"},
        {"[Strings]\nSetupName=S\n[Setup]\nFileDate=yesterday\n", 4, "FileDate"},
        {"[Strings]\nSetupName=S\n[Setup]\nDialogLibrary=nothere.dll\n", 4, "missing source file"},
        {"[Strings]\nSetupName=S\n[Setup]\nTempFolder=nowhere\n", 4, "unknown folder"},
        {"[Strings]\nSetupName=S\n[Setup]\nScript=src/*.txt\n", 4, "single file"},
        {"[Strings]\nSetupName=S\nLicenseTextFile=nothere.txt\n", 3, "missing source file"},
        {"[Strings]\nSetupName=S\n[Version]\nFileVersion=1.2.3.4.5\n", 4, "four numbers"},
        {"[Strings]\nSetupName=S\n[Components]\nComponent=..\\evil\n", 4, "not a plain file name"},
        {longPassword.c_str(), 4, "127"},
        {"[Setup]\nAskFolder=no\n", 0, "no text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        std::string error = ErrorOf(c.Text);
        ASSERT_FALSE(error.empty());
        std::string where = Dir + "/p.ini" + (c.Line ? ":" + std::to_string(c.Line) + ":" : std::string(":"));
        EXPECT_EQ(0u, error.find(where)) << error;
        EXPECT_NE(std::string::npos, error.find(c.Says)) << error;
    }
    std::string e = ErrorOf(kMinimal, {"Nonsense"});
    EXPECT_NE(std::string::npos, e.find("--set Nonsense")) << e;
    e = ErrorOf(kMinimal, {"Setup.Bogus=1"});
    EXPECT_NE(std::string::npos, e.find("unknown key 'Bogus'")) << e;
    try {
        LoadProject(Dir + "/no-such-project.ini");
        FAIL();
    } catch (const EProjectError& x) {
        EXPECT_NE(std::string::npos, x.message().find("no-such-project.ini")) << x.message();
    }
}

// Wildcards: '*' and '?' without regard to case, and patterns built to make a
// backtracking matcher take exponential time or deep recursion finish at once.
TEST_F(ProjectTest, WildcardsMatchInLinearTime)
{
    struct Case {
        const char* Pattern;
        std::vector<std::string> Stored;
    } cases[] = {
        {"*.txt", {"a.txt", "b.txt"}},
        {"?.TXT", {"a.txt", "b.txt"}},
        {"*", {"a.txt", "b.txt", "c.bin"}},
        {"**b*", {"b.txt", "c.bin"}},
        {"a*t", {"a.txt"}},
        {"*.?i?", {"c.bin"}},
        {"c.bin*", {"c.bin"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Pattern);
        TProject p = LoadProject(Project(std::string(kMinimal) + "[Files]\nFile=src/" + c.Pattern + "\n"));
        std::vector<std::string> stored;
        for (const TArchiveSource& f : p.Files)
            stored.push_back(f.Name);
        EXPECT_EQ(c.Stored, stored);
    }
    EXPECT_NE(std::string::npos, ErrorOf(std::string(kMinimal) + "[Files]\nFile=src/a*x\n").find("no file matches"));

    Mk(Dir + "/d");
    std::string longName(64, 'a');
    Write("d/" + longName, "x");
    std::string exponential = "d/";
    for (int i = 0; i < 12; ++i)
        exponential += "*a";
    exponential += "*b";
    std::string stars = "d/" + std::string(300000, '*') + "a";
    for (const std::string& pattern : {exponential, stars}) {
        auto start = std::chrono::steady_clock::now();
        std::string text = std::string(kMinimal) + "[Files]\nFile=" + pattern + "\n";
        if (pattern == stars) {
            TProject p = LoadProject(Project(text));
            ASSERT_EQ(1u, p.Files.size());
            EXPECT_EQ(longName, p.Files[0].Name);
        } else {
            EXPECT_NE(std::string::npos, ErrorOf(text).find("no file matches"));
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 2.0) << pattern.substr(0, 40);
    }
}

// Stored names stay inside their folder: each kind of name that would leave
// it, or that Windows cannot create, is refused with the file and the line.
TEST_F(ProjectTest, StoredNamesThatLeaveTheFolderAreRefused)
{
    const char* bad[] = {"..\\..\\x", "sub\\..\\..\\x", "C:\\Windows\\System32\\x.dll", "\\x",
                         "\\\\server\\share\\x", "x:ads", "CON", "con.txt", "sub\\Lpt3.log", "nul",
                         "a\\.\\b", "x.", "dir \\x", "a\\\\b", "a/../b", "sub\\", "a*b"};
    for (const char* name : bad) {
        SCOPED_TRACE(name);
        std::string e = ErrorOf(std::string(kMinimal) + "[Files]\nFile=src/a.txt | name=" + name + "\n");
        EXPECT_EQ(0u, e.find(Dir + "/p.ini:4:")) << e;
        EXPECT_NE(std::string::npos, e.find("would not stay inside its folder")) << e;
    }
    // Names that only look alike are kept.
    const char* good[] = {"console.txt", "COM10", "LPT0.x", "sub\\a..b", ".hidden", "nul_device", "a b\\c"};
    for (const char* name : good) {
        SCOPED_TRACE(name);
        EXPECT_EQ("", ErrorOf(std::string(kMinimal) + "[Files]\nFile=src/a.txt | name=" + name + "\n"));
    }
}

// Dates: the day count of the archive, to the second, both ways.
TEST(ProjectDates, DayNumbers)
{
    double d = -1;
    ASSERT_TRUE(ParseDateTime("1899-12-30", d));
    EXPECT_EQ(0.0, d);
    ASSERT_TRUE(ParseDateTime("1900-01-01 00:00", d));
    EXPECT_EQ(2.0, d);
    ASSERT_TRUE(ParseDateTime("2024-05-01 12:00:00", d));
    EXPECT_EQ(45413.5, d);
    ASSERT_TRUE(ParseDateTime("2000-02-29 06:30:15", d));
    EXPECT_EQ("2000-02-29 06:30:15", FormatDateTime(d));
    EXPECT_FALSE(ParseDateTime("2023-02-29", d));
    EXPECT_FALSE(ParseDateTime("2024-13-01", d));
    EXPECT_FALSE(ParseDateTime("2024-05-01 25:00", d));
    EXPECT_FALSE(ParseDateTime("2024-05-01x", d));
    EXPECT_EQ("2024-05-01 12:00:00", FormatDateTime(45413.5));
}

// The component INF text is checked against the components the project
// lists; what the setup would misread is a warning naming the INF file's line.
TEST_F(ProjectTest, ComponentInfProblemsAreWarnings)
{
    Write("bad.inf", "[Comp]\r\nWebSize=12k\r\nFile1=x.dll,1.x.0.0\r\nWebSHA256=00\r\n");
    TProject p = LoadProject(
        Project(std::string(kMinimal) + "[Setup]\nComponentInf=bad.inf\n[Components]\nComponent=Comp\nComponent=Gone\n"));
    ASSERT_EQ(4u, p.Warnings.size());
    EXPECT_EQ(0u, p.Warnings[0].find("bad.inf:2: 'websize' must be a decimal number")) << p.Warnings[0];
    EXPECT_EQ(0u, p.Warnings[1].find("bad.inf:3: the version '1.x.0.0'")) << p.Warnings[1];
    EXPECT_EQ(0u, p.Warnings[2].find("bad.inf:4: WebSHA256 must be 64 hex digits")) << p.Warnings[2];
    EXPECT_EQ(0u, p.Warnings[3].find("bad.inf: component 'Gone' has no section")) << p.Warnings[3];
}
