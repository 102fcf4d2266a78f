// Shell links through the shell's link object (CLSID_ShellLink).
#include "ShLinks.h"

#include "sxCom.h"
#include "sxUtils.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

namespace {

// The shell's link object. The interface ids come from __uuidof, so that
// the program does not link the whole GUID library for three GUIDs.
const CLSID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The file-system path of a special folder; empty when the system cannot name it.
std::string SpecialFolderPath(int specialFolder)
{
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, specialFolder, &items)) || !items)
        return std::string();
    char path[MAX_PATH + 1] = {};
    BOOL ok = SHGetPathFromIDListA(items, path);
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(CoGetMalloc(1, &allocator)) && allocator) {
        allocator->Free(items);
        allocator->Release();
    }
    return ok ? std::string(path) : std::string();
}

// The path as a zero-terminated wide string for IPersistFile::Save, whole (no
// length cut). A plain vector: std::wstring would add its whole template
// instance (some 35 KB) to the stub for this one conversion.
std::vector<wchar_t> Widen(const std::string& text)
{
    int n = text.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(n) + 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

}  // namespace

bool CreateShellLinkEx(const std::string& linkName, const std::string& folder, int specialFolder,
                       const TShellLinkInfo& info, std::string& linkPath,
                       std::vector<std::string>* createdFolders)
{
    linkPath.clear();
    TComScope com;

    std::string base = folder.empty() ? SpecialFolderPath(specialFolder) : folder;
    if (base.empty())
        return false;
    std::string fullPath = RemoveTrailingBackslash(base) + "\\" + linkName;
    // A folder that cannot be made lets the save below fail.
    size_t slash = fullPath.rfind('\\');
    ForceFoldersEx(fullPath.substr(0, slash), createdFolders);

    TComPtr<IShellLinkA> link;
    if (FAILED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkA), link.put())))
        return false;
    TComPtr<IPersistFile> file;
    if (FAILED(link->SetArguments(info.Arguments.c_str())) || FAILED(link->SetDescription(info.Description.c_str())) ||
        FAILED(link->SetIconLocation(info.IconLocation.c_str(), info.IconIndex)) ||
        FAILED(link->SetPath(info.Path.c_str())) ||
        FAILED(link->SetWorkingDirectory(info.WorkingDirectory.c_str())) ||
        FAILED(link->SetHotkey(info.HotKey)) || FAILED(link->QueryInterface(__uuidof(IPersistFile), file.put())))
        return false;
    // The save decides: a link file that was not written is not reported as
    // created (the uninstall record would list a file that never existed).
    std::vector<wchar_t> widePath = Widen(fullPath);
    if (FAILED(file->Save(widePath.data(), TRUE)))
        return false;
    linkPath = fullPath;
    return true;
}

bool CreateShellLink(const std::string& linkName, const std::string& folder, int specialFolder,
                     const TShellLinkInfo& info)
{
    std::string ignored;
    return CreateShellLinkEx(linkName, folder, specialFolder, info, ignored, nullptr);
}
