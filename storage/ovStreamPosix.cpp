// TFileStream over POSIX file descriptors (the host build of the tools).
#include "ovStream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

TFileStream::TFileStream(const std::string& fileName, uint32_t mode) : Name(fileName), Handle(-1)
{
    int fd;
    if (mode == fmCreate) {
        fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            const uint32_t err = static_cast<uint32_t>(errno);
            throw EFCreateError(FormatText("Cannot create file %s", fileName.c_str()), err);
        }
    } else {
        int flags = O_RDONLY;
        if ((mode & 3) == fmOpenWrite)
            flags = O_WRONLY;
        else if ((mode & 3) == fmOpenReadWrite)
            flags = O_RDWR;
        fd = ::open(fileName.c_str(), flags | O_CLOEXEC);
        if (fd < 0) {
            const uint32_t err = static_cast<uint32_t>(errno);
            throw EFOpenError(FormatText("Cannot open file %s", fileName.c_str()), err);
        }
        if ((mode & fmShareExclusive) && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            throw EFOpenError(FormatText("Cannot open file %s", fileName.c_str()), static_cast<uint32_t>(err));
        }
    }
    Handle = fd;
}

TFileStream::~TFileStream()
{
    if (Handle >= 0)
        ::close(static_cast<int>(Handle));
}

int32_t TFileStream::Read(void* buffer, int32_t count)
{
    if (count <= 0)
        return 0;
    ssize_t n;
    do {
        n = ::read(static_cast<int>(Handle), buffer, static_cast<size_t>(count));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : static_cast<int32_t>(n);
}

int32_t TFileStream::Write(const void* buffer, int32_t count)
{
    if (count <= 0)
        return 0;
    const char* p = static_cast<const char*>(buffer);
    int32_t done = 0;
    while (done < count) {
        ssize_t n = ::write(static_cast<int>(Handle), p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<int32_t>(n);
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, int origin)
{
    int whence = origin == soFromBeginning ? SEEK_SET : origin == soFromCurrent ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(static_cast<int>(Handle), static_cast<off_t>(offset), whence);
    if (r < 0) {
        const uint32_t err = static_cast<uint32_t>(errno);
        throw EStreamError("Stream seek error", err);
    }
    return r;
}

void TFileStream::SetSize(int64_t newSize)
{
    if (::ftruncate(static_cast<int>(Handle), static_cast<off_t>(newSize)) != 0) {
        const uint32_t err = static_cast<uint32_t>(errno);
        throw EStreamError("Stream size error", err);
    }
    Seek(newSize, soFromBeginning);
}

bool FileExists(const std::string& fileName)
{
    struct stat st;
    return ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
