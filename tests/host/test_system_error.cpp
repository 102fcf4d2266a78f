// File errors carry the system's error code beside their unchanged message;
// the tools' text adds the code and the system's words for it.
#include <gtest/gtest.h>

#include "ovClass.h"
#include "ovStream.h"

#include <cstdio>
#include <string>

namespace {

#ifdef _WIN32
const uint32_t kMissingFolder = 3;  // the path is not found
#else
const uint32_t kMissingFolder = 2;  // ENOENT
#endif
const uint32_t kMissingFile = 2;  // the same number on both systems

}  // namespace

TEST(SystemError, FileErrorsCarryTheCode)
{
    const std::string missing = "sx_no_such_file.bin";
    const std::string inMissingFolder = "sx_no_such_folder/x.bin";
    std::remove(missing.c_str());
    struct TCase {
        const char* name;
        std::string file;
        uint32_t mode;
        std::string message;
        uint32_t code;
    };
    const TCase cases[] = {
        {"open a missing file", missing, fmOpenRead, "Cannot open file " + missing, kMissingFile},
        {"create in a missing folder", inMissingFolder, fmCreate, "Cannot create file " + inMissingFolder,
         kMissingFolder},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            TFileStream f(c.file, c.mode);
            ADD_FAILURE() << "no error";
        } catch (const EStreamError& e) {
            EXPECT_EQ(e.message(), c.message);
            EXPECT_EQ(e.SystemCode(), c.code);
            const std::string words = SystemErrorText(c.code);
            ASSERT_FALSE(words.empty());
            EXPECT_NE(words.back(), '\n');
            EXPECT_NE(words.back(), '.');
            EXPECT_EQ(DescribeError(e),
                      c.message + " (system error " + std::to_string(c.code) + ": " + words + ")");
        }
    }
}

TEST(SystemError, WithoutCodeTheMessageStandsAlone)
{
    EXPECT_EQ(DescribeError(EReadError("Stream read error")), "Stream read error");
    EXPECT_EQ(DescribeError(EStreamError("Stream seek error", 29)).rfind("Stream seek error (system error 29: ", 0),
              0u);
}
