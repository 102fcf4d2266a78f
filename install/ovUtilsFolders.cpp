#include "ovUtils.h"

#include "ovUtilsShared.h"

using namespace ovutils_detail;

namespace {

const char CurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

}  // namespace

// ---- Folder macros and system folders ----------------------------------------------------

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
