// The uninstaller's engine: reads the record and removes what it lists.
#include "UninstRecord.h"

#include "ovRegistry.h"
#include "ovStream.h"
#include "ovUninstInt.h"
#include "ovUtils.h"
#include "sxUninstRules.h"
#include "ovText.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

// Splits "name=value" at the first "="; the name and value are trimmed.
void SplitEntry(const std::string& line, std::string& name, std::string& value)
{
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
        name = Trim(line);
        value.clear();
    } else {
        name = Trim(line.substr(0, eq));
        value = Trim(line.substr(eq + 1));
    }
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// "X:\..." or "\\server\share\...": relative names in a damaged record would
// otherwise be taken from the current folder (the system folder).
bool IsAbsolutePath(const std::string& path)
{
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '\\')
        return true;
    return path.size() >= 3 && path[0] == '\\' && path[1] == '\\';
}

bool IsInside(const std::string& path, const std::string& folder)
{
    std::string prefix = RemoveTrailingBackslash(folder) + "\\";
    return StartsWithNoCase(path, prefix);
}

// Root name of a recorded key path and the path below it.
bool SplitRoot(const std::string& fullPath, HKEY& root, std::string& subPath)
{
    static const struct {
        const char* Name;
        HKEY Key;
    } roots[] = {
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    };
    size_t slash = fullPath.find('\\');
    std::string name = fullPath.substr(0, slash);
    for (const auto& r : roots) {
        if (SameTextAscii(name, r.Name)) {
            root = r.Key;
            subPath = slash == std::string::npos ? std::string() : fullPath.substr(slash + 1);
            while (!subPath.empty() && subPath.back() == '\\')
                subPath.pop_back();
            while (!subPath.empty() && subPath.front() == '\\')
                subPath.erase(0, 1);
            return true;
        }
    }
    return false;
}

void RemoveFolders(const std::vector<std::string>& folders, const std::vector<std::string>& scheduledFiles,
                   bool scheduleBusy, TRemovalResult& result)
{
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        const std::string folder = RemoveTrailingBackslash(*it);
        // A drive root ("C:") is never removed; relative names are skipped.
        if (folder.size() < 3 || !IsAbsolutePath(folder + "\\") || !FolderExists(folder))
            continue;
        if (RemoveDirectoryA(folder.c_str())) {
            ++result.Removed;
            continue;
        }
        if (!scheduleBusy)
            continue;
        // A folder that only files removed at restart keep: remove it then too.
        bool holdsScheduled = std::any_of(scheduledFiles.begin(), scheduledFiles.end(),
                                          [&](const std::string& f) { return IsInside(f, folder); });
        if (holdsScheduled && MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            result.Scheduled.push_back(folder);
        else
            result.Kept.push_back(folder);
    }
}

bool DeleteOrSchedule(const std::string& fileName, TRemovalResult& result)
{
    if (!IsAbsolutePath(fileName)) {
        result.Kept.push_back(fileName);
        return false;
    }
    DWORD attributes = GetFileAttributesA(fileName.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    // Only a read-only file needs its attributes changed before it can be
    // deleted; every other file is deleted straight away (each change is a
    // round trip to the file system's server under Wine, and most files
    // need none).
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(fileName.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(fileName.c_str())) {
        ++result.Removed;
        return true;
    }
    if (MoveFileExA(fileName.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        result.Scheduled.push_back(fileName);
        return true;
    }
    result.Kept.push_back(fileName);
    return false;
}

void DeleteKeyTree(const std::string& fullPath, TRemovalResult& result)
{
    HKEY root = nullptr;
    std::string subPath;
    if (!SplitRoot(fullPath, root, subPath) || IsProtectedKey(subPath)) {
        result.Kept.push_back(fullPath);
        return;
    }
    TRegistry reg;
    reg.RootKey = root;
    if (!reg.KeyExists(subPath))
        return;
    if (reg.DeleteKey(subPath))
        ++result.Removed;
    else
        result.Kept.push_back(fullPath);
}

void DeleteRegistryValue(const std::string& fullPath, const std::string& valueName, TRemovalResult& result)
{
    HKEY root = nullptr;
    std::string subPath;
    if (!SplitRoot(fullPath, root, subPath))
        return;
    TRegistry reg;
    reg.RootKey = root;
    if (!reg.OpenKey(subPath, false))
        return;
    if (reg.ValueExists(valueName) && reg.DeleteValue(valueName))
        ++result.Removed;
    reg.CloseKey();
}

// Removes a key that holds nothing (no values, no subkeys); true when it went.
bool DeleteKeyIfEmpty(const std::string& fullPath, TRemovalResult& result)
{
    HKEY root = nullptr;
    std::string subPath;
    if (!SplitRoot(fullPath, root, subPath) || !MayRemoveWhenEmpty(subPath))
        return false;
    TRegistry reg;
    reg.RootKey = root;
    if (!reg.OpenKey(subPath, false))
        return false;
    bool empty = reg.GetKeyNames().empty() && reg.GetValueNames().empty();
    reg.CloseKey();
    if (!empty || !reg.DeleteKey(subPath))
        return false;
    ++result.Removed;
    return true;
}

// The shared uninstaller this product counted (the value its key keeps), or "".
std::string CountedUninstaller(const std::string& productKey)
{
    HKEY root = nullptr;
    std::string subPath;
    if (!SplitRoot(productKey, root, subPath) || subPath.empty())
        return std::string();
    TRegistry reg;
    reg.RootKey = root;
    if (!reg.OpenKey(subPath, false))
        return std::string();
    std::string path;
    try {
        path = reg.ReadString(SharedCountMarker);
    } catch (const ERegistryException&) {
        path.clear();
    }
    reg.CloseKey();
    return path;
}

// Only `file` (or nothing at all) in `folder`.
bool HoldsOnly(const std::string& folder, const std::string& file)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool only = true;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        if (!SameTextAscii(name, ExtractFileName(file)))
            only = false;
    } while (only && FindNextFileA(find, &data));
    FindClose(find);
    return only;
}

// Lowers the shared uninstaller's count for this product; the last product
// takes the file and its folder (when nothing else is in it) along. The
// running uninstaller cannot delete its own file: it goes at the next
// restart, and the folder after it.
void ReleaseSharedUninstaller(const std::string& path, TRemovalResult& result)
{
    if (!IsAbsolutePath(path))
        return;
    TRegistry shared;
    shared.RootKey = HKEY_LOCAL_MACHINE;
    if (!shared.OpenKey(SharedDLLsKey, false))
        return;
    bool exists = shared.ValueExists(path);
    uint32_t count = 0;
    try {
        count = static_cast<uint32_t>(shared.ReadInteger(path, 0));
    } catch (const ERegistryException&) {
        exists = false;  // not a count: its owners are unknown
    }
    TSharedRelease release = LowerSharedCount(exists, count, true);
    if (release.Change) {
        if (release.Count > 0)
            shared.WriteInteger(path, static_cast<int32_t>(release.Count));
        else
            shared.DeleteValue(path);
    }
    shared.CloseKey();
    DeleteKeyIfEmpty(std::string("HKEY_LOCAL_MACHINE\\") + SharedDLLsKey, result);
    if (!release.RemoveFile)
        return;
    std::string folder = RemoveTrailingBackslash(ExtractFilePath(path));
    bool onlyIt = folder.size() > 3 && HoldsOnly(folder, path);
    if (!DeleteOrSchedule(path, result))
        return;
    if (!onlyIt)
        return;
    if (RemoveDirectoryA(folder.c_str()))
        ++result.Removed;
    else if (MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        result.Scheduled.push_back(folder);
}

}  // namespace

bool ReadUninstallRecord(const std::string& fileName, TUninstallRecord& record)
{
    record = TUninstallRecord();
    std::string text;
    try {
        text = LoadStringFromFile(fileName);
    } catch (const Exception&) {
        return false;
    }
    bool general = false;
    std::string section;
    for (const std::string& raw : SplitLines(text)) {
        std::string line = Trim(raw);
        if (line.empty())
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = Trim(line.substr(1, line.size() - 2));
            if (SameTextAscii(section, "General"))
                general = true;
            continue;
        }
        std::string name, value;
        if (SameTextAscii(section, "Files")) {
            record.Files.push_back(line);
        } else if (SameTextAscii(section, "Folders")) {
            record.Folders.push_back(line);
        } else if (SameTextAscii(section, "General")) {
            SplitEntry(line, name, value);
            // The first entry of a name counts, as with the profile functions.
            std::string* target = nullptr;
            if (SameTextAscii(name, "ProgramName"))
                target = &record.ProgramName;
            else if (SameTextAscii(name, "AfterUninstall"))
                target = &record.AfterUninstall;
            else if (SameTextAscii(name, "AfterUninstallParamString"))
                target = &record.AfterUninstallParamString;
            if (target && target->empty())
                *target = value;
        } else if (SameTextAscii(section, "Registry")) {
            SplitEntry(line, name, value);
            if (!name.empty())
                record.Registry.emplace_back(name, value);
        } else if (SameTextAscii(section, "UninstallKey")) {
            SplitEntry(line, name, value);
            if (!name.empty())
                record.UninstallKeys.push_back(name);
        }
    }
    return general;
}

TRemovalResult RemoveRecordedItems(const TUninstallRecord& record, const std::string& recordFileName)
{
    TRemovalResult result;
    for (const auto& file : record.Files)
        DeleteOrSchedule(file, result);
    RemoveFolders(record.Folders, result.Scheduled, false, result);

    for (const auto& entry : record.Registry)
        if (entry.second != "*")
            DeleteRegistryValue(entry.first, entry.second, result);
    for (const auto& entry : record.Registry)
        if (entry.second == "*")
            DeleteKeyTree(entry.first, result);

    std::vector<std::string> productKeys = record.UninstallKeys;
    if (productKeys.empty() && !record.ProgramName.empty())
        productKeys.push_back(std::string("HKEY_LOCAL_MACHINE\\") + UninstallKeyPath + record.ProgramName);
    std::vector<std::string> counted;
    for (const auto& key : productKeys) {
        std::string path = CountedUninstaller(key);
        if (!path.empty())
            counted.push_back(path);
        DeleteKeyTree(key, result);
    }
    const std::string icons = std::string("HKEY_LOCAL_MACHINE\\") + UninstallIconsKey;
    if (!record.ProgramName.empty())
        DeleteRegistryValue(icons, record.ProgramName, result);

    // The shared keys the record named, and the icons key, are kept above;
    // once the product's entries are out of them they go when empty,
    // innermost first.
    // The maker's keys above what the record names go too once empty, so
    // that the last product to go takes them, whichever product made them.
    std::vector<std::string> emptyCandidates;
    for (const auto& entry : record.Registry) {
        HKEY root = nullptr;
        std::string subPath;
        if (!SplitRoot(entry.first, root, subPath))
            continue;
        if (entry.second == "*" && IsProtectedKey(subPath))
            emptyCandidates.push_back(entry.first);
        const std::string rootName = entry.first.substr(0, entry.first.find('\\')) + "\\";
        for (const auto& key : MakerKeysAtOrAbove(subPath))
            emptyCandidates.push_back(rootName + key);
    }
    emptyCandidates.push_back(icons);
    emptyCandidates.push_back(icons.substr(0, icons.rfind('\\')));
    std::stable_sort(emptyCandidates.begin(), emptyCandidates.end(),
                     [](const std::string& a, const std::string& b) {
                         return std::count(a.begin(), a.end(), '\\') > std::count(b.begin(), b.end(), '\\');
                     });
    for (const auto& key : emptyCandidates)
        if (DeleteKeyIfEmpty(key, result))
            result.Kept.erase(std::remove(result.Kept.begin(), result.Kept.end(), key), result.Kept.end());

    for (const auto& path : counted)
        ReleaseSharedUninstaller(path, result);

    DeleteOrSchedule(recordFileName, result);
    // The record usually lives in one of the recorded folders.
    std::vector<std::string> kept;
    kept.swap(result.Kept);
    RemoveFolders(record.Folders, result.Scheduled, true, result);
    for (const auto& item : kept)
        if (PathExists(item) || item.compare(0, 5, "HKEY_") == 0)
            result.Kept.push_back(item);
    return result;
}

bool ParseUninstallCommandLine(const std::string& arguments, bool& silent, std::string& recordFileName)
{
    silent = false;
    recordFileName.clear();
    size_t i = 0, n = arguments.size();
    for (;;) {
        while (i < n && static_cast<unsigned char>(arguments[i]) <= ' ')
            ++i;
        if (i >= n)
            return false;
        if (arguments[i] == '/' || arguments[i] == '-') {
            size_t end = i;
            while (end < n && static_cast<unsigned char>(arguments[end]) > ' ')
                ++end;
            std::string option = arguments.substr(i + 1, end - i - 1);
            if (SameTextAscii(option, "silent"))
                silent = true;
            // Unknown options are passed over.
            i = end;
            continue;
        }
        break;
    }
    if (arguments[i] == '"') {
        size_t close = arguments.find('"', i + 1);
        recordFileName = arguments.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
    } else {
        // An unquoted path runs to the end of the line (a hand-typed path
        // with blanks in it still works).
        recordFileName = Trim(arguments.substr(i));
    }
    return !recordFileName.empty();
}
