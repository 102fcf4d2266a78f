// The portable rules of the component setup: SHA-256 on published vectors,
// the digest text, version texts and the satisfaction order, component names,
// the builder's check of a component INF text and the download page.
#include <gtest/gtest.h>

#include "host/host_fixtures.h"
#include "ovClass.h"
#include "ovSHA256.h"
#include "ovStgImp.h"
#include "ovStream.h"
#include "ovsMain.h"
#include "sxCompRules.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

TEST(SHA256, PublishedVectorsAndBlockBoundaries)
{
    struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        // Lengths around the padding boundaries (one or two final blocks).
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TSHA256::HexDigest(c.message.data(), c.message.size()), c.digest) << c.message.size();
        // The same message fed in uneven pieces gives the same digest.
        TSHA256 hash;
        size_t pos = 0;
        for (size_t step = 1; pos < c.message.size(); step = step * 3 % 67 + 1) {
            size_t take = std::min(step, c.message.size() - pos);
            hash.Update(c.message.data() + pos, take);
            pos += take;
        }
        uint8_t digest[32];
        hash.Final(digest);
        EXPECT_EQ(SHA256ToHex(digest), c.digest) << "in pieces, " << c.message.size();
    }
}

TEST(SHA256, MillionA)
{
    // Fed in 4,097-byte blocks, the size the download writes.
    std::string block(4097, 'a');
    TSHA256 hash;
    size_t left = 1000000;
    while (left) {
        size_t take = std::min(left, block.size());
        hash.Update(block.data(), take);
        left -= take;
    }
    uint8_t digest[32];
    hash.Final(digest);
    EXPECT_EQ(SHA256ToHex(digest), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Final resets: the object hashes the next message from scratch.
    hash.Update("abc", 3);
    hash.Final(digest);
    EXPECT_EQ(SHA256ToHex(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(SHA256, HexDigestText)
{
    const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string upper = lower;
    for (char& c : upper)
        c = static_cast<char>(toupper(c));
    std::string mixed = lower;
    mixed[0] = 'B';
    mixed[63] = 'D';
    for (const std::string& text : {lower, upper, mixed}) {
        uint8_t digest[32] = {};
        ASSERT_TRUE(ParseSHA256Hex(text, digest)) << text;
        EXPECT_EQ(SHA256ToHex(digest), lower);
    }
    const std::string bad[] = {
        "",
        lower.substr(0, 63),               // one digit short
        lower + "0",                       // one digit long
        " " + lower.substr(1),             // a blank
        lower.substr(0, 63) + "g",         // not a hex digit
        lower.substr(0, 32) + "-" + lower.substr(33),
    };
    for (const std::string& text : bad) {
        uint8_t digest[32] = {};
        EXPECT_FALSE(ParseSHA256Hex(text, digest)) << "'" << text << "'";
    }
}

std::string VersionText(const TCompVersion& v)
{
    return std::to_string(v.Major) + "." + std::to_string(v.Minor) + "." + std::to_string(v.Release) + "." +
           std::to_string(v.Build);
}

TEST(CompVersion, Parsing)
{
    struct Case {
        const char* text;
        const char* parsed;
    } cases[] = {
        {"1.2.3.4", "1.2.3.4"},
        {"10.0.19041.1", "10.0.19041.1"},
        {"1.2.3", "0.0.0.0"},           // fewer than three dots
        {"", "0.0.0.0"},
        {"7", "0.0.0.0"},
        {" 1. 2.+3.4", "1.2.3.4"},      // leading blanks and a sign
        {"65536.65535.1.2", "0.65535.1.2"},  // kept as 16-bit numbers
        {"-1.0.0.0", "65535.0.0.0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VersionText(ParseCompVersion(c.text)), c.parsed) << c.text;

    // A part that is not a decimal number is an error; the fourth part is the
    // whole rest of the text, so a fifth number is an error too.
    for (const char* text : {"1.2.3.x", "a.0.0.0", "1..2.3", "1.2.3.4.5", "1.2.3.", "1.2.3.4 ", "1.2.3.0x10",
                             "99999999999.0.0.0"}) {
        EXPECT_THROW(ParseCompVersion(text), EConvertError) << text;
    }
}

TEST(CompVersion, SatisfactionOrder)
{
    struct Case {
        const char* present;
        const char* required;
        bool satisfied;
    } cases[] = {
        {"1.5.0.0", "1.5.0.0", true},    // equal
        {"2.0.0.0", "1.5.0.0", true},    // higher major, lower minor
        {"1.5.3.0", "1.5.2.0", true},
        {"1.6.0.0", "1.5.9.9", true},    // higher minor, lower release and build
        {"1.5.3.0", "1.5.2.9", true},    // higher release, lower build
        {"1.5.2.10", "1.5.2.9", true},   // numbers, not text
        {"1.4.9.9", "1.5.0.0", false},
        {"1.5.1.9", "1.5.2.0", false},
        {"1.5.2.8", "1.5.2.9", false},
        {"1.0.0.0", "2.0.0.0", false},
        {"0.0.0.0", "9.9.9.9", true},    // no version information satisfies anything
        {"0.9.0.0", "1.0.0.0", true},    // major 0 counts as no version information
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompVersionSatisfies(ParseCompVersion(c.present), ParseCompVersion(c.required)), c.satisfied)
            << c.present << " against " << c.required;
}

TEST(CompVersion, FileInstalledRules)
{
    // The disk: two files with a version, one without.
    std::map<std::string, std::string> disk = {
        {"C:\\sys\\lib.dll", "2.0.0.0"}, {"C:\\sys\\old.dll", "1.4.0.0"}, {"C:\\sys\\plain.dll", "0.0.0.0"}};
    int looks = 0;
    auto exists = [&](const std::string& path) {
        ++looks;
        return disk.count(path) > 0;
    };
    auto version = [&](const std::string& path) { return ParseCompVersion(disk.at(path)); };
    struct Case {
        const char* path;
        const char* version;
        bool installed;
        bool looked;  // the disk was asked
    } cases[] = {
        {"C:\\sys\\lib.dll", "1.5.0.0", true, true},     // newer present satisfies older required
        {"C:\\sys\\lib.dll", "2.0.0.1", false, true},
        {"C:\\sys\\old.dll", "1.5.0.0", false, true},
        {"C:\\sys\\lib.dll", "", true, true},            // no version asked: present is enough
        {"C:\\sys\\missing.dll", "", false, true},
        {"C:\\sys\\missing.dll", "1.0.0.0", false, true},
        {"C:\\sys\\plain.dll", "3.0.0.0", true, true},   // no version information
        {"C:\\sys\\lib.dll", "0.0.0.0", false, false},   // always missing
        {"C:\\sys\\setup.INF", "", true, false},         // scripts count as installed
        {"C:\\sys\\setup.inf", "0.0.0.0", false, false},
        {"C:\\sys\\lib.dll", "1.2.3", true, true},       // fewer than three dots: 0.0.0.0 required
        {"C:\\sys.inf\\lib", "", false, true},           // the folder's dot is no extension
    };
    for (const Case& c : cases) {
        looks = 0;
        EXPECT_EQ(IsCompFileInstalled(c.path, c.version, exists, version), c.installed) << c.path << "," << c.version;
        EXPECT_EQ(looks > 0, c.looked) << c.path << "," << c.version;
    }
    // A bad required version is an error even for a file without version
    // information; a missing file never gets that far.
    EXPECT_THROW(IsCompFileInstalled("C:\\sys\\plain.dll", "1.x.0.0", exists, version), EConvertError);
    EXPECT_FALSE(IsCompFileInstalled("C:\\sys\\missing.dll", "1.x.0.0", exists, version));
}

TEST(CompNames, PlainFileNamesOnly)
{
    for (const char* good : {"Example Runtime", "msvcrt", "a.b", "x-1_2", "v1.0 beta"})
        EXPECT_TRUE(IsPlainComponentName(good)) << good;
    for (const char* bad : {"", "..", "..\\evil", "a\\b", "a/b", "C:evil", "x..y", "\\\\server\\share"})
        EXPECT_FALSE(IsPlainComponentName(bad)) << bad;
}

TEST(CompInf, BuilderCheck)
{
    const std::vector<std::string> good = {
        "; shared runtime",
        "[Example Runtime]",
        "Description=The runtime",
        "WebAddress=http://example.invalid/rt.stg",
        "LocalAddress=<ThisDir>\\rt.stg",
        "WebSize=1234",
        "FileCount=2",
        "File1=<SystemDir>\\rt.dll,1.2.0.0",
        "File2=<SystemDir>\\rt.inf",
        "OnDone.InfFile=<SystemDir>\\rt.inf",
        "OnDone.Command=",
        "OnDone.Param=",
        "WebSHA256=BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
        "[Unused]",
        "Whatever=is not checked",
    };
    EXPECT_TRUE(CheckComponentInf(good, {"example runtime"}).empty());

    struct Case {
        std::vector<std::string> lines;
        std::vector<std::string> names;
        const char* problem;  // text the single problem contains
    } cases[] = {
        {{"[A]", "WebSize=12k"}, {"A"}, "line 2: 'websize' must be a decimal number"},
        {{"[A]", "FileCount=-1"}, {"A"}, "line 2: 'filecount' must be a decimal number"},
        {{"[A]", "FileCount=5000"}, {"A"}, "at most 4096 files"},
        {{"[A]", "File1=x.dll,1.2.x.4"}, {"A"}, "line 2: the version '1.2.x.4'"},
        {{"[A]", "WebSHA256=abc"}, {"A"}, "line 2: WebSHA256 must be 64 hex digits"},
        {{"[A]", "WebAdress=http://x/a.stg"}, {"A"}, "line 2: unknown component key 'WebAdress'"},
        {{"[A]", "just text"}, {"A"}, "line 2: 'just text' is not a 'Key = value' line"},
        {{"[A]"}, {"A", "B"}, "component 'B' has no section"},
        {{"[..\\A]"}, {"..\\A"}, "is not a plain file name"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> problems = CheckComponentInf(c.lines, c.names);
        ASSERT_EQ(problems.size(), 1u) << c.problem;
        EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
    }
    // The first of equal keys is the one the setup reads.
    EXPECT_TRUE(CheckComponentInf({"[A]", "WebSize=1", "WebSize=x"}, {"A"}).empty());
}

TEST(DownloadPage, ExactBytes)
{
    std::string row = DownloadPageRow("Runtime", "1.5M", "http://h/rt.stg");
    EXPECT_EQ(row,
              "<tr><td  bgcolor=\"#FFF0CA\" ><font size=\"2\">Runtime</font></td><td  bgcolor=\"#FFF0CA\" "
              "align=\"center\" width=\"100\"><font size=\"2\">1.5M</font></td><td  bgcolor=\"#FFF0CA\" ><a "
              "href=\"http://h/rt.stg\"><font size=\"2\">http://h/rt.stg</font></td></tr>");
    std::string page = DownloadPageText("Demo", row);
    const std::string expected =
        "<html><head><title>Download shared Lumara components.</title></head><body bgcolor=\"#FFFFF0\"><p><font "
        "color=\"#000080\" size=\"4\"><strong>Download shared components.</strong></font></p><font size=\"2\"><p>Many "
        "of components are shared by all Lumara applications, so once you downloaded and installed them, you can "
        "tremendously reduce download size for all other products.</p><p>In order to use Demo on your computer, you "
        "need to install the listed below component(s).</p><p>Just click the links in your Internet Browser to start "
        "download, save all downloaded files in some folder, then start setup again and point to this folder when "
        "will be prompted.</p></font><table><tr><td bgcolor=\"#800000\"><font color=\"#FFFFFF\"><strong>Required "
        "Component</strong></font></td><td bgcolor=\"#800000\" align=\"center\" width=\"100\"><font "
        "color=\"#FFFFFF\"><strong> Size </strong></font></td><td bgcolor=\"#800000\"><font "
        "color=\"#FFFFFF\"><strong>Web Location</strong></font></td></tr>" +
        row + "</table><p>&nbsp;</p><p><font size=\"2\"><em><strong>Thank you for using Lumara "
              "products.</strong></em></font></p></body></html>\r\n";
    EXPECT_EQ(page, expected);
    // One line: the only line break is the final CR LF.
    EXPECT_EQ(page.find_first_of("\r\n"), page.size() - 2);
}

TEST(DownloadPage, PlaceholderOrder)
{
    // The product name is put in first: a "%LIST%" in it receives the rows
    // too; a "%PRODUCT%" in a row stays as it is.
    std::string page = DownloadPageText("P %LIST% Q", "<tr>%PRODUCT%</tr>");
    EXPECT_NE(page.find("use P <tr>%PRODUCT%</tr> Q on"), std::string::npos);
    EXPECT_NE(page.find("</tr><tr>%PRODUCT%</tr></table>"), std::string::npos);
    // No rows: the table holds only its header row.
    EXPECT_NE(DownloadPageText("P", "").find("Web Location</strong></font></td></tr></table>"), std::string::npos);
}

TEST(DownloadPage, StatusText)
{
    EXPECT_EQ(DownloadStatusText("1.5M", "7 min 24 sec"),
              "The total size is 1.5M. Download time for 28.8 BPS modem is 7 min 24 sec");
    EXPECT_EQ(DownloadSeconds(0), 0);
    EXPECT_EQ(DownloadSeconds(3599), 0);
    EXPECT_EQ(DownloadSeconds(3600), 1);
    EXPECT_EQ(DownloadSeconds(1600000), 444);
}

TEST(ComponentPackage, OpenedReadOnlyForExtraction)
{
    // An auto-compacting package with a deleted entry: opened for writing it
    // would be compacted in place; opened read-only it stays byte for byte,
    // and a read-only file installs.
    // Names of this process: other test runs may share the folder.
    const std::string base = testing::TempDir() + "comp_readonly_" + std::to_string(getpid());
    const std::string package = base + ".stg";
    const std::string target = base + ".dll";
    std::remove(package.c_str());
    TStgCreateOptions options;
    options.Flags = stgPacked | stgScrambled | stgAutoCompact;
    {
        TStgWriter writer(package, options);
        writer.AddEntry("old.dll", "stale", 5);
        writer.AddEntry("rt.dll", "runtime bytes", 13);
        writer.Commit();
    }
    ASSERT_EQ(StgMarkDeleted(package, "old.dll"), 1);
    const std::string before = ReadFileText(package);
    chmod(package.c_str(), 0444);

    TStgHandle handle = nullptr;
    ASSERT_EQ(StgOpenReadOnly(package.c_str(), "", &handle), stgOk);
    TStgSearchFilter filter;
    filter.Mask = stgAttrComponentFile;
    TStgSearchRec record;
    filter.Name = "OLD.DLL";  // deleted: no longer found by the mask
    EXPECT_EQ(StgFindFirst(handle, &filter, &record), stgErrNotFound);
    StgFindClose(handle, record);
    filter.Name = "RT.DLL";  // names compared without regard to case
    ASSERT_EQ(StgFindFirst(handle, &filter, &record), stgOk);
    StgFindClose(handle, record);
    EXPECT_EQ(StgExtractFile(handle, record.Id, target.c_str(), 0), stgOk);
    EXPECT_EQ(StgClose(handle), stgOk);
    EXPECT_EQ(ReadFileText(target), "runtime bytes");
    EXPECT_EQ(ReadFileText(package), before);

    // The writing open compacts the same file (what the read-only open avoids).
    chmod(package.c_str(), 0644);
    ASSERT_EQ(StgOpen(package.c_str(), "", &handle), stgOk);
    StgClose(handle);
    EXPECT_NE(ReadFileText(package), before);
    std::remove(package.c_str());
    std::remove(target.c_str());
}

}  // namespace
