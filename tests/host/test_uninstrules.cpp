// The rules of a clean install and uninstall: folders a run creates, keys an
// uninstall may remove, the shared uninstaller's count and the entry values
// taken from the version information.
#include <gtest/gtest.h>

#include "sxUninstRules.h"

#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Missing(const std::string& path, const std::set<std::string>& existing, bool* ok = nullptr)
{
    std::vector<std::string> out;
    bool r = MissingFolders(path, [&](const std::string& f) { return existing.count(f) > 0; }, out);
    if (ok)
        *ok = r;
    return out;
}

}  // namespace

// Only the levels that do not exist are listed, outermost first; a folder
// that existed before never is.
TEST(UninstRules, MissingFoldersOnTheWayToTheTarget)
{
    const std::set<std::string> pf = {"C:\\Program Files"};
    struct {
        const char* Path;
        std::set<std::string> Existing;
        std::vector<std::string> Expected;
    } cases[] = {
        {"C:\\Program Files\\Example Product", pf, {"C:\\Program Files\\Example Product"}},
        {"C:\\Program Files\\Example Product\\", pf, {"C:\\Program Files\\Example Product"}},
        {"C:\\Program Files\\Maker\\Product\\bin", pf,
         {"C:\\Program Files\\Maker", "C:\\Program Files\\Maker\\Product", "C:\\Program Files\\Maker\\Product\\bin"}},
        {"C:\\Program Files\\Maker\\Product", {"C:\\Program Files", "C:\\Program Files\\Maker"},
         {"C:\\Program Files\\Maker\\Product"}},
        {"C:\\Program Files", pf, {}},
        {"C:\\Program Files\\\\Doubled", pf, {"C:\\Program Files\\Doubled"}},
        {"C:\\", {}, {}},
        {"\\\\server\\share\\Product\\docs", {"\\\\server\\share\\Product"}, {"\\\\server\\share\\Product\\docs"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        bool ok = false;
        EXPECT_EQ(c.Expected, Missing(c.Path, c.Existing, &ok));
        EXPECT_TRUE(ok);
    }
    // Below a missing level nothing is asked: a confused answer cannot make
    // the list skip a folder that the run will create.
    std::vector<std::string> out;
    ASSERT_TRUE(MissingFolders("D:\\A\\B", [](const std::string& f) { return f == "D:\\A\\B"; }, out));
    EXPECT_EQ((std::vector<std::string>{"D:\\A", "D:\\A\\B"}), out);
}

TEST(UninstRules, MissingFoldersRefusesOtherForms)
{
    for (const char* path : {"relative\\folder", "", "\\\\server", "\\\\server\\share", "\\\\\\share\\x",
                             "C:\\Program Files\\*", "\\root\\only"}) {
        SCOPED_TRACE(path);
        bool ok = true;
        Missing(path, {}, &ok);
        EXPECT_FALSE(ok);
    }
}

// A reinstall over an earlier record keeps the folders that the first run
// made (the second found them existing) ahead of its own.
TEST(UninstRules, ReinstallKeepsTheEarlierRecordedFolders)
{
    const std::vector<std::string> record = {
        "[Files]", "C:\\P\\a.txt", "[Folders]", "  C:\\P  ", "", "C:\\P\\docs",
        "[General]", "ProgramName=P", "[folders]", "C:\\Start\\P", "[Registry]", "HKEY_CURRENT_USER\\Software\\P=*"};
    std::vector<std::string> earlier = SectionLines(record, "Folders");
    EXPECT_EQ((std::vector<std::string>{"C:\\P", "C:\\P\\docs", "C:\\Start\\P"}), earlier);
    EXPECT_EQ((std::vector<std::string>{"ProgramName=P"}), SectionLines(record, "general"));
    EXPECT_TRUE(SectionLines(record, "UninstallKey").empty());

    // The second run made only a new subfolder; the rest it found.
    EXPECT_EQ((std::vector<std::string>{"C:\\P", "C:\\P\\docs", "C:\\Start\\P", "C:\\P\\new"}),
              MergeRecordedFolders(earlier, {"c:\\p\\DOCS", "C:\\P\\new"}));
    EXPECT_EQ((std::vector<std::string>{"C:\\A", "C:\\A\\B"}),
              MergeRecordedFolders({}, {"C:\\A", "C:\\A\\B", "c:\\a"}));
}

// The maker's shared keys are kept while they hold anything and go once
// empty; the system's structure keys never go.
TEST(UninstRules, ProtectedKeysAndTheEmptyKeyRule)
{
    struct {
        const char* Key;
        bool Protected;
        bool GoesWhenEmpty;
    } cases[] = {
        {"", true, false},
        {"Software", true, false},
        {"SOFTWARE\\microsoft\\windows\\currentversion\\uninstall", true, false},
        {"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", true, true},
        {"Software\\Classes", true, false},
        {"CLSID", true, false},
        {"Software\\Orvale Systems", true, true},
        {"software\\orvale systems\\uninstall icons", true, true},
        {"Software\\Orvale Systems\\Example Product", false, true},
        {"Software\\Other Maker", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Key);
        EXPECT_EQ(c.Protected, IsProtectedKey(c.Key));
        EXPECT_EQ(c.GoesWhenEmpty, MayRemoveWhenEmpty(c.Key));
    }
}

// Above a product's key: the maker's keys that may go once empty, innermost
// first; the system's keys are never among them.
TEST(UninstRules, MakerKeysAboveAProductKey)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(V({"Software\\Orvale Systems"}), MakerKeysAtOrAbove("Software\\Orvale Systems\\Product\\Settings"));
    EXPECT_EQ(V({"Software\\Orvale Systems\\Uninstall Icons", "Software\\Orvale Systems"}),
              MakerKeysAtOrAbove("Software\\Orvale Systems\\Uninstall Icons"));
    EXPECT_EQ(V(), MakerKeysAtOrAbove("Software\\Other Maker\\Product"));
    EXPECT_EQ(V(), MakerKeysAtOrAbove(""));
}

// Two products share the uninstaller; each raises the count once, however
// often it is installed, and the file goes with the last one.
TEST(UninstRules, SharedCountFollowsTheProducts)
{
    bool exists = false;
    uint32_t count = 0;
    bool aCounted = false, bCounted = false;
    auto install = [&](bool& counted) {
        count = RaiseSharedCount(exists, count, counted, exists);
        exists = true;
        counted = true;
    };
    auto uninstall = [&](bool& counted) {
        TSharedRelease r = LowerSharedCount(exists, count, counted);
        counted = false;
        if (r.Change) {
            count = r.Count;
            exists = r.Count > 0;
        }
        return r.RemoveFile;
    };
    install(aCounted);
    EXPECT_EQ(1u, count);
    install(aCounted);  // reinstall over itself
    EXPECT_EQ(1u, count);
    install(bCounted);
    EXPECT_EQ(2u, count);
    EXPECT_FALSE(uninstall(aCounted));
    EXPECT_EQ(1u, count);
    EXPECT_TRUE(exists);
    EXPECT_TRUE(uninstall(bCounted));
    EXPECT_FALSE(exists);
    // A product installed again after the file was gone starts over.
    install(aCounted);
    EXPECT_EQ(1u, count);
    EXPECT_TRUE(uninstall(aCounted));

    // A file that an uncounted setup left: this product's uninstall keeps it.
    count = RaiseSharedCount(false, 0, false, true);
    exists = true;
    aCounted = true;
    EXPECT_FALSE(uninstall(aCounted));
    EXPECT_EQ(1u, count);
}

TEST(UninstRules, SharedCountEdges)
{
    // Another installer's count is kept and raised, never reset.
    EXPECT_EQ(4u, RaiseSharedCount(true, 3, false, true));
    EXPECT_EQ(3u, RaiseSharedCount(true, 3, true, true));
    EXPECT_EQ(1u, RaiseSharedCount(true, 0, true, true));
    EXPECT_EQ(0xFFFFFFFFu, RaiseSharedCount(true, 0xFFFFFFFFu, false, true));
    // No count: a file that was there belongs to someone uncounted as well.
    EXPECT_EQ(1u, RaiseSharedCount(false, 0, false, false));
    EXPECT_EQ(2u, RaiseSharedCount(false, 0, false, true));
    EXPECT_EQ(1u, RaiseSharedCount(false, 7, true, true));  // this product's count removed by hand

    // A product that never raised it, or a value removed by hand: no change,
    // and the file stays (its owners are unknown).
    TSharedRelease r = LowerSharedCount(true, 2, false);
    EXPECT_FALSE(r.Change);
    EXPECT_FALSE(r.RemoveFile);
    r = LowerSharedCount(false, 0, true);
    EXPECT_FALSE(r.Change);
    EXPECT_FALSE(r.RemoveFile);
    // A damaged zero still ends at zero, with the file removed.
    r = LowerSharedCount(true, 0, true);
    EXPECT_TRUE(r.Change);
    EXPECT_EQ(0u, r.Count);
    EXPECT_TRUE(r.RemoveFile);
    r = LowerSharedCount(true, 5, true);
    EXPECT_EQ(4u, r.Count);
    EXPECT_FALSE(r.RemoveFile);
}

TEST(UninstRules, EstimatedSizeCountsOnlyTheProductsFiles)
{
    const std::string shared = "C:\\Program Files\\Common Files\\Orvale Systems\\ovUninst.exe";
    EXPECT_TRUE(CountsTowardsSize(0, 1, "C:\\Program Files\\P\\a.txt", shared));
    EXPECT_TRUE(CountsTowardsSize(-1, -1, "C:\\Program Files\\P\\a.txt", shared));
    EXPECT_FALSE(CountsTowardsSize(1, 1, "C:\\Temp\\P Setup\\setup.inf", shared));
    EXPECT_FALSE(CountsTowardsSize(2, 1, "c:\\program files\\common files\\orvale systems\\OVUNINST.EXE", shared));
    EXPECT_TRUE(CountsTowardsSize(2, 1, shared, ""));

    EXPECT_EQ(0u, KibibytesOf(0));
    EXPECT_EQ(0u, KibibytesOf(-5));
    EXPECT_EQ(1u, KibibytesOf(1));
    EXPECT_EQ(1u, KibibytesOf(1024));
    EXPECT_EQ(2u, KibibytesOf(1025));
    EXPECT_EQ(0xFFFFFFFFu, KibibytesOf(int64_t(1) << 50));
}

// The entry shows what the project wrote into [Version]; the setup program's
// own texts describe the setup program, not the product.
TEST(UninstRules, EntryValuesFromVersionInformation)
{
    const TVersionStrings stub = {{"CompanyName", "Orvale Systems"}, {"FileDescription", "Setup"},
                                  {"FileVersion", "1.0.0.0"},        {"InternalName", "setup"},
                                  {"OriginalFilename", "setup.exe"}, {"ProductName", "Setup"},
                                  {"ProductVersion", "1.0.0.0"}};
    EXPECT_TRUE(IsStubVersionInfo(stub));
    TEntryVersion v = EntryValuesFromVersion(stub);
    EXPECT_EQ("", v.DisplayVersion);
    EXPECT_EQ("", v.Publisher);

    TVersionStrings project = stub;
    project[1].second = "Example Product Setup";
    project[4].second = "ExampleSetup.exe";
    project[6].second = " 2.5.1 ";
    project.emplace_back("urlinfoabout", "https://example.invalid/product");
    project[0].second = "Maker Ltd";
    EXPECT_FALSE(IsStubVersionInfo(project));
    v = EntryValuesFromVersion(project);
    EXPECT_EQ("2.5.1", v.DisplayVersion);
    EXPECT_EQ("Maker Ltd", v.Publisher);
    EXPECT_EQ("https://example.invalid/product", v.URLInfoAbout);

    v = EntryValuesFromVersion({{"FileVersion", "3.0"}});
    EXPECT_EQ("", v.DisplayVersion);
    EXPECT_EQ("", v.Publisher);
    EXPECT_EQ("", v.URLInfoAbout);
}
