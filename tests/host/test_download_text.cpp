// The download's numbers and texts: the percent in 64 bits, the size and
// progress texts, and the name a downloaded package gets.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "DownloadText.h"
#include "ovClass.h"

namespace {

struct TPercentCase {
    int64_t Total;
    int32_t Size;
    int32_t Expected;
};

struct TTextCase {
    const char* Input;
    const char* Expected;
};

}  // namespace

// Worked in 64 bits: past 21 MB the 32-bit product went negative; a package
// larger than its stated size goes above 100; a size of 0 or below gives 0.
TEST(DownloadPercent, Table)
{
    const TPercentCase cases[] = {
        {0, 1000, 0},
        {1, 1000, 0},
        {999, 1000, 99},
        {1000, 1000, 100},
        {4097, 4097, 100},
        {1500, 1000, 150},                                  // larger than WebSize
        {22000000, 25000000, 88},                           // 22 MB * 100 overflows 32 bits
        {25000000, 25000000, 100},
        {int64_t(3) * 1024 * 1024 * 1024, INT32_MAX, 150},  // totals past 2 GB
        {100, 0, 0},
        {100, -5, 0},
        {-1, 1000, 0},
        {INT64_MAX, 1, INT32_MAX},                          // clamped, never negative
        {int64_t(INT32_MAX) * 10, 1, INT32_MAX},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const TPercentCase& c = cases[i];
        EXPECT_EQ(c.Expected, DownloadPercent(c.Total, c.Size)) << "row " << i;
    }
}

// Every total from 0 to 64 MB in 4,097-byte steps against a 25 MB package:
// the percent never drops and never turns negative.
TEST(DownloadPercent, NeverDecreasesOverALargePackage)
{
    int32_t last = 0;
    for (int64_t total = 0; total <= 64 * 1024 * 1024; total += 4097) {
        const int32_t percent = DownloadPercent(total, 25 * 1024 * 1024);
        ASSERT_GE(percent, last) << total;
        last = percent;
    }
    EXPECT_EQ(255, last);  // 16,379 blocks: 67,104,763 bytes of 26,214,400
}

// Bytes, kilobytes, megabytes of 1,024,000 bytes with one rounded decimal,
// thousands grouped with the separators given; 64-bit sizes too.
TEST(FormatSizeText, Table)
{
    const struct {
        int64_t Bytes;
        char Thousands, Decimal;
        const char* Expected;
    } cases[] = {
        {0, ',', '.', "None"},
        {1, ',', '.', "1B"},
        {1023, ',', '.', "1023B"},
        {1024, ',', '.', "1K"},
        {1023999, ',', '.', "999K"},
        {1024000, ',', '.', "1.0M"},
        {1177600, ',', '.', "1.2M"},  // 1.15M: the half rounds up
        {1177599, ',', '.', "1.1M"},
        {1024000 * 25 + 512000, ',', '.', "25.5M"},
        {int64_t(1024000) * 1234, ',', '.', "1,234.0M"},
        {int64_t(1024000) * 1234, '.', ',', "1.234,0M"},
        {int64_t(1024000) * 1234567, ' ', '.', "1 234 567.0M"},
        {int64_t(5) * 1024 * 1024 * 1024, ',', '.', "5,242.9M"},  // past 2 GB
        {-5, ',', '.', "-5B"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
        EXPECT_EQ(cases[i].Expected, FormatSizeText(cases[i].Bytes, cases[i].Thousands, cases[i].Decimal)) << "row " << i;
}

// The second progress text: the percent sign first, then the number.
TEST(DownloadDoneText, PercentSignComesFirst)
{
    EXPECT_EQ("%42 Done (1.5M)", DownloadDoneText(42, "1.5M"));
    EXPECT_EQ("%0 Done (None)", DownloadDoneText(0, FormatSizeText(0, ',', '.')));
    EXPECT_EQ("%150 Done (37.5M)",
              DownloadDoneText(DownloadPercent(38400000, 25600000), FormatSizeText(38400000, ',', '.')));
}

// The extension of the URL's last segment, with its dot; queries and
// fragments are not part of it; anything odd after the dot gives none.
TEST(UrlFileExtension, Table)
{
    const TTextCase cases[] = {
        {"http://127.0.0.1:8080/packages/runtime.stg", ".stg"},
        {"http://host/p/runtime.STG", ".STG"},
        {"http://host/p/runtime.tar.gz", ".gz"},
        {"http://host/get.cgi?file=runtime.stg", ".cgi"},
        {"http://host/runtime.stg?v=2#top", ".stg"},
        {"http://host/runtime", ""},
        {"http://host/dir.d/runtime", ""},      // the dot of a folder is no extension
        {"http://host.example.com", ""},        // the host is no file name
        {"http://host.example.com/", ""},
        {"http://host/runtime.", ""},
        {"http://host/runtime.st g", ""},
        {"http://host/runtime.stg%2F..%2F..%2Fx", ""},
        {"http://host/a\\b.exe", ".exe"},
        {"http://host/x.abcdefghijklmnopq", ""},  // 17 characters
        {"http://host/x.abcdefghijklmnop", ".abcdefghijklmnop"},
        {"runtime.stg", ".stg"},
        {"", ""},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
        EXPECT_EQ(cases[i].Expected, UrlFileExtension(cases[i].Input)) << "row " << i << ": " << cases[i].Input;
}

// A package always lands directly in the folder: a component name that is
// not a plain file name gives no name at all.
TEST(PackageFileName, StaysInsideTheFolder)
{
    const std::string folder = "C:\\Temp\\ov~00001\\";
    EXPECT_EQ(folder + "Runtime.stg", PackageFileName(folder, "Runtime", "http://h/p/runtime.stg"));
    EXPECT_EQ(folder + "Runtime", PackageFileName(folder, "Runtime", "http://h/p/runtime"));
    EXPECT_EQ(folder + "My Runtime 2.0.stg", PackageFileName(folder, "My Runtime 2.0", "http://h/r.stg"));
    const char* refused[] = {"",     ".",      "..",     "..\\x", "a\\b",  "a/b", "C:x", "x..y", "name.",
                             "name ", "a*b",   "a?b",    "a\"b",  "a<b",   "a>b", "a|b", "a\tb"};
    for (const char* name : refused)
        EXPECT_EQ("", PackageFileName(folder, name, "http://h/r.stg")) << "name: [" << name << "]";
}
