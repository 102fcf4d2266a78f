// Listing a key's subkeys and values. The uninstaller and the tests list
// keys, the setup program does not: in a file of their own, so that the setup
// program does not carry them. The linker leaves out unused code only a whole
// object at a time here, since each object's unwinding table refers to every
// function in it.
#include "ovRegistry.h"

namespace {

// The names of the key's subkeys (values == false) or values, in the order
// the registry enumerates them; empty when the key cannot be queried.
std::vector<std::string> EnumerateNames(HKEY key, bool values)
{
    std::vector<std::string> names;
    DWORD keyCount = 0, keyMaxLen = 0, valueCount = 0, valueMaxLen = 0;
    if (!key || RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &keyCount, &keyMaxLen, nullptr, &valueCount,
                                 &valueMaxLen, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    const DWORD count = values ? valueCount : keyCount;
    const DWORD maxLen = values ? valueMaxLen : keyMaxLen;
    std::string name(maxLen + 1, '\0');
    for (DWORD i = 0; i < count; ++i) {
        DWORD len = maxLen + 1;
        LONG result = values ? RegEnumValueA(key, i, &name[0], &len, nullptr, nullptr, nullptr, nullptr)
                             : RegEnumKeyExA(key, i, &name[0], &len, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_SUCCESS)
            names.push_back(name.substr(0, len));
    }
    return names;
}

}  // namespace

std::vector<std::string> TRegistry::GetKeyNames()
{
    return EnumerateNames(CurrentKey, false);
}

std::vector<std::string> TRegistry::GetValueNames()
{
    return EnumerateNames(CurrentKey, true);
}
