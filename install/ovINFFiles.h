// The setup script interpreter: an INI-form file that writes and deletes
// registry entries, creates shell links, registers COM servers, adds file
// attributes and deletes files, recording in the uninstall record what an
// uninstaller has to undo. docs/setup-script.md describes the syntax.
#pragma once

#include <windows.h>

#include "ovUninstInt.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One parsed line of a registry section: [marker] KeyPath [":" ValueName] "=" Data.
struct TRegistryLine {
    enum TAction { raWrite, raDeleteKey, raDeleteValue };
    enum TRecord { rrNone, rrKey, rrValue };
    enum TDataType { rdString, rdBinary, rdInteger };

    std::string KeyPath;    // below the section's root, trimmed
    std::string ValueName;  // trimmed; empty = the key's default value
    std::string Value;      // the data, trimmed, without its type prefix
    TAction Action = raWrite;
    TRecord Record = rrNone;
    TDataType DataType = rdString;
};

class TSetupInfFile {
public:
    // The run's uninstall record, not owned; none = record nothing.
    TUninstallINF* Uninstall = nullptr;

    // Runs the whole script. True when every section succeeded; the first
    // section that fails stops the run (what was done stays done). A script
    // file that does not exist answers false. Raises
    // EConvertError for HEX/DWORD data that is not a number and
    // ERegistryException for registry writes the system refuses.
    bool Execute(const std::string& scriptFileName);

    // Parses one registry line (entry name, "=", value). False when it
    // cannot be parsed: empty, no "=", or an empty key path.
    static bool ParseRegistryLine(const std::string& line, TRegistryLine& result);
    // The integer syntax of DWORD data and of the "Register ActiveX" flag:
    // optional leading blanks, a sign, decimal digits or hexadecimal digits
    // after "$", "x", "X", "0x" or "0X". Raises EConvertError ("'%s' is not a
    // valid integer value") otherwise.
    static int32_t StrToInt(const std::string& text);
    // HEX data: items separated by commas and/or blanks (double quotes may
    // enclose an item), each bare hexadecimal digits; the low byte of each
    // is kept. Raises EConvertError for an item that is not a number. The
    // bytes of one binary value are assembled here before they are written;
    // a value read from the script (at most 2,047 characters) gives at most
    // 1,024 bytes.
    static std::vector<uint8_t> ParseHexData(const std::string& text);

private:
    bool RegistrySection(const std::string& section, HKEY rootKey);
    bool LinkSection(const std::string& section, int specialFolder);
    bool RegisterActiveX();
    bool FileAttributes();
    bool DeleteFiles();

    std::string ScriptFileName;  // full path: the profile functions look bare names up in the Windows folder
};
