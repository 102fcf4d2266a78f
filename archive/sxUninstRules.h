// The rules of installing and removing a product cleanly, as plain functions
// (no system calls): which folders a run creates, which keys an uninstall may
// remove, how the shared uninstaller is counted and what the product's entry
// in the list of installed programs shows. The setup and the uninstaller
// apply them; the host tests check them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Key paths below HKEY_LOCAL_MACHINE (the uninstaller reads them without
// the code that writes the entry).
extern const char* const UninstallKeyPath;   // "Software\Microsoft\Windows\CurrentVersion\Uninstall\"
extern const char* const UninstallIconsKey;  // "Software\Orvale Systems\Uninstall Icons"
// Where the uninstaller is expected, before macro expansion.
extern const char* const UninstallerPath;    // "<CommonFilesDir>\Orvale Systems\ovUninst.exe"

// The folders that creating `folder` ("X:\..." or "\\server\share\...")
// would make: the folder and each missing parent, outermost first, as
// `exists` answers for each level. False for a path of no such form (a
// relative name, a bare server or share) or with a wildcard.
bool MissingFolders(const std::string& folder, const std::function<bool(const std::string&)>& exists,
                    std::vector<std::string>& missing);

// Keys (below a root) that an uninstall never removes as a whole, even when
// the record names them: the shared keys that other products' entries live
// under. The empty path (the root itself) is one of them.
bool IsProtectedKey(const std::string& subPath);
// Of the protected keys, those that setups of the maker create (its own keys
// and the shared files' counts): they go once they are empty (no values, no
// subkeys) after the product's entries are removed. The system's structure
// keys ("Software", "Software\Microsoft", ...) never go.
bool MayRemoveWhenEmpty(const std::string& subPath);
// The maker's keys at or above subPath (protected, yet removable once
// empty), innermost first: after an uninstall they are tried once more, so
// that the last product to go takes the maker's key with it, whichever
// product created it.
std::vector<std::string> MakerKeysAtOrAbove(const std::string& subPath);

// The lines of [section] (header found without regard to case) of a
// record's text, blanks around them dropped, empty lines passed over.
std::vector<std::string> SectionLines(const std::vector<std::string>& text, const std::string& section);
// The folders to record when a product is installed again over an earlier
// record of its own: the earlier folders (the earlier run made them; this run
// found them existing) and then this run's, each once (compared without
// regard to case). Outermost first still holds: this run made its folders
// after the earlier ones existed.
std::vector<std::string> MergeRecordedFolders(const std::vector<std::string>& earlier,
                                              const std::vector<std::string>& now);

// The shared uninstaller is counted as the system counts shared files: one
// DWORD per full path under SharedDLLsKey, raised once per product that
// carries it. The product's own key remembers that it raised the count
// (value SharedCountMarker = the counted path), so a reinstall over itself
// does not raise it twice, and its uninstall lowers it once.
extern const char* const SharedDLLsKey;       // "Software\Microsoft\Windows\CurrentVersion\SharedDLLs"
extern const char* const SharedCountMarker;   // "SharedUninstaller"

// The count after an install: `exists` and `count` describe the value as
// found, `counted` tells that this product raised it before, `fileExisted`
// that the file was there before this run. A file found without a count has
// an owner nobody counted: it is counted too (the count starts at 2), so
// that this product's uninstall does not take the file from under it.
uint32_t RaiseSharedCount(bool exists, uint32_t count, bool counted, bool fileExisted);

struct TSharedRelease {
    bool Change = false;    // write Count (or remove the value at zero)
    uint32_t Count = 0;     // the new count
    bool RemoveFile = false;  // the last product is gone: remove the file too
};
// The count after this product's uninstall. A product that never raised it
// leaves it alone; so does one that finds no value (it was removed by hand,
// the file's owner is unknown).
TSharedRelease LowerSharedCount(bool exists, uint32_t count, bool counted);

// Does an extracted file count towards the product's EstimatedSize? Files of
// the temporary folder are deleted at the end of the run, and the shared
// uninstaller belongs to every product of the maker: neither counts.
bool CountsTowardsSize(int folderIndex, int tempFolderIndex, const std::string& path,
                       const std::string& sharedUninstaller);
// KiB for the EstimatedSize value, rounded up and kept within a DWORD.
uint32_t KibibytesOf(int64_t bytes);

// The values of the product's entry that come from the setup's version
// information ("ProductVersion" -> DisplayVersion, "CompanyName" ->
// Publisher, "URLInfoAbout" -> URLInfoAbout). Empty when the information is
// missing, or when it is the setup program's own (the project gave no
// version information: see IsStubVersionInfo).
struct TEntryVersion {
    std::string DisplayVersion;
    std::string Publisher;
    std::string URLInfoAbout;
};
using TVersionStrings = std::vector<std::pair<std::string, std::string>>;
TEntryVersion EntryValuesFromVersion(const TVersionStrings& strings);
// True for the setup program's own, untouched texts (FileDescription "Setup",
// InternalName "setup"): they describe the setup program, not the product.
bool IsStubVersionInfo(const TVersionStrings& strings);
