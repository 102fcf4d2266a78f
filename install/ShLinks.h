// Shell links (".lnk" files) through the shell's link object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Description of one link. A default record means: no arguments, no working
// folder, no comment, no icon, no hot key.
struct TShellLinkInfo {
    std::string Path;              // the link's target
    std::string Arguments;         // command-line arguments for the target
    std::string WorkingDirectory;  // folder in which the target starts
    std::string Description;       // the link's comment
    std::string IconLocation;      // file holding the icon
    int32_t IconIndex = 0;         // icon index in that file
    uint16_t HotKey = 0;           // virtual key in the low byte, modifiers in the high byte
};

// CSIDL numbers of the special folders the setup script uses.
enum {
    slDesktop = 0,     // CSIDL_DESKTOP
    slPrograms = 2,    // CSIDL_PROGRAMS
    slSendTo = 9,      // CSIDL_SENDTO
    slStartMenu = 11,  // CSIDL_STARTMENU
};

// Creates the link file linkName (which may hold subfolders and should carry
// its extension) in folder, or, when folder is empty, in the special folder
// specialFolder (a CSIDL number). Missing folders are created and added to
// createdFolders when given (outermost first); they stay when the link fails.
// Returns true and sets linkPath to the link file's full path when the link
// was written; otherwise false with linkPath empty.
bool CreateShellLinkEx(const std::string& linkName, const std::string& folder, int specialFolder,
                       const TShellLinkInfo& info, std::string& linkPath,
                       std::vector<std::string>* createdFolders);
// The same without the path result and the folder list.
bool CreateShellLink(const std::string& linkName, const std::string& folder, int specialFolder,
                     const TShellLinkInfo& info);
