// Shell links through the shell's link object (CLSID_ShellLink).
#include "ShLinks.h"

#include "sxUtils.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

namespace {

// Holds one COM interface pointer and releases it.
template <typename T>
class TComPtr {
public:
    TComPtr() = default;
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;
    ~TComPtr()
    {
        if (Ptr)
            Ptr->Release();
    }
    T* get() const { return Ptr; }
    T* operator->() const { return Ptr; }
    void** put()
    {
        if (Ptr)
            Ptr->Release();
        Ptr = nullptr;
        return reinterpret_cast<void**>(&Ptr);
    }

private:
    T* Ptr = nullptr;
};

// COM for the calling thread, balanced only when this call initialised it.
class TComScope {
public:
    TComScope() : Initialized(SUCCEEDED(CoInitialize(nullptr))) {}
    ~TComScope()
    {
        if (Initialized)
            CoUninitialize();
    }
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;

private:
    bool Initialized;
};

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

// The path as a wide string for IPersistFile::Save, whole (no length cut).
std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
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
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.put())))
        return false;
    TComPtr<IPersistFile> file;
    if (FAILED(link->SetArguments(info.Arguments.c_str())) || FAILED(link->SetDescription(info.Description.c_str())) ||
        FAILED(link->SetIconLocation(info.IconLocation.c_str(), info.IconIndex)) ||
        FAILED(link->SetPath(info.Path.c_str())) ||
        FAILED(link->SetWorkingDirectory(info.WorkingDirectory.c_str())) ||
        FAILED(link->SetHotkey(info.HotKey)) || FAILED(link->QueryInterface(IID_IPersistFile, file.put())))
        return false;
    // The save decides: a link file that was not written is not reported as
    // created (the uninstall record would list a file that never existed).
    std::wstring widePath = Widen(fullPath);
    if (FAILED(file->Save(widePath.c_str(), TRUE)))
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
