// The setup project file: an INI-style text that describes one setup (its
// texts, options, folders, files and libraries). LoadProject turns it into
// the archive header, the string table and the list of files to store.
// docs/project-file.md is the reference of every section and key.
#pragma once

#include "sxArchiveWriter.h"
#include "sxTypes.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A mistake in the project: the message names the file and the line
// ("example.ini:12: unknown key 'Pasword' in [Setup]").
class EProjectError : public Exception {
public:
    using Exception::Exception;
};

// The folder where the uninstall registration expects the uninstaller.
extern const char* const SXUninstallerFolder;  // "<CommonFilesDir>\Orvale Systems"
extern const char* const SXUninstallerName;    // "ovUninst.exe"

struct TProject {
    std::string FileName;   // the project file as given
    std::string BaseDir;    // its folder: relative paths resolve against it

    TSXHeaderSL Header;     // every field but the files and the check block
    std::vector<std::string> Strings;  // the string table, by index
    std::vector<TArchiveSource> Files; // in archive order
    std::string Password;
    int CompressionLevel = 6;

    std::string DialogLibrary;  // resolved paths; empty = none
    std::string ClientLibrary;
    std::string Icon;           // .ico file replacing the stub's icon
    std::string Output;         // default output (resolved); empty = beside the project
    std::string Stub;           // stub named by the project (resolved)

    // Version information: numbers (a.b.c.d) and string values.
    bool HasVersion = false;
    uint16_t FileVersion[4] = {};
    uint16_t ProductVersion[4] = {};
    std::vector<std::pair<std::string, std::string>> VersionStrings;

    // The project registers for uninstall and names no Uninstaller: the
    // builder is to supply ovUninst.exe (Setup.Uninstaller) itself.
    bool UninstallerWanted = false;

    // Doubtful but valid things ("file:line: ..."), for the builder to show.
    std::vector<std::string> Warnings;
};

// Reads and checks a project file. overrides are "Section.Key=Value" texts
// applied after the file (the builder's --set), as if written at the end of
// that section. Raises EProjectError for every mistake (file and line
// named), including a source file, wildcard or library that is missing.
TProject LoadProject(const std::string& fileName, const std::vector<std::string>& overrides = {});

// Days since 1899-12-30 of a "YYYY-MM-DD[ HH:MM[:SS]]" text; false when the
// text is not such a date.
bool ParseDateTime(const std::string& text, double& value);
// The inverse, for the dump: "YYYY-MM-DD HH:MM:SS".
std::string FormatDateTime(double value);
