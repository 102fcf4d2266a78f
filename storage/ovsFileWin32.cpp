// The container's platform helpers over the Win32 file calls.
#include "ovsFile.h"

#include <windows.h>

bool StgSetFileArchiveOnly(const std::string& fileName)
{
    return SetFileAttributesA(fileName.c_str(), FILE_ATTRIBUTE_ARCHIVE) != 0;
}

bool StgIsLink(const std::string& fileName)
{
    DWORD attributes = GetFileAttributesA(fileName.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool StgSetFileDateNow(const std::string& fileName)
{
    HANDLE h = CreateFileA(fileName.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    BOOL ok = SetFileTime(h, nullptr, nullptr, &now);
    CloseHandle(h);
    return ok != 0;
}
