// TFileStream over the Win32 file calls.
#include "ovStream.h"

#include <windows.h>

#include "ovHandlesWin32.h"

namespace {
HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}

TFileStream::TFileStream(const std::string& fileName, uint32_t mode) : Name(fileName), Handle(-1)
{
    HANDLE h;
    if (mode == fmCreate) {
        h = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD err = GetLastError();
            throw EFCreateError(FormatText("Cannot create file %s", fileName.c_str()), err);
        }
    } else {
        DWORD access = GENERIC_READ;
        if ((mode & 3) == fmOpenWrite)
            access = GENERIC_WRITE;
        else if ((mode & 3) == fmOpenReadWrite)
            access = GENERIC_READ | GENERIC_WRITE;
        DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        if (mode & fmShareExclusive)
            share = 0;
        else if (mode & fmShareDenyWrite)
            share = FILE_SHARE_READ;
        h = CreateFileA(fileName.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD err = GetLastError();
            throw EFOpenError(FormatText("Cannot open file %s", fileName.c_str()), err);
        }
    }
    Handle = reinterpret_cast<intptr_t>(h);
}

TFileStream::~TFileStream()
{
    TFileHandle owner(AsHandle(Handle));
}

int32_t TFileStream::Read(void* buffer, int32_t count)
{
    if (count <= 0)
        return 0;
    DWORD done = 0;
    if (!ReadFile(AsHandle(Handle), buffer, static_cast<DWORD>(count), &done, nullptr))
        return 0;
    return static_cast<int32_t>(done);
}

int32_t TFileStream::Write(const void* buffer, int32_t count)
{
    if (count <= 0)
        return 0;
    DWORD done = 0;
    if (!WriteFile(AsHandle(Handle), buffer, static_cast<DWORD>(count), &done, nullptr))
        return 0;
    return static_cast<int32_t>(done);
}

int64_t TFileStream::Seek(int64_t offset, int origin)
{
    LARGE_INTEGER dist, result;
    dist.QuadPart = offset;
    DWORD method = origin == soFromBeginning ? FILE_BEGIN : origin == soFromCurrent ? FILE_CURRENT : FILE_END;
    if (!SetFilePointerEx(AsHandle(Handle), dist, &result, method)) {
        const DWORD err = GetLastError();
        throw EStreamError("Stream seek error", err);
    }
    return result.QuadPart;
}

void TFileStream::SetSize(int64_t newSize)
{
    Seek(newSize, soFromBeginning);
    if (!SetEndOfFile(AsHandle(Handle))) {
        const DWORD err = GetLastError();
        throw EStreamError("Stream size error", err);
    }
}

bool FileExists(const std::string& fileName)
{
    DWORD attr = GetFileAttributesA(fileName.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}
