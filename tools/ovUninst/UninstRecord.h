// Reading an uninstall record and removing what it lists (the uninstaller's
// engine, without any user interface).
#pragma once

#include <string>
#include <utility>
#include <vector>

// The record as written by the setup (see install/ovUninstInt.h for the layout).
struct TUninstallRecord {
    std::vector<std::string> Files;
    std::vector<std::string> Folders;  // outermost first, as recorded
    std::string ProgramName;
    std::string AfterUninstall;
    std::string AfterUninstallParamString;
    // "Registry": key path and "*" (whole key) or a value name ("" = default value).
    std::vector<std::pair<std::string, std::string>> Registry;
    std::vector<std::string> UninstallKeys;  // full key paths of the "UninstallKey" section
};

// Reads the record file. False when it cannot be read or holds no "General"
// section (not an uninstall record).
bool ReadUninstallRecord(const std::string& fileName, TUninstallRecord& record);

// What the removal did.
struct TRemovalResult {
    int Removed = 0;                      // files, folders, keys and values removed
    std::vector<std::string> Scheduled;   // in use: removed at the next restart
    std::vector<std::string> Kept;        // left in place (folders not empty, protected keys)
};

// Removes everything the record lists, in this order: files, folders when
// empty (innermost first), registry values, registry keys with their
// subkeys, the product's uninstall key and icon value, the record file, and
// once more the folders that the record file kept. Entries already gone are
// skipped. Files that are in use (the running uninstaller among them) and
// folders that only they keep are scheduled for removal at the next restart.
TRemovalResult RemoveRecordedItems(const TUninstallRecord& record, const std::string& recordFileName);

// The command line of the uninstaller: [/silent] record-file, the path
// quoted when it holds a space. False when no record file is named.
bool ParseUninstallCommandLine(const std::string& arguments, bool& silent, std::string& recordFileName);
