// The shared text helpers: case-blind comparison of ASCII letters only, and
// trimming of blanks and control characters.
#include <gtest/gtest.h>

#include "ovText.h"

#include <string>
#include <utility>

TEST(Text, SameTextAsciiFoldsOnlyAsciiLetters)
{
    struct TCase {
        std::string a, b;
        bool same;
    };
    const TCase cases[] = {
        {"Setup.EXE", "setup.exe", true},
        {"", "", true},
        {"abc", "abcd", false},
        {"@[", "`{", false},                 // one bit apart, but not letters
        {"\xC9t\xE9", "\xE9T\xC9", false},  // Latin-1 letters are compared as they are
        {std::string("a\0b", 3), std::string("A\0B", 3), true},
        {std::string("a\0b", 3), "a", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.a + " / " + c.b);
        EXPECT_EQ(SameTextAscii(c.a, c.b), c.same);
        EXPECT_EQ(SameTextAscii(c.b, c.a), c.same);
    }
}

TEST(Text, TrimRemovesBlanksAndControlsAtTheEnds)
{
    const std::pair<std::string, std::string> cases[] = {
        {"  name = value \r\n", "name = value"},
        {"\t\x01x\x1F", "x"},
        {" \t\r\n", ""},
        {"", ""},
        {"a  b", "a  b"},
        {"\xA0word\xA0", "\xA0word\xA0"},  // bytes above 127 are text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(Trim(c.first), c.second);
    }
}
