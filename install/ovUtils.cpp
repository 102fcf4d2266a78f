#include "ovUtils.h"

#include "DownloadText.h"
#include "ovClass.h"
#include "ovStream.h"
#include "sxHandles.h"

#include <algorithm>
#include <cmath>
#include <cstring>

std::string ConfirmationCaption = "Confirmation";
std::string InformationCaption = "Information";
std::string ErrorCaption = "Error";

int NtPlatformOverride = -1;

namespace {

const char CurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

// Days from 1601-01-01 (the start of file times) to 1899-12-30 (day 0 of a TDateTime).
const int64_t FileTimeEpochDays = 109205;
const int64_t MsPerDay = 86400000;

// Calls a Win32 "get folder" function with a buffer that grows until the
// result fits.
template <typename F>
std::string GetSystemText(F call)
{
    std::string buffer(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        UINT n = call(&buffer[0], static_cast<UINT>(buffer.size()));
        if (n == 0)
            return std::string();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(n + 1);
    }
    return std::string();
}

// The folder part of a path, up to its last backslash and without it.
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

// The text of a file as lines; an empty list when the file is missing.
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

// The first character of a locale setting, or `fallback`.
char LocaleChar(LCTYPE type, char fallback)
{
    char buffer[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof(buffer)) > 1 && buffer[0])
        return buffer[0];
    return fallback;
}

}  // namespace

// ---- Folder macros and system folders -------------------------------------------

std::string ReadSystemValue(HKEY root, const std::string& rootName, const std::string& keyPath,
                            const std::string& name)
{
    TRegistryEx registry;
    registry.RootKey = root;
    if (!registry.OpenKeyReadOnly(keyPath))
        throw ERegistryException(FormatText(
            "Cannot access system registry infromation in:\\n%s\\n\\nPlease make sure that you have a proper "
            "access rights to the system.",
            (rootName + "\\" + keyPath).c_str()));
    std::string value = registry.ReadString(name);
    registry.CloseKey();
    return value;
}

std::string ReadCurrentVersionValue(const std::string& name)
{
    return ReadSystemValue(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", CurrentVersionKey, name);
}

std::string GetProgramFilesDir()
{
    return ReadCurrentVersionValue("ProgramFilesDir");
}

std::string GetCommonFilesDir()
{
    return ReadCurrentVersionValue("CommonFilesDir");
}

std::string GetWindowsDir()
{
    return GetSystemText([](char* buffer, UINT size) { return GetWindowsDirectoryA(buffer, size); });
}

std::string GetSystemDir()
{
    return GetSystemText([](char* buffer, UINT size) { return GetSystemDirectoryA(buffer, size); });
}

std::string GetTempDir()
{
    std::string folder = GetSystemText([](char* buffer, UINT size) { return GetTempPathA(size, buffer); });
    if (folder.empty() || folder.back() != '\\')
        folder += '\\';
    return folder;
}

std::string ExpandMacros(const std::string& text)
{
    static const char* const macros[] = {"<ProgramFilesDir>", "<CommonFilesDir>", "<WindowsDir>",
                                         "<SystemDir>",       "<TempDir>",        "<ThisDir>"};
    std::string result = text;
    // Each pass removes one macro for good unless a resolved value brings it
    // back; the bound stops a value that names its own macro.
    for (int pass = 0; pass < 64; ++pass) {
        int found = -1;
        for (int i = 0; i < 6 && found < 0; ++i)
            if (result.find(macros[i]) != std::string::npos)
                found = i;
        if (found < 0)
            return result;
        std::string value;
        switch (found) {
        case 0: value = GetProgramFilesDir(); break;
        case 1: value = GetCommonFilesDir(); break;
        case 2: value = GetWindowsDir(); break;
        case 3: value = GetSystemDir(); break;
        case 4: value = GetTempDir(); break;
        default: value = GetThisDir(); break;
        }
        result = ReplaceAll(result, macros[found], value);
        result = ReplaceAll(result, "\\\\", "\\");
        if (result.find('<') == std::string::npos)
            return result;
    }
    return result;
}

// ---- Strings and paths -------------------------------------------------------------

std::string ReplaceAll(const std::string& text, const std::string& oldText, const std::string& newText)
{
    if (oldText.empty())
        return text;
    std::string result;
    size_t start = 0;
    for (;;) {
        size_t pos = text.find(oldText, start);
        if (pos == std::string::npos)
            break;
        result.append(text, start, pos - start);
        result += newText;
        start = pos + oldText.size();
    }
    result.append(text, start, std::string::npos);
    return result;
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

namespace {

// The first free "ov~NNNNN" name of the folder that is not in `taken`.
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

}  // namespace

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

bool SetFileTimes(const std::string& fileName, TDateTime created, TDateTime accessed, TDateTime modified)
{
    FILETIME times[3];
    const TDateTime values[3] = {created, accessed, modified};
    for (int i = 0; i < 3; ++i)
        if (values[i] != 0 && !DateTimeToFileTime(values[i], times[i]))
            return false;
    TFileHandle file(CreateFileA(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    return SetFileTime(file.get(), created != 0 ? &times[0] : nullptr, accessed != 0 ? &times[1] : nullptr,
                       modified != 0 ? &times[2] : nullptr) != 0;
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
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    int64_t size = file.GetSize();
    if (size > 0x7FFFFFFF)
        throw EReadError(FormatText("File too large: %s", fileName.c_str()));
    std::string text(static_cast<size_t>(size), '\0');
    if (size)
        file.ReadBuffer(&text[0], static_cast<int32_t>(size));
    return text;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

// ---- Date and time ---------------------------------------------------------------------

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

// ---- Processes -----------------------------------------------------------------------

void BuildCommandLine(const std::string& application, const std::string& parameters, const std::string& folder,
                      std::string& workFolder, std::string& commandLine)
{
    if (!folder.empty())
        workFolder = folder;
    else if (!application.empty())
        workFolder = FolderPart(application);
    else
        workFolder = FolderPart(parameters);
    if (!FolderExists(workFolder))
        workFolder = CurrentFolder();

    if (!parameters.empty())
        commandLine = QuoteIfSpaced(application) + parameters;
    else if (!application.empty())
        commandLine = QuoteIfSpaced(application);
    else
        commandLine.clear();
}

int RunAndWait(const std::string& application, const std::string& parameters, int showCommand, bool highPriority,
               const std::function<bool()>& abortCheck)
{
    std::string workFolder, commandLine;
    BuildCommandLine(application, parameters, "", workFolder, commandLine);
    if (commandLine.empty())
        return -1;

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
    startup.wShowWindow = static_cast<WORD>(showCommand);
    PROCESS_INFORMATION info = {};
    // A command line without an application begins with a blank; the
    // system's parser may take that for an empty program name, so the blanks
    // in front are dropped.
    size_t first = commandLine.find_first_not_of(' ');
    if (first == std::string::npos)
        return -1;
    std::vector<char> mutableLine(commandLine.begin() + static_cast<std::ptrdiff_t>(first), commandLine.end());
    mutableLine.push_back('\0');
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE,
                        highPriority ? HIGH_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS, nullptr,
                        workFolder.empty() ? nullptr : workFolder.c_str(), &startup, &info))
        return -1;
    TKernelHandle process(info.hProcess);
    CloseHandle(info.hThread);
    WaitForInputIdle(process.get(), 2000);

    // Wait on the process itself rather than on its exit code, so that a
    // program that ends with code 259 (the "still active" value) is not
    // waited for forever.
    while (WaitForSingleObject(process.get(), 100) == WAIT_TIMEOUT) {
        if (abortCheck && abortCheck()) {
            TerminateProcess(process.get(), 0);
            WaitForSingleObject(process.get(), INFINITE);
        }
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code))
        return -1;
    return static_cast<int>(code);
}

// ---- Message boxes ---------------------------------------------------------------------

bool ConfirmBox(HWND owner, const std::string& text)
{
    return MessageBoxA(owner, ConvertLineBreaks(text).c_str(), ConfirmationCaption.c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) == IDYES;
}

bool Confirm(const std::string& text)
{
    return ConfirmBox(nullptr, text);
}

void ErrorBox(HWND owner, const std::string& text)
{
    MessageBeep(MB_ICONHAND);
    MessageBoxA(owner, ConvertLineBreaks(text).c_str(), ErrorCaption.c_str(),
                MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

void ShowError(const std::string& text)
{
    ErrorBox(nullptr, text);
}

// ---- Locked-file replacement -------------------------------------------------------------

void DeleteOrRedirect(std::string& fileName, std::vector<std::string>* tempNames,
                      std::vector<std::string>* targetNames)
{
    if (!FileExists(fileName))
        return;
    SetFileAttributesA(fileName.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    if (DeleteFileA(fileName.c_str()))
        return;
    if (!tempNames || !targetNames)
        return;
    // The new content goes beside the locked file, so that the move at
    // restart stays on one volume.
    std::string folder = ExtractFilePath(fileName);
    if (folder.empty())
        folder = CurrentFolder();
    // A name handed out before whose file was never written is not free:
    // two pairs with one source would put one file's content on both targets.
    std::string tempName = FreeTempName(folder, ".tmp", tempNames);
    targetNames->push_back(fileName);
    fileName = tempName;
    tempNames->push_back(fileName);
}

void ScheduleReplacements(const std::vector<std::string>& tempNames, const std::vector<std::string>* targetNames)
{
    if (!IsNtPlatform()) {
        WriteWininitRenames(tempNames, targetNames);
        return;
    }
    if (targetNames) {
        size_t count = std::min(tempNames.size(), targetNames->size());
        for (size_t i = 0; i < count; ++i)
            MoveFileExA(tempNames[i].c_str(), (*targetNames)[i].c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
    } else {
        for (const std::string& name : tempNames)
            MoveFileExA(name.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

bool IsNtPlatform()
{
    if (NtPlatformOverride >= 0)
        return NtPlatformOverride != 0;
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
        return false;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void WriteWininitRenames(const std::vector<std::string>& tempNames, const std::vector<std::string>* targetNames)
{
    WriteWininitRenamesTo(JoinPath(GetWindowsDir(), "WININIT.INI"), tempNames, targetNames);
}

void WriteWininitRenamesTo(const std::string& fileName, const std::vector<std::string>& tempNames,
                           const std::vector<std::string>* targetNames)
{
    std::vector<std::string> lines = LoadLines(fileName);
    // The header must be the whole line; without one, a new header goes first.
    size_t insertAt = 0;
    for (size_t i = 0; i < lines.size() && insertAt == 0; ++i)
        if (SameText(lines[i], "[rename]"))
            insertAt = i + 1;
    if (insertAt == 0) {
        lines.insert(lines.begin(), "[rename]");
        insertAt = 1;
    }
    size_t count = targetNames ? std::min(tempNames.size(), targetNames->size()) : tempNames.size();
    for (size_t i = 0; i < count; ++i) {
        std::string line = targetNames ? ShortPathOf((*targetNames)[i]) + "=" + ShortPathOf(tempNames[i])
                                       : "NUL=" + ShortPathOf(tempNames[i]);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
    }
    SaveLines(lines, fileName);
}

// ---- INI helpers ---------------------------------------------------------------------

void ReplaceIniSection(const std::string& fileName, const std::string& section, const std::vector<std::string>& lines)
{
    std::vector<std::string> text;
    try {
        text = LoadLines(fileName);
    } catch (const EStreamError&) {
        text.clear();  // an unreadable file counts as empty
    }
    std::string header = "[" + section + "]";
    for (size_t i = 0; i < text.size(); ++i) {
        if (!SameText(text[i], header))
            continue;
        size_t end = i + 1;
        while (end < text.size() && (text[end].empty() || text[end][0] != '['))
            ++end;
        text.erase(text.begin() + static_cast<std::ptrdiff_t>(i), text.begin() + static_cast<std::ptrdiff_t>(end));
        break;
    }
    text.push_back(header);
    text.insert(text.end(), lines.begin(), lines.end());
    SaveLines(text, fileName);
}

void FlushIniFile(std::unique_ptr<TIniFile>& ini)
{
    if (!ini)
        return;
    std::string fileName = ini->FileName();
    ini.reset();
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, fileName.c_str());
}
