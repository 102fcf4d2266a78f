// The uninstall record: what a setup run installed and an uninstaller has to
// remove, and the product's entry in the system's list of installed programs.
//
// The record file (INI form, "<product>.del"), sections in this order:
//   [Files]         one full file path per line, no "=", in recording order
//   [Folders]       one full folder path per line, outermost first
//   [General]       ProgramName=..., AfterUninstall=..., AfterUninstallParamString=...
//   [Registry]      <root>\<key path>=*            a whole key
//                   <root>\<key path>=<value name> one value (empty name: the default value)
//   [UninstallKey]  HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\<product>=*
// "Files" and "Folders" are written only when not empty, "UninstallKey" only
// when the product was registered (a product name was given). <root> is
// HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT or HKEY_CURRENT_USER.
//
// Registry, under HKEY_LOCAL_MACHINE:
//   Software\Microsoft\Windows\CurrentVersion\Uninstall\<product>
//     DisplayName, UninstallString (U R), SilentUninstall (U /silent R),
//     QuietUninstallString (= SilentUninstall), InstallLocation, DisplayIcon,
//     EstimatedSize (DWORD, KiB of the product's own files), NoModify and
//     NoRepair (DWORD 1), DisplayVersion, Publisher and URLInfoAbout (when
//     known), SharedUninstaller (the shared uninstaller this product counted)
//   Software\Microsoft\Windows\CurrentVersion\SharedDLLs: <uninstaller path> =
//     DWORD count of the products that carry it, raised once per product
//   Software\Orvale Systems\Uninstall Icons: <product> = icon file
// with U and R the uninstaller's and the record's paths, each quoted when it
// holds a space and followed by one blank.
#pragma once

#include "sxUninstRules.h"  // the key paths

#include <cstdint>
#include <string>
#include <vector>


class TUninstallINF {
public:
    std::string ProgramName;                // names the registry key; shown in the list
    std::string AfterUninstall;             // program to run after uninstalling (expanded)
    std::string AfterUninstallParamString;  // its parameters (expanded)
    std::string UninstallKey;               // full path of the product's key; set by RegisterUninstall
    std::string IconFile;                   // icon of the product's entry
    std::vector<std::string> Files;           // files to remove
    std::vector<std::string> Folders;         // folders the setup created, outermost first
    std::vector<std::string> RegistryKeys;    // root name + "\" + key path
    std::vector<std::string> RegistryValues;  // root name + "\" + key path + "=" + value name
    std::string InstallLocation;            // the target folder (InstallLocation value)
    int64_t EstimatedBytes = 0;             // bytes of the product's own files (EstimatedSize value)
    std::string DisplayVersion;             // from the setup's version information; empty = not written
    std::string Publisher;
    std::string URLInfoAbout;
    std::string SharedUninstaller;          // full path of the shared uninstaller this run installed
    bool SharedUninstallerExisted = false;  // it was there before this run

    // Writes the product's registry entries and sets UninstallKey; does
    // nothing when ProgramName is empty. Raises ERegistryException when the
    // system refuses a write.
    void RegisterUninstall(const std::string& recordFileName);
    // RegisterUninstall, then the record file. Raises ERegistryException for
    // refused registry writes and the stream/INI errors when the record
    // cannot be written.
    void WriteUninstallInfo(const std::string& recordFileName);
    // The command that uninstalls an earlier installation of productName:
    // its SilentUninstall value, else its UninstallString, else empty.
    // Never raises for a missing key or value.
    std::string GetUninstallCommand(const std::string& productName);
};
