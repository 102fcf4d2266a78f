#include "ovUtils.h"

#include "ovClass.h"
#include "ovFileBytes.h"
#include "ovStream.h"
#include "ovText.h"
#include "ovUtilsShared.h"
#include "sxHandles.h"

#include <algorithm>

namespace {

// The first character of a locale setting, or `fallback`.
char LocaleChar(LCTYPE type, char fallback)
{
    char buffer[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof(buffer)) > 1 && buffer[0])
        return buffer[0];
    return fallback;
}

}  // namespace

namespace ovutils_detail {

std::string FolderPart(const std::string& path)
{
    size_t pos = path.find_last_of('\\');
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

std::string CurrentFolder()
{
    return GetSystemText([](char* buffer, UINT size) { return GetCurrentDirectoryA(size, buffer); });
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> LoadLines(const std::string& fileName)
{
    if (!PathExists(fileName))
        return {};
    return SplitLines(LoadStringFromFile(fileName));
}

void SaveLines(const std::vector<std::string>& lines, const std::string& fileName)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    SaveStringToFile(text, fileName);
}

std::string FreeTempName(const std::string& folder, const std::string& extension,
                         const std::vector<std::string>* taken)
{
    std::string base = folder;
    if (base.empty())
        base = GetTempDir();
    else if (base.size() < 3)
        throw EAbort();
    if (base.back() != '\\')
        base += '\\';
    base += "ov~";
    for (uint32_t n = 0;; ++n) {
        std::string candidate = base + FormatText("%.5u", static_cast<unsigned>(n)) + extension;
        // Any existing entry, a folder too, rules the name out.
        if (PathExists(candidate))
            continue;
        if (taken && std::any_of(taken->begin(), taken->end(),
                                 [&](const std::string& t) { return SameText(t, candidate); }))
            continue;
        return candidate;
    }
}

}  // namespace ovutils_detail

using namespace ovutils_detail;

// ---- Strings and paths -------------------------------------------------------------

std::string ReplaceAll(const std::string& text, const std::string& oldText, const std::string& newText)
{
    return ReplaceText(text, oldText, newText);
}

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::string QuoteIfSpaced(const std::string& text)
{
    if (text.find(' ') != std::string::npos)
        return "\"" + text + "\" ";
    return text + " ";
}

std::string ShortPathOf(const std::string& path)
{
    std::string buffer(512, '\0');
    DWORD n = GetShortPathNameA(path.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n >= buffer.size()) {
        buffer.resize(n + 1);
        n = GetShortPathNameA(path.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
        if (n >= buffer.size())
            n = 0;
    }
    if (n == 0)
        return path;
    buffer.resize(n);
    return buffer;
}

void RemoveEmptyLines(std::vector<std::string>& list)
{
    list.erase(std::remove_if(list.begin(), list.end(), [](const std::string& s) { return s.empty(); }),
               list.end());
}

std::string FormatSize(int32_t bytes)
{
    return FormatSizeLarge(bytes);
}

std::string FormatSizeLarge(int64_t bytes)
{
    return FormatSizeText(bytes, LocaleChar(LOCALE_STHOUSAND, ','), LocaleChar(LOCALE_SDECIMAL, '.'));
}

std::string FormatDuration(int32_t seconds)
{
    int hours = seconds / 3600;
    int minutes = seconds / 60 - hours * 60;
    int rest = seconds - hours * 3600 - minutes * 60;
    if (hours > 0)
        return FormatText("%d hour %d min %d sec", hours, minutes, rest);
    return FormatText("%d min %d sec", minutes, rest);
}

// ---- Files -------------------------------------------------------------------------------

std::string MakeTempName(const std::string& folder, const std::string& extension)
{
    return FreeTempName(folder, extension, nullptr);
}

std::string MakeTempFileName(const std::string& folder)
{
    return MakeTempName(folder, ".tmp");
}

int64_t CopyFileData(const std::string& source, const std::string& target)
{
    TFileHandle in(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in)
        return 0;
    TFileHandle out(
        CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out)
        return 0;
    char buffer[2048];
    int64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.get(), buffer, sizeof(buffer), &got, nullptr))
            return 0;
        if (got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(out.get(), buffer, got, &written, nullptr) || written != got)
            return 0;
        total += written;
    }
    return total;
}

bool SetFileTimesOnHandle(HANDLE file, TDateTime created, TDateTime accessed, TDateTime modified)
{
    FILETIME times[3];
    const TDateTime values[3] = {created, accessed, modified};
    for (int i = 0; i < 3; ++i)
        if (values[i] != 0 && !DateTimeToFileTime(values[i], times[i]))
            return false;
    return SetFileTime(file, created != 0 ? &times[0] : nullptr, accessed != 0 ? &times[1] : nullptr,
                       modified != 0 ? &times[2] : nullptr) != 0;
}

bool SetFileTimes(const std::string& fileName, TDateTime created, TDateTime accessed, TDateTime modified)
{
    TFileHandle file(CreateFileA(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && SetFileTimesOnHandle(file.get(), created, accessed, modified);
}

void SetFileDate(const std::string& fileName, TDateTime time)
{
    SYSTEMTIME st;
    if (!DateTimeToSystemTime(time, st) || st.wYear < 1980 || st.wYear > 2099)
        return;
    WORD dosDate = static_cast<WORD>(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
    WORD dosTime = static_cast<WORD>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond >> 1));
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(dosDate, dosTime, &local) || !LocalFileTimeToFileTime(&local, &utc))
        return;
    TFileHandle file(CreateFileA(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file)
        SetFileTime(file.get(), nullptr, nullptr, &utc);
}

void SaveStringToFile(const std::string& text, const std::string& fileName)
{
    TFileStream file(fileName, fmCreate);
    if (!text.empty())
        file.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

std::string LoadStringFromFile(const std::string& fileName)
{
    std::string text;
    if (!ReadWholeFile(fileName, kWholeFileLimit, text, fmShareDenyNone))
        throw EReadError(FormatText("File too large: %s", fileName.c_str()));
    return text;
}

// The text helpers' splitter, out of line once here: inline in each caller it
// would cost the setup program and the uninstaller a copy of the vector and
// string helpers per caller.
std::vector<std::string> SplitLines(const std::string& text)
{
    return SplitTextLines(text);
}
