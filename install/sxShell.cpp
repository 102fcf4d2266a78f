#include "sxShell.h"

#include "ovUtils.h"

#include <shellapi.h>

bool ShellOpen(const std::string& file, const std::string& params)
{
    HINSTANCE result = ShellExecuteA(nullptr, "open", file.c_str(), params.empty() ? nullptr : params.c_str(),
                                     nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

HMODULE LoadSystemLibrary(const char* name)
{
    // Only a bare file name: a path would undo the point of loading from the
    // system folder.
    if (!name || !*name || strpbrk(name, "\\/:"))
        return nullptr;
    std::string folder = GetSystemDir();
    if (folder.empty())
        return nullptr;
    std::string path = JoinPath(folder, name);
    // The altered search path makes the library's own dependencies resolve
    // from the system folder too.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
