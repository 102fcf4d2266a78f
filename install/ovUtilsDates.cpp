#include "ovUtils.h"

#include "ovUtilsShared.h"

#include <cmath>

using namespace ovutils_detail;

namespace {

// Days from 1601-01-01 (the start of file times) to 1899-12-30 (day 0 of a TDateTime).
const int64_t FileTimeEpochDays = 109205;
const int64_t MsPerDay = 86400000;

}  // namespace

// ---- Date and time -----------------------------------------------------------------------

bool DateTimeToSystemTime(TDateTime value, SYSTEMTIME& time)
{
    if (!std::isfinite(value))
        return false;
    // The whole part counts days (also before day 0); the fraction is the
    // time of that day, whatever the sign.
    double whole = std::trunc(value);
    double fraction = std::fabs(value - whole);
    int64_t days = static_cast<int64_t>(whole) + FileTimeEpochDays;
    int64_t ms = static_cast<int64_t>(std::llround(fraction * MsPerDay));
    if (ms >= MsPerDay)
        ms = MsPerDay - 1;
    if (days < 0 || days > 30828 * 366)
        return false;
    uint64_t ticks = static_cast<uint64_t>(days * MsPerDay + ms) * 10000u;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return FileTimeToSystemTime(&ft, &time) != 0;
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& time)
{
    FILETIME ft;
    if (!SystemTimeToFileTime(&time, &ft))
        return 0;
    uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    int64_t totalMs = static_cast<int64_t>(ticks / 10000u);
    int64_t days = totalMs / MsPerDay - FileTimeEpochDays;
    double fraction = static_cast<double>(totalMs % MsPerDay) / MsPerDay;
    return days >= 0 ? days + fraction : days - fraction;
}

bool DateTimeToFileTime(TDateTime value, FILETIME& fileTime)
{
    SYSTEMTIME st;
    FILETIME local;
    return DateTimeToSystemTime(value, st) && SystemTimeToFileTime(&st, &local) &&
           LocalFileTimeToFileTime(&local, &fileTime);
}

TDateTime FileTimeToDateTime(const FILETIME& fileTime)
{
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&fileTime, &local) || !FileTimeToSystemTime(&local, &st))
        return 0;
    return SystemTimeToDateTime(st);
}

TDateTime Now()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    return SystemTimeToDateTime(st);
}
