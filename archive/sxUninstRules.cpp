// Rules of a clean install and uninstall. See sxUninstRules.h.
#include "sxUninstRules.h"
#include "ovText.h"

#include <cctype>

const char* const UninstallKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char* const UninstallIconsKey = "Software\\Orvale Systems\\Uninstall Icons";
const char* const UninstallerPath = "<CommonFilesDir>\\Orvale Systems\\ovUninst.exe";
const char* const SharedDLLsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char* const SharedCountMarker = "SharedUninstaller";

namespace {

bool InList(const std::string& subPath, const char* const* list, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (SameTextAscii(subPath, list[i]))
            return true;
    return false;
}

const char* const MakerKeys[] = {
    "Software\\Orvale Systems",
    "Software\\Orvale Systems\\Uninstall Icons",
    // The shared files' counts: the uninstaller may have made it.
    "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
};

const char* const SystemKeys[] = {
    "Software",
    "Software\\Classes",
    "Software\\Microsoft",
    "Software\\Microsoft\\Windows",
    "Software\\Microsoft\\Windows\\CurrentVersion",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "Software\\Policies",
    "Software\\Wow6432Node",
    "System",
    "System\\CurrentControlSet",
    "Control Panel",
    "Environment",
    "CLSID",
    "Interface",
    "TypeLib",
    "AppID",
};

std::string Lookup(const TVersionStrings& strings, const char* name)
{
    for (const auto& kv : strings)
        if (SameTextAscii(kv.first, name))
            return Trim(kv.second);
    return std::string();
}

}  // namespace

bool MissingFolders(const std::string& path, const std::function<bool(const std::string&)>& exists,
                    std::vector<std::string>& missing)
{
    missing.clear();
    std::string folder = path;
    while (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back();
    if (folder.find_first_of("*?") != std::string::npos)
        return false;
    // The root: "X:" of "X:\...", or "\\server\share" of a network path.
    std::string current;
    size_t rest;
    if (folder.size() >= 2 && std::isalpha(static_cast<unsigned char>(folder[0])) && folder[1] == ':' &&
        (folder.size() == 2 || folder[2] == '\\')) {
        current = folder.substr(0, 2);
        rest = 3;
    } else if (folder.compare(0, 2, "\\\\") == 0) {
        size_t server = folder.find('\\', 2);
        if (server == std::string::npos || server == 2)
            return false;
        size_t share = folder.find('\\', server + 1);
        if (share == std::string::npos || share == server + 1)
            return false;  // the share itself cannot be created
        current = folder.substr(0, share);
        rest = share + 1;
    } else {
        return false;
    }
    bool creating = false;
    while (rest < folder.size()) {
        size_t end = folder.find('\\', rest);
        if (end == std::string::npos)
            end = folder.size();
        std::string name = folder.substr(rest, end - rest);
        rest = end + 1;
        if (name.empty())
            continue;
        current += "\\" + name;
        // Below a folder that has to be made, nothing exists yet.
        if (creating || !exists(current)) {
            creating = true;
            missing.push_back(current);
        }
    }
    return true;
}

std::vector<std::string> SectionLines(const std::vector<std::string>& text, const std::string& section)
{
    std::vector<std::string> lines;
    bool inside = false;
    for (const std::string& raw : text) {
        std::string line = Trim(raw);
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            inside = SameTextAscii(Trim(line.substr(1, line.size() - 2)), section);
            continue;
        }
        if (inside && !line.empty())
            lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> MergeRecordedFolders(const std::vector<std::string>& earlier,
                                              const std::vector<std::string>& now)
{
    std::vector<std::string> merged;
    auto add = [&](const std::string& folder) {
        for (const std::string& f : merged)
            if (SameTextAscii(f, folder))
                return;
        merged.push_back(folder);
    };
    for (const std::string& f : earlier)
        add(f);
    for (const std::string& f : now)
        add(f);
    return merged;
}

bool IsProtectedKey(const std::string& subPath)
{
    return subPath.empty() || InList(subPath, SystemKeys, sizeof SystemKeys / sizeof *SystemKeys) ||
           InList(subPath, MakerKeys, sizeof MakerKeys / sizeof *MakerKeys);
}

bool MayRemoveWhenEmpty(const std::string& subPath)
{
    return !subPath.empty() && !InList(subPath, SystemKeys, sizeof SystemKeys / sizeof *SystemKeys);
}

std::vector<std::string> MakerKeysAtOrAbove(const std::string& subPath)
{
    std::vector<std::string> keys;
    std::string key = subPath;
    while (!key.empty()) {
        if (IsProtectedKey(key) && MayRemoveWhenEmpty(key))
            keys.push_back(key);
        const size_t slash = key.rfind('\\');
        key = slash == std::string::npos ? std::string() : key.substr(0, slash);
    }
    return keys;
}

uint32_t RaiseSharedCount(bool exists, uint32_t count, bool counted, bool fileExisted)
{
    if (!exists)
        return fileExisted && !counted ? 2 : 1;
    if (counted)
        return count == 0 ? 1 : count;
    return count == 0xFFFFFFFFu ? count : count + 1;
}

TSharedRelease LowerSharedCount(bool exists, uint32_t count, bool counted)
{
    TSharedRelease r;
    if (!counted || !exists)
        return r;
    r.Change = true;
    r.Count = count > 0 ? count - 1 : 0;
    r.RemoveFile = r.Count == 0;
    return r;
}

bool CountsTowardsSize(int folderIndex, int tempFolderIndex, const std::string& path,
                       const std::string& sharedUninstaller)
{
    if (tempFolderIndex != -1 && folderIndex == tempFolderIndex)
        return false;
    return sharedUninstaller.empty() || !SameTextAscii(path, sharedUninstaller);
}

uint32_t KibibytesOf(int64_t bytes)
{
    if (bytes <= 0)
        return 0;
    int64_t kib = (bytes + 1023) / 1024;
    if (kib > 0xFFFFFFFFLL)
        kib = 0xFFFFFFFFLL;
    return static_cast<uint32_t>(kib);
}

bool IsStubVersionInfo(const TVersionStrings& strings)
{
    return Lookup(strings, "FileDescription") == "Setup" && Lookup(strings, "InternalName") == "setup";
}

TEntryVersion EntryValuesFromVersion(const TVersionStrings& strings)
{
    TEntryVersion v;
    if (IsStubVersionInfo(strings))
        return v;
    v.DisplayVersion = Lookup(strings, "ProductVersion");
    v.Publisher = Lookup(strings, "CompanyName");
    v.URLInfoAbout = Lookup(strings, "URLInfoAbout");
    return v;
}
