#include "sxUtils.h"

#include "ovClass.h"
#include "ovText.h"
#include "ovUtils.h"
#include "sxHandles.h"
#include "sxUninstRules.h"

#include <cstring>

std::string RunLog;
int32_t MaxSeverity = 0;

namespace {

// The local date in the short form and the time in the long form, as the
// user's settings give them.
std::string LocalDateTimeText()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[128] = {};
    char time[128] = {};
    if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, sizeof(date)))
        date[0] = 0;
    if (!GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, sizeof(time)))
        time[0] = 0;
    return std::string(date) + " " + time;
}

}  // namespace

const char* const SXCannotWriteText =
    "Cannot write to file:\\n\"%s\"\\n\\nPossible reasons:\\n1. Disk is full or inaccessible.\\n2. The file is in "
    "use by system or another program.\\n3. Source data is corrupted.\\n\\nTIP: If disk is accessible and has "
    "enough free \\nspace, try to restart your machine, then try\\nagain. If the problem persists, please\\ncontact "
    "the product vendor.";

void LogMessage(int32_t severity, const std::string& tag, const std::string& message)
{
    if (severity > MaxSeverity)
        MaxSeverity = severity;
    const char* kind = severity > 0 ? "Error" : "Hidden Message";
    std::string separator = "\r\n\r\n\r\n" + std::string(80, '*') + "\r\n";
    if (RunLog.empty())
        RunLog = "Created on " + LocalDateTimeText() + separator;
    else
        RunLog += separator;
    // The message is taken as given: its stored line-break markers were
    // converted by the caller before values were put into it.
    RunLog += std::string(kind) + " (" + tag + "): \r\n\r\n" + message;
    if (severity > 0)
        throw EAbort();
}

std::string ConvertLineBreaks(const std::string& text)
{
    return ReplaceAll(text, "\\n", "\r\n");
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return JoinWindowsPath(folder, name);
}

std::string RemoveTrailingBackslash(const std::string& path)
{
    if (!path.empty() && path.back() == '\\')
        return path.substr(0, path.size() - 1);
    return path;
}

std::string ExtractFilePath(const std::string& path)
{
    size_t pos = path.find_last_of('\\');
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string ExtractFileName(const std::string& path)
{
    size_t pos = path.find_last_of('\\');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

bool FolderExists(const std::string& path)
{
    switch (path.size()) {
    case 0:
    case 1:
        return false;
    case 2:
        return path[1] == ':';
    case 3:
        if (path[1] == ':' && path[2] == '\\')
            return true;
        break;
    default:
        break;
    }
    // A folder name cannot hold a wildcard; the search below would take it
    // as a pattern and report some other folder.
    if (path.find_first_of("*?") != std::string::npos)
        return false;
    WIN32_FIND_DATAA data;
    TFindHandle find(FindFirstFileA(RemoveTrailingBackslash(path).c_str(), &data));
    if (!find)
        return false;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ForceFolders(const std::string& path)
{
    if (path.empty())
        return false;
    if (FolderExists(path))
        return true;
    std::string folder = RemoveTrailingBackslash(path);
    size_t pos = folder.find_last_of('\\');
    if (pos != std::string::npos && pos > 0) {
        std::string parent = folder.substr(0, pos);
        if (!FolderExists(parent) && !ForceFolders(parent))
            return false;
    }
    if (!CreateDirectoryA(folder.c_str(), nullptr))
        return FolderExists(folder);
    return true;
}

bool ForceFoldersEx(const std::string& path, std::vector<std::string>* created)
{
    if (path.empty())
        return false;
    std::string folder = RemoveTrailingBackslash(path);
    if (FolderExists(folder))
        return true;
    std::vector<std::string> missing;
    if (!MissingFolders(folder, [](const std::string& f) { return FolderExists(f); }, missing))
        return false;
    for (const std::string& current : missing) {
        // Another process may have made it in the meantime: then it is not ours.
        if (!CreateDirectoryA(current.c_str(), nullptr)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS && FolderExists(current))
                continue;
            return false;
        }
        if (created)
            created->push_back(current);
    }
    return true;
}

void PumpMessage()
{
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void Delay(int milliseconds, const std::function<void()>& callback)
{
    DWORD start = GetTickCount();
    while (static_cast<int64_t>(GetTickCount() - start) < milliseconds) {
        Sleep(50);
        if (callback)
            callback();
    }
}

void CenterWindow(HWND parent, HWND window)
{
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    RECT p = {0, 0, screenWidth, screenHeight};
    if (parent)
        GetWindowRect(parent, &p);
    RECT w;
    if (!GetWindowRect(window, &w))
        return;
    int width = w.right - w.left;
    int height = w.bottom - w.top;
    int x = p.left + ((p.right - p.left) - width) / 2;
    int y = p.top + ((p.bottom - p.top) - height) / 2;
    if (x + width > screenWidth)
        x = screenWidth - width;
    if (y + height > screenHeight)
        y = screenHeight - height;
    if (x < 0)
        x = 0;
    if (y < 0)
        y = 0;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
}

std::string GetThisFile()
{
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::string();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        // Truncated: the result filled the whole buffer.
        buffer.resize(buffer.size() * 2);
    }
}

std::string GetThisDir()
{
    std::string file = GetThisFile();
    size_t pos = file.find_last_of('\\');
    if (pos == std::string::npos)
        return std::string();
    std::string folder = file.substr(0, pos);
    if (folder.size() == 2 && folder[1] == ':')
        return folder + "\\";
    return folder;
}
