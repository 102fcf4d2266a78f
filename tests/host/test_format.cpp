// FormatText: the program's own formatter must print every integer, character
// and string conversion it knows exactly as the C library's printf does, and
// must stop reading arguments at a conversion it does not know.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ovClass.h"

namespace {

std::string LibraryFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    char buffer[512];
    int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    EXPECT_GE(n, 0);
    EXPECT_LT(n, static_cast<int>(sizeof(buffer)));
    return buffer;
}

// The C libraries of Windows (the system's and MinGW's) differ from the C
// standard, which the formatter and glibc follow, in two corners: a space or
// plus flag on an unsigned conversion puts the space or plus in ("% u" of 0:
// " 0"), and "#" with precision 0 prints nothing for an octal 0 ("0" by the
// standard). Those combinations are compared where the library is glibc.
bool ComparedOnThisLibrary(const char* flags, const char* precision, char conversion)
{
#ifdef _WIN32
    const std::string f = flags, p = precision;
    const bool isSigned = conversion == 'd' || conversion == 'i';
    if (!isSigned && f.find_first_of("+ ") != std::string::npos)
        return false;
    if (conversion == 'o' && f.find('#') != std::string::npos && (p == ".0" || p == "."))
        return false;
#endif
    return true;
}

// Formats the value with every combination of flags, width and precision for
// the given size and conversions and compares with the C library. Returns the
// number of mismatches (each one is reported).
template <typename T>
int CompareAll(const char* size, const char* conversions, const std::vector<T>& values)
{
    const char* flagSets[] = {"", "-", "0", "+", " ", "#", "-0", "+0", "- ", "#0", "-#", "+ "};
    const char* widths[] = {"", "1", "5", "12", "25"};
    const char* precisions[] = {"", ".0", ".1", ".4", ".15", "."};
    int mismatches = 0;
    for (const char* c = conversions; *c; ++c)
        for (const char* flags : flagSets)
            for (const char* width : widths)
                for (const char* precision : precisions) {
                    if (!ComparedOnThisLibrary(flags, precision, *c))
                        continue;
                    std::string format = std::string("[%") + flags + width + precision + size + *c + "]";
                    for (T value : values) {
                        std::string expected = LibraryFormat(format.c_str(), value);
                        std::string actual = FormatText(format.c_str(), value);
                        if (actual != expected) {
                            ADD_FAILURE() << format << " of " << +value << ": \"" << actual << "\", expected \""
                                          << expected << "\"";
                            if (++mismatches > 20)
                                return mismatches;
                        }
                    }
                }
    return mismatches;
}

}  // namespace

TEST(FormatText, IntegersMatchTheCLibrary)
{
    EXPECT_EQ(0, CompareAll<int>("", "di", {0, 1, -1, 7, -42, 1000000, INT_MAX, INT_MIN}));
    EXPECT_EQ(0, CompareAll<unsigned>("", "uoxX", {0u, 1u, 8u, 255u, 0xDEADBEEFu, UINT_MAX}));
    EXPECT_EQ(0, CompareAll<long>("l", "di", {0L, -5L, LONG_MAX, LONG_MIN}));
    EXPECT_EQ(0, CompareAll<unsigned long>("l", "uoxX", {0UL, 4096UL, ULONG_MAX}));
    EXPECT_EQ(0, CompareAll<long long>("ll", "di", {0LL, -1LL, 123456789012345LL, LLONG_MAX, LLONG_MIN}));
    EXPECT_EQ(0, CompareAll<unsigned long long>("ll", "uoxX", {0ULL, 0x123456789ABCDEFULL, ULLONG_MAX}));
    EXPECT_EQ(0, CompareAll<size_t>("z", "uxX", {size_t(0), size_t(77), SIZE_MAX}));
    EXPECT_EQ(0, CompareAll<intmax_t>("j", "d", {intmax_t(-3), INTMAX_MAX, INTMAX_MIN}));
    EXPECT_EQ(0, CompareAll<ptrdiff_t>("t", "d", {ptrdiff_t(-9), PTRDIFF_MAX}));
    // hh and h: the value passed as int is cut to char or short.
    EXPECT_EQ(0, CompareAll<int>("hh", "diuxX", {0, 127, 128, 255, 256 + 65, -1, -129}));
    EXPECT_EQ(0, CompareAll<int>("h", "diuxX", {0, 32767, 32768, 65535, 70000, -1}));
}

TEST(FormatText, CharactersStringsAndStarFields)
{
    struct TCase {
        std::string Actual;
        std::string Expected;
    };
    const char* name = "C:\\Program Files\\App";
    const TCase cases[] = {
        {FormatText("%s|%10s|%-10s|%.3s|%8.2s|", "abc", "abc", "abc", "abcdef", "abcdef"),
         LibraryFormat("%s|%10s|%-10s|%.3s|%8.2s|", "abc", "abc", "abc", "abcdef", "abcdef")},
        {FormatText("Cannot create file %s", name), LibraryFormat("Cannot create file %s", name)},
        {FormatText("%c%3c%-3c|", 'x', 'y', 'z'), LibraryFormat("%c%3c%-3c|", 'x', 'y', 'z')},
        {FormatText("%*d|%-*d|%*d|%.*d|%.*d|%*.*u", 6, 42, 6, 42, -6, 42, 4, 7, -1, 7, 8, 3, 5u),
         LibraryFormat("%*d|%-*d|%*d|%.*d|%.*d|%*.*u", 6, 42, 6, 42, -6, 42, 4, 7, -1, 7, 8, 3, 5u)},
        {FormatText("%%|100%%|%d%%", 50), LibraryFormat("%%|100%%|%d%%", 50)},
        {FormatText("sx~%lu.%05u", 1234UL, 7u), LibraryFormat("sx~%lu.%05u", 1234UL, 7u)},
        {FormatText("%s", ""), ""},
        {FormatText("no conversions"), "no conversions"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(c.Expected, c.Actual);
    const char* volatile none = nullptr;
    EXPECT_EQ("(null)", FormatText("%s", none));
}

// A format from outside (a text of the archive) may hold conversions the
// formatter does not know, or damaged ones: from there on the text is copied
// as it stands and no argument is read, so nothing past the given arguments
// is touched.
TEST(FormatText, UnknownOrDamagedConversionsStopReadingArguments)
{
    struct TCase {
        const char* Format;
        const char* Expected;
    };
    const TCase cases[] = {
        {"%d then %f and %s", "1 then %f and %s"},
        {"%d %n%s", "1 %n%s"},
        {"%d %p", "1 %p"},
        {"%d %lf", "1 %lf"},
        {"%d ends with %", "1 ends with %"},
        {"%d ends with %-08", "1 ends with %-08"},
        {"%d %99999d", "1 %99999d"},        // a width beyond any message
        {"%d %.99999999999d", "1 %.99999999999d"},
        {"%d %q %d", "1 %q %d"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(c.Expected, FormatText(c.Format, 1)) << c.Format;
    const std::string lonePercent = "%";
    EXPECT_EQ("%", FormatText(lonePercent.c_str()));
    EXPECT_EQ("", FormatText(nullptr));
}

// Long results are not cut: FormatText grows its string as needed.
TEST(FormatText, LongTextAndWidePadding)
{
    std::string path(3000, 'p');
    EXPECT_EQ("File too large: " + path, FormatText("File too large: %s", path.c_str()));
    EXPECT_EQ(std::string(4095, ' ') + "7", FormatText("%4096d", 7));
    EXPECT_EQ(std::string(4095, '0') + "7", FormatText("%.4096d", 7));
}
