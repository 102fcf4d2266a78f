#include "ovRegistry.h"

#include "ovUtils.h"
#include "sxHandles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Deletes parent\name with everything below it: subkeys from the last index
// to the first, then the key itself.
bool DeleteTree(HKEY parent, const std::string& name)
{
    TKeyHandle key;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, key.put()) ==
        ERROR_SUCCESS) {
        DWORD count = 0, maxLen = 0;
        if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, &maxLen, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            std::string subName(maxLen + 1, '\0');
            for (DWORD i = count; i-- > 0;) {
                DWORD len = maxLen + 1;
                if (RegEnumKeyExA(key.get(), i, &subName[0], &len, nullptr, nullptr, nullptr, nullptr) ==
                    ERROR_SUCCESS)
                    DeleteTree(key.get(), subName.substr(0, len));
            }
        }
    }
    key.reset();
    return RegDeleteKeyA(parent, name.c_str()) == ERROR_SUCCESS;
}

// Splits a list of zero-terminated names ended by an empty one.
std::vector<std::string> SplitNameList(const char* buffer, DWORD length)
{
    std::vector<std::string> names;
    const char* p = buffer;
    const char* end = buffer + length;
    while (p < end && *p) {
        size_t n = strnlen(p, end - p);
        names.emplace_back(p, n);
        p += n + 1;
    }
    return names;
}

}  // namespace

// ---- TRegistry -----------------------------------------------------------------

TRegistry::~TRegistry()
{
    CloseKey();
}

HKEY TRegistry::BaseKey(const std::string& path, std::string& subPath) const
{
    if (!path.empty() && path[0] == '\\') {
        subPath = path.substr(1);
        return RootKey;
    }
    subPath = path;
    return CurrentKey ? CurrentKey : RootKey;
}

void TRegistry::ChangeKey(HKEY key, const std::string& path)
{
    bool relative = path.empty() || path[0] != '\\';
    std::string newPath;
    if (relative && CurrentKey)
        newPath = CurrentPath + "\\" + path;
    else
        newPath = relative ? path : path.substr(1);
    CloseKey();
    CurrentKey = key;
    CurrentPath = newPath;
}

bool TRegistry::OpenKey(const std::string& path, bool canCreate)
{
    std::string subPath;
    HKEY base = BaseKey(path, subPath);
    TKeyHandle key;
    LONG rc;
    if (canCreate) {
        DWORD disposition = 0;
        rc = RegCreateKeyExA(base, subPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, Access, nullptr, key.put(),
                             &disposition);
    } else {
        rc = RegOpenKeyExA(base, subPath.c_str(), 0, Access, key.put());
    }
    if (rc != ERROR_SUCCESS)
        return false;
    ChangeKey(key.release(), path);
    return true;
}

void TRegistry::CloseKey()
{
    if (CurrentKey) {
        RegCloseKey(CurrentKey);
        CurrentKey = nullptr;
        CurrentPath.clear();
    }
}

bool TRegistry::KeyExists(const std::string& path)
{
    std::string subPath;
    HKEY base = BaseKey(path, subPath);
    TKeyHandle key;
    return RegOpenKeyExA(base, subPath.c_str(), 0, Access, key.put()) == ERROR_SUCCESS;
}

bool TRegistry::ValueExists(const std::string& name)
{
    if (!CurrentKey)
        return false;
    return RegQueryValueExA(CurrentKey, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string TRegistry::ReadString(const std::string& name)
{
    if (!CurrentKey)
        return std::string();
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(CurrentKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::string();
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw ERegistryException(FormatText("Invalid data type for '%s'", name.c_str()));
    std::string value;
    LONG rc;
    do {
        value.assign(size + 1, '\0');
        DWORD got = size;
        rc = RegQueryValueExA(CurrentKey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &got);
        if (rc == ERROR_SUCCESS)
            value.resize(strnlen(value.c_str(), got));
        else
            size = got > size ? got : size * 2 + 16;
    } while (rc == ERROR_MORE_DATA);
    if (rc != ERROR_SUCCESS)
        return std::string();
    return value;
}

int32_t TRegistry::ReadInteger(const std::string& name, int32_t fallback)
{
    if (!CurrentKey)
        return fallback;
    DWORD type = 0, value = 0, size = sizeof(value);
    LONG rc = RegQueryValueExA(CurrentKey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (rc == ERROR_FILE_NOT_FOUND)
        return fallback;
    if ((rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) || type != REG_DWORD || size != sizeof(value))
        throw ERegistryException(FormatText("Invalid data type for '%s'", name.c_str()));
    return static_cast<int32_t>(value);
}

void TRegistry::WriteData(const std::string& name, DWORD type, const void* data, size_t size)
{
    LONG rc = ERROR_INVALID_HANDLE;
    if (CurrentKey)
        rc = RegSetValueExA(CurrentKey, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                            static_cast<DWORD>(size));
    if (rc != ERROR_SUCCESS)
        throw ERegistryException(FormatText("Failed to set data for '%s'", name.c_str()), static_cast<uint32_t>(rc));
}

void TRegistry::WriteString(const std::string& name, const std::string& value)
{
    WriteData(name, REG_SZ, value.c_str(), value.size() + 1);
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value)
{
    WriteData(name, REG_EXPAND_SZ, value.c_str(), value.size() + 1);
}

void TRegistry::WriteInteger(const std::string& name, int32_t value)
{
    DWORD data = static_cast<DWORD>(value);
    WriteData(name, REG_DWORD, &data, sizeof(data));
}

void TRegistry::WriteBinaryData(const std::string& name, const void* data, size_t size)
{
    WriteData(name, REG_BINARY, data, size);
}

bool TRegistry::DeleteKey(const std::string& path)
{
    std::string subPath;
    HKEY base = BaseKey(path, subPath);
    // An empty path would name the base key itself: its subkeys would go
    // while the key stays. Refuse it.
    if (subPath.empty())
        return false;
    return DeleteTree(base, subPath);
}

bool TRegistry::DeleteValue(const std::string& name)
{
    if (!CurrentKey)
        return false;
    return RegDeleteValueA(CurrentKey, name.c_str()) == ERROR_SUCCESS;
}

// ---- TRegistryEx ---------------------------------------------------------------

bool TRegistryEx::OpenKeyReadOnly(const std::string& path)
{
    std::string subPath;
    HKEY base = BaseKey(path, subPath);
    TKeyHandle key;
    if (RegOpenKeyExA(base, subPath.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return false;
    ChangeKey(key.release(), path);
    return true;
}

// ---- TIniFile --------------------------------------------------------------------

std::string TIniFile::ReadString(const std::string& section, const std::string& name, const std::string& fallback)
{
    char buffer[2048];
    DWORD n = GetPrivateProfileStringA(section.c_str(), name.c_str(), fallback.c_str(), buffer, sizeof(buffer),
                                       Name.c_str());
    return std::string(buffer, n);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& name, int32_t fallback)
{
    std::string text = ReadString(section, name, "");
    if (text.empty())
        return fallback;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long value;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (!isxdigit(static_cast<unsigned char>(text[2])))
            return fallback;
        value = strtoll(begin + 2, &end, 16);
        // Hexadecimal covers the whole 32-bit range ("0xFFFFFFFF" is -1).
        if (*end || errno || value > 0xFFFFFFFFLL)
            return fallback;
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }
    value = strtoll(begin, &end, 10);
    if (end == begin || *end || errno || value < INT32_MIN || value > INT32_MAX ||
        isspace(static_cast<unsigned char>(text[0])))
        return fallback;
    return static_cast<int32_t>(value);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& name, bool fallback)
{
    return ReadInteger(section, name, fallback ? 1 : 0) != 0;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section)
{
    std::vector<char> buffer(16384);
    DWORD n = GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(),
                                       static_cast<DWORD>(buffer.size()), Name.c_str());
    return SplitNameList(buffer.data(), n);
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(const std::string& section)
{
    std::vector<std::pair<std::string, std::string>> result;
    for (const std::string& name : ReadSection(section)) {
        bool seen = std::any_of(result.begin(), result.end(),
                                [&](const std::pair<std::string, std::string>& p) { return SameText(p.first, name); });
        if (seen)
            continue;
        // The profile functions give the first entry of that name.
        std::string value = ReadString(section, name, "");
        if (!value.empty())
            result.emplace_back(name, value);
    }
    return result;
}

std::vector<std::string> TIniFile::ReadSections()
{
    std::vector<char> buffer(16384);
    DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer.data(), static_cast<DWORD>(buffer.size()),
                                       Name.c_str());
    return SplitNameList(buffer.data(), n);
}

void TIniFile::WriteString(const std::string& section, const std::string& name, const std::string& value)
{
    if (!WritePrivateProfileStringA(section.c_str(), name.c_str(), value.c_str(), Name.c_str())) {
        const DWORD err = GetLastError();
        throw EIniFileException(FormatText("Unable to write to %s", Name.c_str()), err);
    }
}

void TIniFile::WriteInteger(const std::string& section, const std::string& name, int32_t value)
{
    WriteString(section, name, FormatText("%d", static_cast<int>(value)));
}

void TIniFile::EraseSection(const std::string& section)
{
    if (!WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, Name.c_str())) {
        const DWORD err = GetLastError();
        throw EIniFileException(FormatText("Unable to write to %s", Name.c_str()), err);
    }
}

void TIniFile::DeleteKey(const std::string& section, const std::string& name)
{
    WritePrivateProfileStringA(section.c_str(), name.c_str(), nullptr, Name.c_str());
}
