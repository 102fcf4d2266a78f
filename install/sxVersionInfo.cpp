#include "sxVersionInfo.h"

#include "sxShell.h"

namespace {

struct TVersionLibrary {
    using TGetSize = DWORD(WINAPI*)(LPCSTR, LPDWORD);
    using TGetInfo = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
    using TQuery = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    TGetSize GetSize = nullptr;
    TGetInfo GetInfo = nullptr;
    TQuery Query = nullptr;

    TVersionLibrary()
    {
        // Loaded once for the life of the process.
        HMODULE module = LoadSystemLibrary("version.dll");
        if (!module)
            return;
        GetSize = reinterpret_cast<TGetSize>(reinterpret_cast<void*>(GetProcAddress(module, "GetFileVersionInfoSizeA")));
        GetInfo = reinterpret_cast<TGetInfo>(reinterpret_cast<void*>(GetProcAddress(module, "GetFileVersionInfoA")));
        Query = reinterpret_cast<TQuery>(reinterpret_cast<void*>(GetProcAddress(module, "VerQueryValueA")));
    }
    bool Loaded() const { return GetSize && GetInfo && Query; }
};

TVersionLibrary& VersionLibrary()
{
    static TVersionLibrary library;
    return library;
}

}  // namespace

bool ReadVersionBlock(const std::string& fileName, std::vector<char>& block)
{
    block.clear();
    TVersionLibrary& library = VersionLibrary();
    if (!library.Loaded())
        return false;
    DWORD ignored = 0;
    DWORD size = library.GetSize(fileName.c_str(), &ignored);
    if (size == 0 || size > (1u << 20))
        return false;
    block.resize(size);
    if (!library.GetInfo(fileName.c_str(), 0, size, block.data())) {
        block.clear();
        return false;
    }
    return true;
}

bool QueryVersionValue(std::vector<char>& block, const char* subBlock, void** data, UINT* length)
{
    TVersionLibrary& library = VersionLibrary();
    *data = nullptr;
    *length = 0;
    if (block.empty() || !library.Loaded())
        return false;
    return library.Query(block.data(), subBlock, data, length) && *data && *length > 0;
}
