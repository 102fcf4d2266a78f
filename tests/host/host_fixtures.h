// Helpers shared by the host tests: the build-date variable, reading a file
// whole, and a fixture with a fresh folder of test files for project files.
#pragma once

#include <gtest/gtest.h>

#include "ovFileBytes.h"
#include "ovStream.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

// Sets SOURCE_DATE_EPOCH, or removes it (null).
inline void SetEpoch(const char* value)
{
#ifdef _WIN32
    _putenv_s("SOURCE_DATE_EPOCH", value ? value : "");
#else
    if (value)
        setenv("SOURCE_DATE_EPOCH", value, 1);
    else
        unsetenv("SOURCE_DATE_EPOCH");
#endif
}

// The whole content of a file, opened with sharing. A file that cannot be
// opened raises EStreamError.
template <class TBuffer>
TBuffer ReadTestFile(const std::string& name)
{
    TBuffer bytes;
    if (!ReadWholeFile(name, kWholeFileLimit, bytes, fmShareDenyNone))
        ADD_FAILURE() << name << " is too large to read whole";
    return bytes;
}
inline std::vector<uint8_t> ReadFileBytes(const std::string& name) { return ReadTestFile<std::vector<uint8_t>>(name); }
inline std::string ReadFileText(const std::string& name) { return ReadTestFile<std::string>(name); }

// A fresh folder under the test's temporary folder, with forward slashes
// (the loader gives paths so on every platform), and files written into it.
class TFolderTest : public testing::Test {
protected:
    void MakeFolder(const std::string& name)
    {
        Dir = testing::TempDir() + name;
        for (char& c : Dir)
            if (c == '\\')
                c = '/';
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
        std::filesystem::create_directories(Dir, ec);
    }
    static void Mk(const std::string& d)
    {
        std::error_code ec;
        std::filesystem::create_directories(d, ec);
    }
    void Write(const std::string& rel, const std::string& text)
    {
        TFileStream f(Dir + "/" + rel, fmCreate);
        if (!text.empty())
            f.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
    }
    // Writes the project text as p.ini and returns its path.
    std::string Project(const std::string& text)
    {
        Write("p.ini", text);
        return Dir + "/p.ini";
    }
    std::string Dir;
};
