// The registry and INI-file objects of the run-time: thin wrappers over the
// Win32 registry calls and the private-profile functions.
//
// TRegistry: a root key (default HKEY_CURRENT_USER), an access mask for opens
// (default KEY_ALL_ACCESS) and at most one open key, CurrentKey, with its path
// CurrentPath below the root. A key path that starts with a backslash is taken
// from the root; any other path is relative to the current key when one is
// open, else to the root. The object owns CurrentKey and closes it in
// CloseKey, on the next successful open and in its destructor; callers only
// read it.
//
// Error contract: opens and tests answer bool; reads of missing values give
// an empty result; writes that the system refuses raise ERegistryException
// ("Failed to set data for '%s'"), reading a value that is not text raises
// ERegistryException ("Invalid data type for '%s'"). TIniFile::WriteString
// raises EIniFileException ("Unable to write to %s").
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ovClass.h"

class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

class TRegistry {
public:
    TRegistry() = default;
    explicit TRegistry(REGSAM access) : Access(access) {}
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;
    virtual ~TRegistry();

    HKEY RootKey = HKEY_CURRENT_USER;
    REGSAM Access = KEY_ALL_ACCESS;
    HKEY CurrentKey = nullptr;  // owned; see above
    std::string CurrentPath;

    // Opens `path` with Access, creating missing keys when canCreate is set;
    // on success the key becomes current. False when it cannot be opened.
    bool OpenKey(const std::string& path, bool canCreate);
    void CloseKey();
    // True when `path` can be opened with Access (a key that grants less
    // counts as absent).
    bool KeyExists(const std::string& path);
    // True when the current key has the value `name` ("" = default value).
    bool ValueExists(const std::string& name);
    // REG_SZ or REG_EXPAND_SZ text of the value; "" when it is missing.
    std::string ReadString(const std::string& name);
    // REG_DWORD value; `fallback` when it is missing; raises
    // "Invalid data type for '%s'" for a value of another type.
    int32_t ReadInteger(const std::string& name, int32_t fallback = 0);
    void WriteString(const std::string& name, const std::string& value);
    void WriteExpandString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, int32_t value);
    void WriteBinaryData(const std::string& name, const void* data, size_t size);
    // Deletes the key and its whole subtree. An empty path deletes nothing
    // and answers false.
    bool DeleteKey(const std::string& path);
    bool DeleteValue(const std::string& name);
    // Names of the current key's subkeys and values.
    std::vector<std::string> GetKeyNames();
    std::vector<std::string> GetValueNames();

protected:
    // Resolves `path` to the key it is relative to and the path below it.
    HKEY BaseKey(const std::string& path, std::string& subPath) const;
    // Makes `key` current (closing the old one) with the path for `path`.
    void ChangeKey(HKEY key, const std::string& path);
    void WriteData(const std::string& name, DWORD type, const void* data, size_t size);
};

class TRegistryEx : public TRegistry {
public:
    using TRegistry::TRegistry;
    // Opens `path` for reading only (KEY_READ), never creating it; the key
    // becomes current. False when it cannot be opened; never raises.
    bool OpenKeyReadOnly(const std::string& path);
};

// An INI file read and written through the private-profile functions (which
// compare names without regard to case, trim blanks and drop one pair of
// enclosing quotes). A value reads at most 2,047 characters; a section's name
// list at most 16 KB.
class TIniFile {
public:
    explicit TIniFile(std::string fileName) : Name(std::move(fileName)) {}

    std::string ReadString(const std::string& section, const std::string& name, const std::string& fallback);
    // Decimal, or hexadecimal after "0x"/"0X"; `fallback` when missing or not a number.
    int32_t ReadInteger(const std::string& section, const std::string& name, int32_t fallback);
    bool ReadBool(const std::string& section, const std::string& name, bool fallback);
    // The entry names of the section, as the file lists them.
    std::vector<std::string> ReadSection(const std::string& section);
    // Names and values: entries with an empty value are dropped; a name that
    // occurs more than once is listed once, where it first occurs, with its
    // first value.
    std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& section);
    // The section names of the file.
    std::vector<std::string> ReadSections();
    void WriteString(const std::string& section, const std::string& name, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& name, int32_t value);
    void EraseSection(const std::string& section);
    void DeleteKey(const std::string& section, const std::string& name);
    const std::string& FileName() const { return Name; }

private:
    std::string Name;
};
