// Where the Win32 tests find the sample libraries (client library, dialog
// library, COM server) built beside them.
#pragma once

#include <windows.h>

#include <string>

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
