// Shared fixture of the installation-utility tests: a fresh folder under the
// temporary folder and a scratch key under HKEY_CURRENT_USER\Software, both
// removed in TearDown. Helpers use the raw Win32 calls, so that they do not
// depend on the code under test.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include "w32_helpers.h"

#include <string>
#include <vector>

class UtilsFixture : public ::testing::Test {
public:
    void SetUp() override
    {
        char temp[MAX_PATH + 1];
        DWORD n = GetTempPathA(sizeof(temp), temp);
        ASSERT_GT(n, 0u);
        std::string base(temp, n);
        if (base.back() != '\\')
            base += '\\';
        static int counter = 0;
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        Folder = base + "sxt_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter) + "_" +
                 info->name();
        ASSERT_TRUE(CreateDirectoryA(Folder.c_str(), nullptr)) << Folder;
        KeyPath = "Software\\SxTests\\" + std::to_string(GetCurrentProcessId()) + "_" + info->name();
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        RegCloseKey(key);
    }

    void TearDown() override
    {
        DeleteTree(Folder);
        DeleteKeyTree(HKEY_CURRENT_USER, KeyPath);
        HKEY parent = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_ALL_ACCESS, &parent) == ERROR_SUCCESS) {
            RegDeleteKeyA(parent, "SxTests");  // fails while other tests' keys remain
            RegCloseKey(parent);
        }
    }

    // A path inside the test folder.
    std::string Path(const std::string& name) const { return Folder + "\\" + name; }

    static void WriteBytes(const std::string& fileName, const std::string& bytes)
    {
        HANDLE h = CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << fileName;
        DWORD written = 0;
        if (!bytes.empty())
            WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
        ASSERT_EQ(bytes.size(), written);
    }

    static std::string ReadBytes(const std::string& fileName) { return ReadFileText(fileName, "<missing>"); }

    static bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

    static bool IsFolder(const std::string& path)
    {
        DWORD a = GetFileAttributesA(path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }


    static bool DeleteKeyTree(HKEY root, const std::string& path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            char name[256];
            for (;;) {
                DWORD len = sizeof(name);
                if (RegEnumKeyExA(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    break;
                if (!DeleteKeyTree(key, name))
                    break;
            }
            RegCloseKey(key);
        }
        return RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS;
    }

    std::string Folder;   // fresh, no trailing backslash
    std::string KeyPath;  // below HKEY_CURRENT_USER, exists at the start
};
