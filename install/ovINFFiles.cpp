// The setup script interpreter.
#include "ovINFFiles.h"

#include "ShLinks.h"
#include "ovClass.h"
#include "ovRegistry.h"
#include "ovUtils.h"
#include "sxCom.h"
#include "sxHandles.h"
#include "sxShell.h"
#include "sxUtils.h"
#include "ovText.h"

#include <objbase.h>

#include <cctype>
#include <cstring>

namespace {

// Markers at the very start of a registry line, in the order they are tested.
struct TMarker {
    const char* Text;
    TRegistryLine::TAction Action;
    TRegistryLine::TRecord Record;
};
const TMarker Markers[] = {
    {"-(uk)", TRegistryLine::raWrite, TRegistryLine::rrKey},
    {"-(uv)", TRegistryLine::raWrite, TRegistryLine::rrValue},
    {"-(dk)", TRegistryLine::raDeleteKey, TRegistryLine::rrNone},
    {"-(dv)", TRegistryLine::raDeleteValue, TRegistryLine::rrNone},
};
const size_t MarkerLength = 5;

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    size_t n = std::strlen(prefix);
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

std::string LowerCase(std::string text)
{
    for (auto& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The extension of a file name: from the last "." after the last backslash
// (or drive colon); empty when there is none.
std::string ExtractFileExt(const std::string& name)
{
    size_t dot = name.find_last_of(".\\:");
    if (dot == std::string::npos || name[dot] != '.')
        return std::string();
    return name.substr(dot);
}


[[noreturn]] void ConvertError(const std::string& text)
{
    throw EConvertError(FormatText("'%s' is not a valid integer value", text.c_str()));
}

// The items of a comma-separated text in which blanks also separate items
// and double quotes may enclose an item ("" inside stands for one quote).
// An empty place between two commas is an empty item; a final comma adds none.
std::vector<std::string> SplitCommaText(const std::string& text)
{
    std::vector<std::string> items;
    size_t i = 0, n = text.size();
    auto isBlank = [&](size_t k) { return k < n && text[k] >= 1 && static_cast<unsigned char>(text[k]) <= ' '; };
    while (isBlank(i))
        ++i;
    while (i < n) {
        std::string item;
        if (text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        } else {
            size_t start = i;
            while (i < n && static_cast<unsigned char>(text[i]) > ' ' && text[i] != ',')
                ++i;
            item = text.substr(start, i - start);
        }
        items.push_back(item);
        while (isBlank(i))
            ++i;
        if (i < n && text[i] == ',') {
            do
                ++i;
            while (isBlank(i));
        }
    }
    return items;
}

}  // namespace

int32_t TSetupInfFile::StrToInt(const std::string& text)
{
    size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n)
        ConvertError(text);
    uint64_t value = 0;
    for (; i < n; ++i) {
        int digit = hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0)
            ConvertError(text);
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        // Hexadecimal numbers may use all 32 bits; decimal ones must fit the
        // signed range (one more for the negative end).
        if (value > (hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull)))
            ConvertError(text);
    }
    uint32_t bits = static_cast<uint32_t>(value);
    if (negative)
        bits = 0u - bits;
    return static_cast<int32_t>(bits);
}

std::vector<uint8_t> TSetupInfFile::ParseHexData(const std::string& text)
{
    std::vector<uint8_t> bytes;
    for (const auto& item : SplitCommaText(text)) {
        // Each item is read as "$" + item: bare hexadecimal digits only.
        std::string number = "$" + item;
        if (item.empty() || item[0] == '-' || item[0] == '+' || item[0] == ' ')
            ConvertError(number);
        bytes.push_back(static_cast<uint8_t>(StrToInt(number) & 0xFF));
    }
    return bytes;
}

bool TSetupInfFile::ParseRegistryLine(const std::string& line, TRegistryLine& result)
{
    result = TRegistryLine();
    if (line.empty())
        return false;
    std::string rest = line;
    for (const auto& marker : Markers) {
        if (rest.compare(0, MarkerLength, marker.Text) == 0) {
            result.Action = marker.Action;
            result.Record = marker.Record;
            rest.erase(0, MarkerLength);
            break;
        }
    }
    std::string keyPath, valueName, data;
    size_t colon = rest.find(':');
    if (colon == std::string::npos) {
        size_t eq = rest.find('=');
        if (eq == std::string::npos)
            return false;
        keyPath = rest.substr(0, eq);
        data = rest.substr(eq + 1);
    } else {
        keyPath = rest.substr(0, colon);
        std::string tail = rest.substr(colon + 1);
        size_t eq = tail.find('=');
        if (eq == std::string::npos)
            return false;
        valueName = tail.substr(0, eq);
        data = tail.substr(eq + 1);
    }
    if (StartsWithNoCase(data, "HEX:")) {
        result.DataType = TRegistryLine::rdBinary;
        data.erase(0, 4);
    } else if (StartsWithNoCase(data, "DWORD:")) {
        result.DataType = TRegistryLine::rdInteger;
        data.erase(0, 6);
    }
    result.KeyPath = Trim(keyPath);
    // "Software\A\" and "Software\A" are one key: record it once.
    while (result.KeyPath.size() > 1 && result.KeyPath.back() == '\\')
        result.KeyPath.pop_back();
    result.ValueName = Trim(valueName);
    result.Value = Trim(data);
    // A key path of nothing but backslashes names the root itself: deleting
    // it would wipe the whole root, and writing there is never meant.
    if (result.KeyPath.find_first_not_of('\\') == std::string::npos)
        return false;
    return true;
}

bool TSetupInfFile::Execute(const std::string& scriptFileName)
{
    // The profile functions look a bare name up in the Windows folder.
    char full[MAX_PATH * 4];
    DWORD n = GetFullPathNameA(scriptFileName.c_str(), sizeof(full), full, nullptr);
    ScriptFileName = (n > 0 && n < sizeof(full)) ? std::string(full, n) : scriptFileName;
    DWORD attributes = GetFileAttributesA(ScriptFileName.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;

    return RegistrySection("HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE) &&
           RegistrySection("HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT) &&
           RegistrySection("HKEY_CURRENT_USER", HKEY_CURRENT_USER) &&
           LinkSection("ShellLinks.Desktop", slDesktop) && LinkSection("ShellLinks.StartMenu", slStartMenu) &&
           LinkSection("ShellLinks.Programs", slPrograms) && LinkSection("ShellLinks.SendTo", slSendTo) &&
           RegisterActiveX() && FileAttributes() && DeleteFiles();
}

bool TSetupInfFile::RegistrySection(const std::string& section, HKEY rootKey)
{
    TIniFile ini(ScriptFileName);
    auto entries = ini.ReadSectionValues(section);
    TRegistry reg;
    reg.RootKey = rootKey;
    for (const auto& entry : entries) {
        TRegistryLine line;
        if (!ParseRegistryLine(entry.first + "=" + entry.second, line))
            return false;
        switch (line.Action) {
        case TRegistryLine::raDeleteKey:
            if (reg.KeyExists(line.KeyPath))
                reg.DeleteKey(line.KeyPath);
            continue;
        case TRegistryLine::raDeleteValue:
            if (reg.KeyExists(line.KeyPath) && reg.OpenKey(line.KeyPath, false)) {
                if (reg.ValueExists(line.ValueName))
                    reg.DeleteValue(line.ValueName);
                reg.CloseKey();
            }
            continue;
        case TRegistryLine::raWrite:
            break;
        }
        if (Uninstall) {
            if (line.Record == TRegistryLine::rrKey) {
                // Only the keys this line is about to create, deepest first;
                // an existing ancestor ends the walk.
                std::string path = line.KeyPath;
                while (!path.empty() && !reg.KeyExists(path)) {
                    Uninstall->RegistryKeys.push_back(section + "\\" + path);
                    size_t slash = path.rfind('\\');
                    path = slash == std::string::npos ? std::string() : path.substr(0, slash);
                }
            } else if (line.Record == TRegistryLine::rrValue) {
                Uninstall->RegistryValues.push_back(section + "\\" + line.KeyPath + "=" + line.ValueName);
            }
        }
        // Converted before the key is created, so that bad data leaves no
        // empty key behind.
        std::vector<uint8_t> binary;
        int32_t integer = 0;
        if (line.DataType == TRegistryLine::rdBinary)
            binary = ParseHexData(line.Value);
        else if (line.DataType == TRegistryLine::rdInteger)
            integer = StrToInt(line.Value);
        std::string text = line.DataType == TRegistryLine::rdString ? ExpandMacros(line.Value) : std::string();

        if (!reg.OpenKey(line.KeyPath, true))
            throw ERegistryException(FormatText("Failed to set data for '%s'", line.ValueName.c_str()));
        switch (line.DataType) {
        case TRegistryLine::rdBinary:
            reg.WriteBinaryData(line.ValueName, binary.data(), binary.size());
            break;
        case TRegistryLine::rdInteger:
            reg.WriteInteger(line.ValueName, integer);
            break;
        case TRegistryLine::rdString:
            reg.WriteString(line.ValueName, text);
            break;
        }
        reg.CloseKey();
    }
    return true;
}

bool TSetupInfFile::LinkSection(const std::string& section, int specialFolder)
{
    TIniFile ini(ScriptFileName);
    for (const auto& entry : ini.ReadSectionValues(section)) {
        std::string value = entry.second;
        TShellLinkInfo info;
        // "<<" arguments ">>" anywhere in the value; taken out before the
        // value is split at ";", so the arguments may hold one.
        size_t open = value.find("<<");
        if (open != std::string::npos) {
            size_t close = value.find(">>", open + 2);
            if (close == std::string::npos) {
                info.Arguments = value.substr(open + 2);
                value.erase(open);
            } else {
                info.Arguments = value.substr(open + 2, close - open - 2);
                value.erase(open, close + 2 - open);
            }
        }
        std::string linkName = entry.first;
        if (ExtractFileExt(linkName).empty())
            linkName += ".lnk";
        size_t semicolon = value.find(';');
        if (semicolon != std::string::npos) {
            info.IconLocation = ExpandMacros(Trim(value.substr(semicolon + 1, 1024)));
            value.erase(semicolon);
        }
        info.Path = ExpandMacros(Trim(value));

        bool ok;
        if (Uninstall) {
            std::string linkPath;
            ok = CreateShellLinkEx(linkName, std::string(), specialFolder, info, linkPath, &Uninstall->Folders);
            if (ok)
                Uninstall->Files.push_back(linkPath);
        } else {
            ok = CreateShellLink(linkName, std::string(), specialFolder, info);
        }
        if (!ok)
            return false;
    }
    return true;
}

bool TSetupInfFile::RegisterActiveX()
{
    const char* const section = "Register ActiveX";
    TIniFile ini(ScriptFileName);
    auto names = ini.ReadSection(section);
    if (names.empty())
        return true;
    // Servers expect COM to be initialised on the calling thread.
    TComScope com;
    for (const auto& name : names) {
        bool doRegister = true;
        std::string flag = Trim(ini.ReadString(section, name, ""));
        if (!flag.empty()) {
            try {
                doRegister = StrToInt(flag) != 0;
            } catch (const EConvertError&) {
                doRegister = true;
            }
        }
        std::string fileName = ExpandMacros(name);
        // A bare name is a server of the system: it comes from the system
        // folder, never from the setup's folder or the current one. With a
        // path, the server's own dependencies come from its folder first.
        bool bareName = fileName.find_first_of("\\/:") == std::string::npos;
        TModuleHandle module(bareName ? LoadSystemLibrary(fileName.c_str())
                                      : LoadLibraryByPath(fileName));
        if (!module)
            return false;
        typedef HRESULT(__stdcall * TServerProc)();
        auto proc = reinterpret_cast<TServerProc>(
            GetProcAddress(module.get(), doRegister ? "DllRegisterServer" : "DllUnregisterServer"));
        if (!proc || proc() != S_OK)
            return false;
    }
    return true;
}

bool TSetupInfFile::FileAttributes()
{
    const char* const section = "File Attributes";
    TIniFile ini(ScriptFileName);
    for (const auto& name : ini.ReadSection(section)) {
        std::string fileName = ExpandMacros(name);
        std::string letters = LowerCase(ini.ReadString(section, name, ""));
        DWORD attributes = GetFileAttributesA(fileName.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            continue;
        DWORD added = 0;
        if (letters.find('a') != std::string::npos)
            added |= FILE_ATTRIBUTE_ARCHIVE;
        if (letters.find('h') != std::string::npos)
            added |= FILE_ATTRIBUTE_HIDDEN;
        if (letters.find('s') != std::string::npos)
            added |= FILE_ATTRIBUTE_SYSTEM;
        if (letters.find('r') != std::string::npos)
            added |= FILE_ATTRIBUTE_READONLY;
        if (added == 0)
            continue;
        // "Normal" is valid only alone; any added attribute replaces it.
        attributes = (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) | added;
        SetFileAttributesA(fileName.c_str(), attributes);
    }
    return true;
}

bool TSetupInfFile::DeleteFiles()
{
    TIniFile ini(ScriptFileName);
    for (const auto& name : ini.ReadSection("Delete Files"))
        DeleteFileA(ExpandMacros(name).c_str());
    return true;
}
