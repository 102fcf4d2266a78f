// Helpers shared by the Win32 tests: where the sample libraries (client
// library, dialog library, COM server) are built, reading and writing a
// file whole, and removing a scratch folder tree.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A sample library built beside the tests: <build>\examples\samples\<name>\<file>,
// or under SX_SAMPLES_DIR when that is set.
inline std::string SamplePath(const std::string& name, const std::string& file)
{
    char buffer[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA("SX_SAMPLES_DIR", buffer, sizeof(buffer));
    if (n > 0 && n < sizeof(buffer))
        return std::string(buffer, n) + "\\" + name + "\\" + file;
    n = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
    std::string exe(buffer, n);
    std::string tests = exe.substr(0, exe.find_last_of('\\'));
    std::string build = tests.substr(0, tests.find_last_of('\\'));
    return build + "\\examples\\samples\\" + name + "\\" + file;
}

// The whole content of a file; missing (empty unless given) when it cannot be
// opened. Opened with sharing, so a file another process still holds can be
// read.
inline std::string ReadFileText(const std::string& path, const std::string& missing = std::string())
{
    std::string text;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return missing;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        text.append(chunk, got);
    CloseHandle(h);
    return text;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::string text = ReadFileText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Creates or replaces the file at path with text; false when it cannot be
// created or written whole.
inline bool WriteFileText(const std::string& path, const std::string& text)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    CloseHandle(h);
    return ok;
}

// Deletes a folder and everything in it (read-only files too).
inline void DeleteTree(const std::string& folder)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(path);
            else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}
