#include "sxBuildDate.h"

#include "sxProject.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdlib>

bool SourceDateEpoch(int64_t& seconds)
{
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text)
        return false;
    std::string s(text);
    bool digits = s.size() <= 12 && s.find_first_not_of("0123456789") == std::string::npos;
    long long v = digits ? std::strtoll(s.c_str(), nullptr, 10) : -1;
    if (!digits || v < 0 || v > 253402300799LL)
        throw EProjectError("SOURCE_DATE_EPOCH: expected seconds since 1970-01-01, found '" + s + "'");
    seconds = v;
    return true;
}

double UnixTimeToDateTime(int64_t seconds)
{
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    return static_cast<double>(days + 25569) + static_cast<double>(rest) / 86400.0;
}

int64_t NewestModification(const std::vector<std::string>& paths)
{
    int64_t newest = 0;
    for (const std::string& p : paths) {
#ifdef _WIN32
        struct _stat64 st;
        if (_stat64(p.c_str(), &st) != 0)
            continue;
#else
        struct stat st;
        if (stat(p.c_str(), &st) != 0)
            continue;
#endif
        int64_t t = static_cast<int64_t>(st.st_mtime);
        if (t > newest)
            newest = t;
    }
    return newest;
}

double BuildDateTime(const std::vector<std::string>& inputs)
{
    int64_t seconds = 0;
    if (!SourceDateEpoch(seconds))
        seconds = NewestModification(inputs);
    return UnixTimeToDateTime(seconds);
}
