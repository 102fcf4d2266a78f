#include "sxShell.h"

#include "ovUtils.h"

#include <shellapi.h>

bool ShellOpen(const std::string& file, const std::string& params)
{
    HINSTANCE result = ShellExecuteA(nullptr, "open", file.c_str(), params.empty() ? nullptr : params.c_str(),
                                     nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

namespace {

// Load flags of systems that know SetDefaultDllDirectories (older SDK
// headers may lack them).
constexpr DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchSystem32 = 0x00000800;    // LOAD_LIBRARY_SEARCH_SYSTEM32

typedef BOOL(WINAPI* TSetDefaultDllDirectories)(DWORD);
typedef BOOL(WINAPI* TSetDllDirectoryA)(LPCSTR);

FARPROC Kernel32Proc(const char* name)
{
    // kernel32 is in every process: no library is loaded to look it up.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? GetProcAddress(kernel, name) : nullptr;
}

// The LOAD_LIBRARY_SEARCH_ flags come with SetDefaultDllDirectories.
bool HasSearchFlags()
{
    static const bool has = Kernel32Proc("SetDefaultDllDirectories") != nullptr;
    return has;
}

}  // namespace

bool RestrictLibrarySearch()
{
    bool restricted = false;
    auto setDefault = reinterpret_cast<TSetDefaultDllDirectories>(Kernel32Proc("SetDefaultDllDirectories"));
    if (setDefault && setDefault(kSearchSystem32)) {
        restricted = true;
    } else {
        auto setDllDirectory = reinterpret_cast<TSetDllDirectoryA>(Kernel32Proc("SetDllDirectoryA"));
        if (setDllDirectory)
            setDllDirectory("");
    }
    // Kept loaded for the life of the process.
    static const char* const preload[] = {"uxtheme.dll", "dwmapi.dll", "cryptbase.dll", "userenv.dll",
                                          "propsys.dll", "profapi.dll", "version.dll"};
    for (const char* name : preload)
        LoadSystemLibrary(name);
    return restricted;
}

HMODULE LoadLibraryByPath(const std::string& path)
{
    // Both load modes need a full path: a relative one is made full first.
    char full[MAX_PATH * 2];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof(full), full, nullptr);
    if (n == 0 || n >= sizeof(full))
        return nullptr;
    if (HasSearchFlags())
        return LoadLibraryExA(full, nullptr, kSearchDllLoadDir | kSearchSystem32);
    return LoadLibraryExA(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
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
    // The library's own dependencies resolve from the system folder too.
    if (HasSearchFlags())
        return LoadLibraryExA(path.c_str(), nullptr, kSearchSystem32);
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
