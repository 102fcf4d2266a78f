// The uninstall record and the product's entry in the list of installed programs.
#include "ovUninstInt.h"

#include "ovRegistry.h"
#include "ovUtils.h"
#include "sxUninstRules.h"

#include <memory>

namespace {

// Counts the shared uninstaller for this product, once: the product's key
// (open in reg) remembers the path it counted.
void CountSharedUninstaller(TRegistry& reg, const std::string& path, bool fileExisted)
{
    bool counted = false;
    try {
        counted = reg.ValueExists(SharedCountMarker) && SameText(reg.ReadString(SharedCountMarker), path);
    } catch (const ERegistryException&) {
        counted = false;
    }
    TRegistry shared;
    shared.RootKey = HKEY_LOCAL_MACHINE;
    if (!shared.OpenKey(SharedDLLsKey, true))
        throw ERegistryException(FormatText("Failed to set data for '%s'", path.c_str()));
    bool exists = shared.ValueExists(path);
    uint32_t count = 0;
    try {
        count = static_cast<uint32_t>(shared.ReadInteger(path, 0));
    } catch (const ERegistryException&) {
        // Not a count (damaged): start over from this product.
        exists = false;
    }
    shared.WriteInteger(path, static_cast<int32_t>(RaiseSharedCount(exists, count, counted, fileExisted)));
    shared.CloseKey();
    reg.WriteString(SharedCountMarker, path);
}

}  // namespace

void TUninstallINF::RegisterUninstall(const std::string& recordFileName)
{
    if (ProgramName.empty())
        return;
    TRegistry reg;
    reg.RootKey = HKEY_LOCAL_MACHINE;
    std::string keyPath = std::string(UninstallKeyPath) + ProgramName;
    UninstallKey = "HKEY_LOCAL_MACHINE\\" + keyPath;

    std::string uninstaller = QuoteIfSpaced(ExpandMacros(UninstallerPath));
    std::string record = QuoteIfSpaced(recordFileName);
    std::string silent = uninstaller + " " + "/silent" + " " + record;

    // A key that cannot be opened makes its first write fail.
    if (!reg.OpenKey(keyPath, true))
        throw ERegistryException(FormatText("Failed to set data for '%s'", "DisplayName"));
    reg.WriteString("DisplayName", ProgramName);
    reg.WriteString("UninstallString", uninstaller + " " + record);
    reg.WriteString("SilentUninstall", silent);
    // The values that deployment tools and the system's list of programs read.
    reg.WriteString("QuietUninstallString", silent);
    if (!InstallLocation.empty())
        reg.WriteString("InstallLocation", InstallLocation);
    // The list of programs reads DisplayIcon as a path: folder macros are
    // resolved here, while the "Uninstall Icons" value keeps the text as given.
    if (!IconFile.empty())
        reg.WriteString("DisplayIcon", ExpandMacros(IconFile));
    reg.WriteInteger("EstimatedSize", static_cast<int32_t>(KibibytesOf(EstimatedBytes)));
    if (!DisplayVersion.empty())
        reg.WriteString("DisplayVersion", DisplayVersion);
    if (!Publisher.empty())
        reg.WriteString("Publisher", Publisher);
    if (!URLInfoAbout.empty())
        reg.WriteString("URLInfoAbout", URLInfoAbout);
    if (!SharedUninstaller.empty())
        CountSharedUninstaller(reg, SharedUninstaller, SharedUninstallerExisted);
    reg.WriteInteger("NoModify", 1);
    reg.WriteInteger("NoRepair", 1);
    reg.CloseKey();

    // Without an icon there is nothing to write: a key that cannot be opened
    // is then no failure.
    bool iconsOpen = reg.OpenKey(UninstallIconsKey, true);
    if (!IconFile.empty()) {
        if (!iconsOpen)
            throw ERegistryException(FormatText("Failed to set data for '%s'", ProgramName.c_str()));
        reg.WriteString(ProgramName, IconFile);
    }
    reg.CloseKey();
}

void TUninstallINF::WriteUninstallInfo(const std::string& recordFileName)
{
    RegisterUninstall(recordFileName);
    if (!Files.empty())
        ReplaceIniSection(recordFileName, "Files", Files);
    if (!Folders.empty()) {
        // Installed again over itself: the folders the earlier run made
        // existed for this one, and are still the product's to remove.
        std::vector<std::string> earlier;
        try {
            earlier = SectionLines(SplitLines(LoadStringFromFile(recordFileName)), "Folders");
        } catch (const Exception&) {
            earlier.clear();  // no earlier record
        }
        ReplaceIniSection(recordFileName, "Folders", MergeRecordedFolders(earlier, Folders));
    }

    auto ini = std::make_unique<TIniFile>(recordFileName);
    // The system caches INI files: flush whatever was written, also when a
    // write fails half way.
    struct TFlush {
        std::unique_ptr<TIniFile>& Ini;
        ~TFlush() { FlushIniFile(Ini); }
    } flush{ini};

    ini->WriteString("General", "ProgramName", ProgramName);
    ini->WriteString("General", "AfterUninstall", AfterUninstall);
    ini->WriteString("General", "AfterUninstallParamString", AfterUninstallParamString);
    for (const auto& key : RegistryKeys)
        ini->WriteString("Registry", key, "*");
    for (const auto& item : RegistryValues) {
        // name = the text before the first "="; its value is that of the
        // first item recorded under the same key path.
        // Names compare without regard to letter case, as the INI entries
        // they become do.
        std::string name = item.substr(0, item.find('='));
        std::string value;
        for (const auto& first : RegistryValues) {
            if (SameText(first.substr(0, first.find('=')), name)) {
                size_t eq = first.find('=');
                value = eq == std::string::npos ? std::string() : first.substr(eq + 1);
                break;
            }
        }
        ini->WriteString("Registry", name, value);
    }
    // Without a product name nothing was registered: an entry with an empty
    // name would only point an uninstaller at the whole Uninstall key.
    if (!UninstallKey.empty())
        ini->WriteString("UninstallKey", UninstallKey, "*");
}

std::string TUninstallINF::GetUninstallCommand(const std::string& productName)
{
    if (productName.empty())
        return std::string();
    TRegistryEx reg;
    reg.RootKey = HKEY_LOCAL_MACHINE;
    // Reading needs read access only: an installation registered by an
    // administrator is found by a user who may not write the key.
    if (!reg.OpenKeyReadOnly(std::string(UninstallKeyPath) + productName))
        return std::string();
    std::string command;
    try {
        if (reg.ValueExists("SilentUninstall"))
            command = reg.ReadString("SilentUninstall");
        else if (reg.ValueExists("UninstallString"))
            command = reg.ReadString("UninstallString");
    } catch (const ERegistryException&) {
        // A value of another type is no command.
        command.clear();
    }
    reg.CloseKey();
    return command;
}
