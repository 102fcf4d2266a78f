// The container's platform helpers over the Win32 file calls.
#include "ovsFile.h"

#include <windows.h>

#include "ovHandlesWin32.h"

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
    TFileHandle file(CreateFileA(fileName.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return SetFileTime(file.get(), nullptr, nullptr, &now) != 0;
}
