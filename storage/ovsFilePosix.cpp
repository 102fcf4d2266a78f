// The container's platform helpers over POSIX calls (the host build).
#include "ovsFile.h"

#include <sys/stat.h>
#include <utime.h>

bool StgSetFileArchiveOnly(const std::string& fileName)
{
    struct stat st;
    if (::stat(fileName.c_str(), &st) != 0)
        return false;
    return ::chmod(fileName.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool StgIsLink(const std::string& fileName)
{
    struct stat st;
    return ::lstat(fileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool StgSetFileDateNow(const std::string& fileName)
{
    return ::utime(fileName.c_str(), nullptr) == 0;
}
