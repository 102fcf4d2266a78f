// The system's folder browser and special shell folders.
#include "sxFolderDlg.h"

#include "sxCom.h"

#include <objbase.h>
#include <shlobj.h>

#include "sxUtils.h"

namespace {

// Path buffers hold MAX_PATH characters plus the terminating zero.
constexpr int kPathBufferSize = MAX_PATH + 1;

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED) {
        const TBrowseDlgInit* init = reinterpret_cast<const TBrowseDlgInit*>(data);
        if (init) {
            if (!init->Caption.empty())
                SetWindowTextA(window, init->Caption.c_str());
            CenterWindow(init->Owner, window);
        }
    }
    return 0;
}

// Converts an item list into a file-system path and releases it; "" when the
// item has no file-system path.
std::string TakePath(LPITEMIDLIST items)
{
    std::string result;
    if (!items)
        return result;
    char buffer[kPathBufferSize] = {};
    if (SHGetPathFromIDListA(items, buffer))
        result = buffer;
    CoTaskMemFree(items);  // the shell's allocator
    return result;
}

}  // namespace

bool BrowseForFolder(HWND owner, const std::string& caption, const std::string& title, const std::string& okText,
                     const std::string& cancelText, std::string& folder)
{
    TComScope com;
    TBrowseDlgInit init{owner, caption, title, okText, cancelText};
    char displayName[kPathBufferSize] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;  // the desktop
    info.pszDisplayName = displayName;
    info.lpszTitle = init.Title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = &BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(&init);
    std::string path = TakePath(SHBrowseForFolderA(&info));
    if (path.empty())
        return false;
    folder = path;
    return true;
}

std::string GetSpecialFolderPath(int folderId)
{
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &items)))
        return std::string();
    return TakePath(items);
}
