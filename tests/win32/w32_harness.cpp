// Proves the Win32 test harness: the test runs under Wine, sees Wine's real
// registry and reads an RCDATA resource of its own module.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

// The registry holds the value that the folder macros read.
TEST(Harness, ReadsProgramFilesDirFromRegistry)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                                           KEY_READ, &key));
    char value[MAX_PATH] = {};
    DWORD size = sizeof(value), type = 0;
    LONG rc = RegQueryValueExA(key, "ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, rc);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_STREQ("C:\\Program Files", value);
}

// An RCDATA resource of the module reads back byte for byte.
TEST(Harness, ReadsRcdataResource)
{
    HRSRC res = FindResourceA(nullptr, "SX_TEST_DATA", MAKEINTRESOURCEA(10));
    ASSERT_NE(nullptr, res);
    HGLOBAL mem = LoadResource(nullptr, res);
    ASSERT_NE(nullptr, mem);
    const char* data = static_cast<const char*>(LockResource(mem));
    DWORD size = SizeofResource(nullptr, res);
    const char expected[] = "harness payload\0\x01\x02\xff";
    ASSERT_EQ(sizeof(expected) - 1, size);
    EXPECT_EQ(0, memcmp(expected, data, size));
}
